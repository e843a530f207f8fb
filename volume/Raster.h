#pragma once
// Raster<T>: the 2-D image of the program, for T = unsigned char (grey and label
// images) and float. It is a Matrix<T> with image operations and adds no field:
// pixel (r, c) is element [r][c] of the matrix, r counting rows from the top and c
// columns from the left (rowTable[r][c], or data[r * cols + c]).
//
// Conventions of every operation below:
//   - Loops run row-major, and an operation that changes the image in place sees its
//     own earlier changes.
//   - "Truncated" is rounded toward zero to a 32-bit integer (TruncToInt32). Window,
//     Stretch, Resample, Rotate and MeanAlongPoints clamp a result to 0 .. 255 before
//     storing it into a byte pixel, so it never wraps around; the smoothing filters
//     store through ConvertMatrix (the low byte).
//   - Operations that return an image create it afresh; the caller owns it.
//   - Labels: pixel values used as labels index tables of 2000 entries, so they must
//     lie in 0 .. 1999.
//   - Out-of-image rectangles are clipped (see GetSubImage / PutSubImage); drawing
//     never writes outside the image; points of a list outside the image are skipped.
//
// Files (ImageFiles.cpp): ReadPpm / WritePpm read and write the portable pixmap
// family (layout in ImageFiles.h); SaveGreyImage writes 8-bit grey images through
// FreeImage.
#include <cstdint>

#include "numerics/Matrix.h"
#include "numerics/Point2D.h"
#include "numerics/SimpleMatrix.h"
#include "numerics/VectorQo.h"
#include "volume/ImageRect.h"
#include "volume/PointList2D.h"

template <class T>
class Raster : public Matrix<T> {
 public:
  using Matrix<T>::rows;
  using Matrix<T>::cols;
  using Matrix<T>::rowTable;
  using Matrix<T>::data;
  using Matrix<T>::Rotate;  // the matrix's own resampling rotation stays reachable

  // The empty image (0 x 0).
  Raster() = default;
  // rows x cols zero pixels (Matrix<T>::SetSize).
  Raster(int rows, int cols) { Matrix<T>::SetSize(rows, cols); }
  Raster(const Raster&) = default;
  Raster(Raster&&) noexcept = default;
  Raster& operator=(const Raster&) = default;
  Raster& operator=(Raster&&) noexcept = default;
  // The matrix assignment: extents and pixels of `m`.
  Raster& operator=(const Matrix<T>& m) {
    Matrix<T>::operator=(m);
    return *this;
  }
  ~Raster() override = default;

  // Every pixel 0.
  void SetZero() override { this->Fill(T(0)); }

  // ---- intensities (Raster.cpp) ----
  // A byte image of the same size: each pixel clamped to lo .. hi, then
  // (v - lo) / (hi - lo) * 255.0, truncated (quotient in double first; a pixel below
  // lo gives 0, above hi 255). With lo equal to hi every pixel is 0.
  virtual Raster<unsigned char> Window(T lo, T hi) const;
  // A byte image of the same size: (v - Min) / (Max - Min) * 255.0 truncated, or with
  // `binary` 255 for every non-zero pixel and 0 elsewhere. A constant image gives
  // all zeros.
  virtual Raster<unsigned char> Stretch(bool binary) const;
  // A new image of (rows + top + bottom) x (cols + left + right) pixels filled with
  // `value`, this image copied in with its top-left pixel at (top, left). Negative
  // margins crop (the copy is clipped).
  virtual Raster<T> Pad(T value, int top, int bottom, int left, int right) const;
  // Convolves (zero outside) with the 2-D Gaussian derivative kernel of `order`
  // (GaussianDerivativeFilter, half-width 3 sigma) after removing the kernel's mean.
  // A byte image is filtered through a float copy (its own kernel type could not
  // hold Gaussian values) and stored back truncated to the low byte.
  virtual void GaussianSmooth(double sigma, int order);
  // The same through a float copy, with half-width extent * sigma and the kernel's
  // mean kept; stored back truncated (the low byte for byte images).
  virtual void GaussianSmoothExtent(double sigma, int order, double extent);

