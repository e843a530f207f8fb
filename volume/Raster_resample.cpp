// Raster: resizing by interpolation, rotation about the centre, centred crops.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "platform/Conversions.h"
#include "volume/Raster.h"
#include "volume/RasterPixels.h"

namespace {

double Cube(double t) { return t > 0.0 ? t * t * t : 0.0; }

Matrix<double> RotationMatrix(double angle) {
  Matrix<double> m(2, 2);
  m.rowTable[0][0] = std::cos(angle);
  m.rowTable[0][1] = -std::sin(angle);
  m.rowTable[1][0] = std::sin(angle);
  m.rowTable[1][1] = std::cos(angle);
  return m;
}

void CopyPointMap(SimpleMatrix<Point2D<double>>& out, const SimpleMatrix<Point2D<double>>& in) {
  if (&out == &in) return;
  out.SetSize(in.rows(), in.cols());
  for (int r = 0; r < in.rows(); ++r)
    for (int c = 0; c < in.cols(); ++c) out[r][c].Set(in[r][c].X(), in[r][c].Y());
}

// An extent computed in floating point: truncated, negative sizes give 0.
int ExtentOf(double v) { return std::max(TruncToInt32(v), 0); }

}  // namespace

double CubicBSpline(double x) {
  return (Cube(x + 2.0) - 4.0 * Cube(x + 1.0) + 6.0 * Cube(x) - 4.0 * Cube(x - 1.0)) / 6.0;
}

void TransformPoint2D(Point2D<double>& out, const Matrix<double>& m, const Point2D<double>& in) {
  out.Set(m.rowTable[0][0] * in.X() + m.rowTable[0][1] * in.Y(), m.rowTable[1][0] * in.X() + m.rowTable[1][1] * in.Y());
}

template <class T>
void Raster<T>::Scale(Matrix<T>& out, float rowFactor, float colFactor, int mode) const {
  if (&out == this) {
    Matrix<T> scaled;
    Scale(scaled, rowFactor, colFactor, mode);
    out = std::move(scaled);
    return;
  }
  out.SetSize(ExtentOf(static_cast<float>(rows) * rowFactor), ExtentOf(static_cast<float>(cols) * colFactor));
  Resample(out, static_cast<char>(mode));
}

template <class T>
void Raster<T>::Resample(Matrix<T>& out, char mode) const {
  if (rows < 1 || cols < 1 || out.rows < 1 || out.cols < 1) return;
  if (int64_t(rows) * cols < 2 || int64_t(out.rows) * out.cols < 2) return;
  if (mode != 0 && mode != 1) return;
  if (&out == this) {
    Matrix<T> resampled(out.rows, out.cols);
    Resample(resampled, mode);
    out = std::move(resampled);
    return;
  }
  const double sy = static_cast<double>(rows) / out.rows;
  const double sx = static_cast<double>(cols) / out.cols;
  for (int i = 0; i < out.rows; ++i) {
    const double y = (i + 0.5) * sy - 0.5;
    const int y0 = TruncToInt32(y);  // toward zero: -0.25 gives 0 and fy = -0.25
    const double fy = y - y0;
    for (int j = 0; j < out.cols; ++j) {
      const double x = (j + 0.5) * sx - 0.5;
      const int x0 = TruncToInt32(x);
      const double fx = x - x0;
      double value = 0.0;
      if (mode == 0) {
        const int y1 = std::min(TruncToInt32(y + 1.0), rows - 1);
        const int x1 = std::min(TruncToInt32(x + 1.0), cols - 1);
        const double a = rowTable[y0][x0], b = rowTable[y0][x1];
        const double c = rowTable[y1][x0], d = rowTable[y1][x1];
        value = fx * fy * (d - b - c + a) + (b - a) * fx + (c - a) * fy + a;
      } else {
        for (int m = -1; m <= 2; ++m) {
          const int r = y0 + m;
          if (r < 0 || r >= rows) continue;
          for (int n = -1; n <= 2; ++n) {
            const int c = x0 + n;
            if (c < 0 || c >= cols) continue;
            value += CubicBSpline(fx - n) * CubicBSpline(m - fy) * rowTable[r][c];
          }
        }
      }
      out.rowTable[i][j] = PixelFromDouble<T>(value);
    }
  }
}

template <class T>
void Raster<T>::Rotate(Raster<T>& out, double angle, SimpleMatrix<Point2D<double>>* outPoints,
                       const SimpleMatrix<Point2D<double>>* inPoints) const {
  if (angle == 0.0 || data == nullptr) {
    if (outPoints && inPoints) CopyPointMap(*outPoints, *inPoints);
    if (&out != this) out = *this;
    return;
  }
  if (&out == this) {
    Raster<T> turned;
    Rotate(turned, angle, outPoints, inPoints);
    out = std::move(turned);
    return;
  }
  const int64_t count = int64_t(rows) * cols;
  double sum = 0.0;  // in double, so that byte sums do not wrap
  for (int64_t i = 0; i < count; ++i) sum += data[i];
  const double mean = sum / static_cast<double>(count);
  const double cy = (rows - 1) * 0.5, cx = (cols - 1) * 0.5;
  const Matrix<double> turn = RotationMatrix(angle);

  // Extents of the turned pixel area, from its four outer corners.
  double minRow = 1e10, maxRow = -1e10, minCol = 1e10, maxCol = -1e10;
  const double cornerRow[4] = {-0.5, -0.5, rows - 0.5, rows - 0.5};
  const double cornerCol[4] = {-0.5, cols - 0.5, -0.5, cols - 0.5};
  for (int k = 0; k < 4; ++k) {
    Point2D<double> p;
    TransformPoint2D(p, turn, Point2D<double>(cornerRow[k] - cy, cornerCol[k] - cx));
    minRow = std::min(minRow, p.X());
    maxRow = std::max(maxRow, p.X());
    minCol = std::min(minCol, p.Y());
    maxCol = std::max(maxCol, p.Y());
  }
  // Corners that land on whole numbers would add a row or column of nothing.
  if (maxRow - std::floor(maxRow) < 0.0001 && minRow - std::floor(minRow) < 0.0001) minRow += 1.0;
  if (maxCol - std::floor(maxCol) < 0.0001 && minCol - std::floor(minCol) < 0.0001) minCol += 1.0;
  out.SetSize(ExtentOf(maxRow - minRow + 1.0), ExtentOf(maxCol - minCol + 1.0));
  out.Fill(PixelFromDouble<T>(mean));

  const double oy = (out.rows - 1) * 0.5, ox = (out.cols - 1) * 0.5;
  const Matrix<double> back = RotationMatrix(-angle);
  for (int i = 0; i < out.rows; ++i)
    for (int j = 0; j < out.cols; ++j) {
      Point2D<double> d;
      TransformPoint2D(d, back, Point2D<double>(i - oy, j - ox));
      const double sr = d.X() + cy, sc = d.Y() + cx;
      const int r0 = TruncToInt32(sr), c0 = TruncToInt32(sc);
      int r1 = TruncToInt32(sr + 1.0), c1 = TruncToInt32(sc + 1.0);
      if (r0 < 0 || r0 >= rows || c0 < 0 || c0 >= cols || r1 > rows || c1 > cols) continue;
      r1 = std::min(r1, rows - 1);
      c1 = std::min(c1, cols - 1);
      const double fy = sr - r0, fx = sc - c0;
      const double a = rowTable[r0][c0], b = rowTable[r0][c1];
      const double c = rowTable[r1][c0], e = rowTable[r1][c1];
      out.rowTable[i][j] = PixelFromDouble<T>(a + (b - a) * fx + (c - a) * fy + fy * (e + a - b - c) * fx);
    }

  if (outPoints && inPoints) {
    if (outPoints != inPoints) outPoints->SetSize(inPoints->rows(), inPoints->cols());
    for (int r = 0; r < inPoints->rows(); ++r)
      for (int c = 0; c < inPoints->cols(); ++c) {
        const Point2D<double>& p = (*inPoints)[r][c];
        Point2D<double> q;
        TransformPoint2D(q, turn, Point2D<double>(p.X() - cy, p.Y() - cx));
        (*outPoints)[r][c].Set(q.X() + oy, q.Y() + ox);
      }
  }
}