  // ---- label images (Raster_labels.cpp) ----
  // Breaks contacts that run only through a diagonal: for every pixel p = (r, c) with
  // a row below, the pixel (r+1, c) takes p's value when (r+1, c-1), respectively
  // (r+1, c+1), equals p, (r+1, c) and (r, c-1), respectively (r, c+1), differ from p,
  // and IsDiagonallyConnected(r+1, c) is false.
  virtual void CleanBoundary();
  // CleanBoundary, then passes until nothing changes: the largest 4-connected
  // component of every value keeps it (ties: the first root in row-major order);
  // every other component takes a new label above the largest value or, with
  // mergeSmall and fewer than 900 pixels, the value of the first edge neighbour
  // (around its root pixel, else around its pixels in row-major order) that lies in a
  // kept component of another value; without one it waits for the next pass. When
  // labelMap is given it becomes 2000 entries of -1 and entry n receives the old value
  // of the component that got the new label n (n < 2000). Returns the largest value
  // of the result, or 2001 when a value lies outside 0 .. 1999 or a new label does
  // not fit in T (a byte image past 255); changes made before that stay. A pass that
  // changes no pixel ends the passes.
  virtual int MakeLabelsConnected(bool mergeSmall, VectorQo<short>* labelMap);
  // Numbers the 4-connected components of positive pixels 1, 2, ... (in row-major
  // order of their first pixels) and merges every component of fewer than minSize
  // pixels into the first adjacent one (right and lower contacts, both ways) that
  // still counts; then renumbers the remaining ones 1 .. K. With at most minSize
  // positive pixels in all, every positive pixel becomes 1. Returns the number of
  // components kept (0 or 1 without merging when there is at most one). Component
  // numbers above 255 are stored as 255 in a byte image.
  virtual int KeepMainComponent(short minSize);
  // Renumbers the distinct values at or above `level` (float truncated) to 1, 2, ...
  // in increasing order; returns their number (0, and no change, when there is none).
  // A byte image stores numbers above 255 as 255.
  virtual int RangeAtOrAbove(int level);
  // True when no edge neighbour but at least two diagonal neighbours equal the pixel;
  // false outside the image.
  virtual bool IsDiagonallyConnected(int row, int col) const;
  // Union-find over 4-connected pixels of equal value, sized to the image:
  //   link: at a non-root pixel row * cols + column of a pixel nearer its root; at a
  //         root -rank (-1 for a pixel never joined).
  //   size: at a root the pixel count of its component, 0 elsewhere.
  // A join through the pixel above links straight to its root and raises that rank to
  // at least 2; a join through the pixel to the left hangs the lower-ranked root under
  // the other (on equal ranks the left neighbour's root wins). No path compression.
  // Returns the largest value (float truncated), -1 for an image without pixels.
  virtual int ConnectedComponents(Matrix<int>& link, Matrix<int>& size) const;
  // Follows `link` from (row, col) to the root; returns the root's (negative) entry.
  // Reads only `link`.
  virtual int FindRoot(const Matrix<int>& link, int row, int col, int& rootRow, int& rootCol) const;

  // ---- files (ImageFiles.cpp) ----
  // Replaces the image by a portable pixmap of type 2, 3, 5 or 6 (colour pixels become
  // the integer mean of their three samples). A file that does not open, a bad header,
  // another type or a short body print one line on the error stream naming the file
  // and return false with the image unchanged.
  virtual bool ReadPpm(const char* fileName);
  // Writes a portable pixmap of the given type (2, 3, 5, 6; any other type writes the
  // header alone). Float pixels are truncated, bytes keep the low 8 bits. False, with
  // a line on the error stream, when the file does not open or a write fails.
  virtual bool WritePpm(const char* fileName, int type) const;

  // ---- rectangles (Raster.cpp) ----
  // out := pixels rowStart .. rowEnd x colStart .. colEnd (inclusive), out sized to
  // the rectangle. Pixels of the rectangle outside the image give 0.
  virtual void GetSubImage(int colStart, int colEnd, int rowStart, int rowEnd, Matrix<T>& out) const;
  // target[targetRowStart + r - rowStart][targetColStart + c - colStart] := pixel (r, c)
  // for the rectangle; the two target end values are not used and target is not
  // resized. Pixels whose source or target lies outside are skipped.
  virtual void PutSubImage(int colStart, int colEnd, int rowStart, int rowEnd, Matrix<T>& target,
                           int targetColStart, int targetColEnd, int targetRowStart, int targetRowEnd) const;