template <class T>
void Raster<T>::RotateAndCrop(Raster<T>& out, double angle, SimpleMatrix<Point2D<double>>* outPoints,
                              const SimpleMatrix<Point2D<double>>* inPoints) const {
  Raster<T> turned;
  Rotate(turned, angle, outPoints, inPoints);
  turned.CropCenter(out, rows, cols);
}

template <class T>
void Raster<T>::CropCenter(Raster<T>& out, int outRows, int outCols) const {
  // An odd difference of extents puts the extra pixel before the window.
  auto window = [](int extent, int outExtent, int& start, int& end) {
    const int d = extent - outExtent;
    if (outExtent % 2 == extent % 2) {
      start = d / 2;
      end = extent - d / 2 - 1;
    } else {
      start = (d + 1) / 2;
      end = extent - (d + 1) / 2;
    }
  };
  if (&out == this) {
    Raster<T> cropped;
    CropCenter(cropped, outRows, outCols);
    out = std::move(cropped);
    return;
  }
  int rowStart, rowEnd, colStart, colEnd;
  window(rows, outRows, rowStart, rowEnd);
  window(cols, outCols, colStart, colEnd);
  out.SetSize(std::max(outRows, 0), std::max(outCols, 0));
  GetSubImage(colStart, colEnd, rowStart, rowEnd, out);
}

template <class T>
void Raster<T>::CropAround(Raster<T>& out, int outRows, int outCols, int centreRow, int centreCol) const {
  const int rowStart = centreRow - (outRows - 1) / 2, rowEnd = centreRow + outRows / 2;
  const int colStart = centreCol - (outCols - 1) / 2, colEnd = centreCol + outCols / 2;
  if (&out == this) {
    Raster<T> window;
    CropAround(window, outRows, outCols, centreRow, centreCol);
    out = std::move(window);
    return;
  }
  out.SetSize(std::max(outRows, 0), std::max(outCols, 0));
  if (outRows < 1 || outCols < 1) return;
  if (rowStart >= 0 && rowEnd < rows && colStart >= 0 && colEnd < cols) {
    GetSubImage(colStart, colEnd, rowStart, rowEnd, out);
    return;
  }
  std::printf("Cannot crop: out of bounds. \n");
  std::fflush(stdout);
  std::printf(" rows: %d cols: %d row_start: %d row_end: %d col_start: %d col_end: %d\n", rows, cols, rowStart,
              rowEnd, colStart, colEnd);
  std::fflush(stdout);
}

// The resampling members are instantiated here; the rest of the class in Raster.cpp.
#define SEGMENTER_INSTANTIATE_RASTER_RESAMPLE(T)                                                            \
  template void Raster<T>::Scale(Matrix<T>&, float, float, int) const;                                      \
  template void Raster<T>::Resample(Matrix<T>&, char) const;                                                \
  template void Raster<T>::Rotate(Raster<T>&, double, SimpleMatrix<Point2D<double>>*,                      \
                                  const SimpleMatrix<Point2D<double>>*) const;                              \
  template void Raster<T>::RotateAndCrop(Raster<T>&, double, SimpleMatrix<Point2D<double>>*,               \
                                         const SimpleMatrix<Point2D<double>>*) const;                       \
  template void Raster<T>::CropCenter(Raster<T>&, int, int) const;                                          \
  template void Raster<T>::CropAround(Raster<T>&, int, int, int, int) const;

SEGMENTER_INSTANTIATE_RASTER_RESAMPLE(unsigned char)
SEGMENTER_INSTANTIATE_RASTER_RESAMPLE(float)