  // ---- resampling, rotation and crops (Raster_resample.cpp) ----
  // out sized to truncated(rows * rowFactor) x truncated(cols * colFactor) (float
  // products; negative sizes give 0), then Resample(out, mode).
  virtual void Scale(Matrix<T>& out, float rowFactor, float colFactor, int mode) const;
  // Fills out (sized by the caller) from this image: mode 0 bilinear, mode 1 cubic
  // B-spline (terms outside the image dropped, weights not renormalised), any other
  // mode nothing. Out pixel (i, j) samples source position ((i + 0.5) * rows / out.rows
  // - 0.5, (j + 0.5) * cols / out.cols - 0.5), whose integer part is truncated toward
  // zero. Nothing is written when either image has fewer than 2 pixels.
  virtual void Resample(Matrix<T>& out, char mode) const;
  // The image turned by `angle` radians about its centre into an out image just large
  // enough for the turned pixel area, bilinear; out pixels whose source lies outside
  // hold the image mean. An angle of exactly 0 copies the image (and the point map).
  // When both point maps are given, outPoints receives the turned position in out of
  // every point of inPoints (x a row, y a column coordinate).
  virtual void Rotate(Raster<T>& out, double angle, SimpleMatrix<Point2D<double>>* outPoints,
                      const SimpleMatrix<Point2D<double>>* inPoints) const;
  // Rotate, then CropCenter back to this image's extents; the point map holds
  // positions in the uncropped turned image.
  virtual void RotateAndCrop(Raster<T>& out, double angle, SimpleMatrix<Point2D<double>>* outPoints,
                             const SimpleMatrix<Point2D<double>>* inPoints) const;
  // The centred outRows x outCols window (for an odd difference of extents the window
  // sits one pixel lower / further right than the even split). A window larger than
  // the image is padded with 0.
  virtual void CropCenter(Raster<T>& out, int outRows, int outCols) const;
  // The window centreRow - (outRows - 1) / 2 .. centreRow + outRows / 2 (columns
  // likewise). When it does not lie inside, "Cannot crop: out of bounds. " and a line
  // of the extents and window bounds go to standard output and out stays sized but
  // unwritten.
  virtual void CropAround(Raster<T>& out, int outRows, int outCols, int centreRow, int centreCol) const;

  // ---- drawing and point lists (Raster_draw.cpp) ----
  // DrawRectangle(rect grown by k on every side) for k = 1, 2, 3; the rectangle's own
  // outline is left as it is.
  virtual void DrawThickRectangle(const ImageRect& rect, T value);
  // The outline: rows rowStart and rowEnd over the columns, then columns colStart and
  // colEnd over the rows, clipped to the image.
  virtual void DrawRectangle(const ImageRect& rect, T value);
  virtual void FillRectangle(const ImageRect& rect, T value);
  // Points at angles 0, step, 2 step, ... below 2 pi with step = 2 pi / (50 * radius):
  // row truncated(cos * radius + centreRow + 0.5), column truncated(sin * radius +
  // centreCol + 0.5). Radius 0 sets the centre pixel; a negative radius draws nothing.
  virtual void DrawCircle(int radius, double centreRow, double centreCol, T value);
  // FillDisc of radius m / 2 centred at (m / 2 - 0.5, m / 2 - 0.5), m = min(rows, cols).
  virtual void DrawCenteredCircle(T value);
  // Every pixel (i, j) with (j - centreCol)^2 + (i - centreRow)^2 < radius^2.
  virtual void FillDisc(double radius, double centreRow, double centreCol, T value);
  // power 1: the mean of the pixels at the points; otherwise the signed power-th root
  // of the mean power-th central moment (negative powers use reciprocals). Float
  // images compute in float; byte images sum in 64-bit integers (so the sums do not
  // wrap), take the mean by integer division and truncate every power term. An empty
  // list gives 0.
  virtual T MeanAlongPoints(const PointList2D& points, short power) const;
  // Clears `points`, then ErodeOnce up to `times` times, stopping after the first call
  // that peels nothing; returns the number of calls that peeled something.
  virtual int Erode(PointList2D& points, int times);
  // Sets to 0 every positive pixel on the image border or with an edge neighbour that
  // differs from its own value truncated; appends those of them left without any
  // non-zero edge neighbour; returns how many pixels were set to 0.
  virtual int ErodeOnce(PointList2D& points);
};

extern template class Raster<unsigned char>;
extern template class Raster<float>;

// out := in, element by element, out taking in's extents: bytes and floats copied,
// bytes to floats by value, floats to bytes truncated to the low byte.
void ConvertMatrix(Matrix<unsigned char>& out, const Matrix<unsigned char>& in);
void ConvertMatrix(Matrix<float>& out, const Matrix<float>& in);
void ConvertMatrix(Matrix<float>& out, const Matrix<unsigned char>& in);
void ConvertMatrix(Matrix<unsigned char>& out, const Matrix<float>& in);

// The cubic B-spline kernel ((x+2)+^3 - 4 (x+1)+^3 + 6 x+^3 - 4 (x-1)+^3) / 6 with
// t+ = max(t, 0), as the resampling uses it (exact on -2 .. 2).
double CubicBSpline(double x);
// out = M * in for a 2 x 2 matrix M: out.x = M00 in.x + M01 in.y, out.y = M10 in.x + M11 in.y.
void TransformPoint2D(Point2D<double>& out, const Matrix<double>& m, const Point2D<double>& in);
