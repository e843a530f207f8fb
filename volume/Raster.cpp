// Raster: construction, conversions, intensities, smoothing and rectangles.
#include "volume/Raster.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/Conversions.h"
#include "volume/RasterPixels.h"

namespace {

template <class Out, class In, class F>
void ConvertEach(Matrix<Out>& out, const Matrix<In>& in, F convert) {
  out.SetSize(in.rows, in.cols);
  if (out.data == nullptr || in.data == nullptr) return;
  const int64_t n = static_cast<int64_t>(in.rows) * in.cols;
  for (int64_t i = 0; i < n; ++i) out.data[i] = convert(in.data[i]);
}

// Extents of a result: a negative sum gives 0.
int Extent(int64_t n) { return n < 0 ? 0 : static_cast<int>(std::min<int64_t>(n, INT32_MAX)); }

// (v - lo) / (hi - lo) * 255.0 truncated, the differences formed in the pixel's own
// arithmetic (int for bytes) and the quotient in double.
template <class T>
unsigned char ScaleTo255(T v, T lo, T hi) {
  if constexpr (std::is_same_v<T, unsigned char>) {
    return PixelFromDouble<unsigned char>((int(v) - int(lo)) / static_cast<double>(int(hi) - int(lo)) * 255.0);
  } else {
    return PixelFromDouble<unsigned char>(static_cast<double>(v - lo) / static_cast<double>(hi - lo) * 255.0);
  }
}

template <class T>
bool SameMatrix(const Matrix<T>& a, const Matrix<T>& b) {
  return &a == &b;
}

}  // namespace

void ConvertMatrix(Matrix<unsigned char>& out, const Matrix<unsigned char>& in) {
  if (&out != &in) out = in;
}
void ConvertMatrix(Matrix<float>& out, const Matrix<float>& in) {
  if (&out != &in) out = in;
}
void ConvertMatrix(Matrix<float>& out, const Matrix<unsigned char>& in) {
  ConvertEach(out, in, [](unsigned char v) { return static_cast<float>(v); });
}
void ConvertMatrix(Matrix<unsigned char>& out, const Matrix<float>& in) {
  ConvertEach(out, in, [](float v) { return DoubleToLowByte(v); });
}

template <class T>
Raster<unsigned char> Raster<T>::Window(T lo, T hi) const {
  Raster<T> clamped;
  ConvertMatrix(clamped, *this);
  Raster<unsigned char> result(rows, cols);
  if (clamped.data == nullptr || lo == hi) return result;
  const int64_t n = static_cast<int64_t>(rows) * cols;
  for (int64_t i = 0; i < n; ++i) {
    T v = clamped.data[i];
    if (v < lo) {
      v = lo;
    } else if (v > hi) {
      v = hi;
    }
    result.data[i] = ScaleTo255<T>(v, lo, hi);
  }
  return result;
}

template <class T>
Raster<unsigned char> Raster<T>::Stretch(bool binary) const {
  Raster<unsigned char> result(rows, cols);
  if (data == nullptr) return result;
  const T mn = this->Min();
  const T mx = this->Max();
  if (mn == mx) return result;  // a constant image stays all zeros
  const int64_t n = static_cast<int64_t>(rows) * cols;
  for (int64_t i = 0; i < n; ++i) {
    if (binary) {
      result.data[i] = data[i] != T(0) ? 255 : 0;
    } else {
      result.data[i] = ScaleTo255<T>(data[i], mn, mx);
    }
  }
  return result;
}

template <class T>
Raster<T> Raster<T>::Pad(T value, int top, int bottom, int left, int right) const {
  Raster<T> result(Extent(int64_t(rows) + top + bottom), Extent(int64_t(cols) + left + right));
  result.Fill(value);
  PutSubImage(0, cols - 1, 0, rows - 1, result, left, left + cols - 1, top, top + rows - 1);
  return result;
}

template <class T>
void Raster<T>::GaussianSmooth(double sigma, int order) {
  Matrix<float> image;
  ConvertMatrix(image, *this);
  Matrix<float> kernel;
  kernel.GaussianDerivativeFilter(2, sigma, order, 3.0);
  kernel.RemoveMean();
  ConvertMatrix(*this, image.Convolve2D(kernel));
}

template <class T>
void Raster<T>::GaussianSmoothExtent(double sigma, int order, double extent) {
  Matrix<float> image;
  ConvertMatrix(image, *this);
  Matrix<float> kernel;
  kernel.GaussianDerivativeFilter(2, sigma, order, extent);
  ConvertMatrix(*this, image.Convolve2D(kernel));
}

template <class T>
void Raster<T>::GetSubImage(int colStart, int colEnd, int rowStart, int rowEnd, Matrix<T>& out) const {
  if (SameMatrix<T>(out, *this)) {
    Matrix<T> copy;
    GetSubImage(colStart, colEnd, rowStart, rowEnd, copy);
    out = std::move(copy);
    return;
  }
  const int outRows = Extent(int64_t(rowEnd) - rowStart + 1);
  const int outCols = Extent(int64_t(colEnd) - colStart + 1);
  out.SetSize(outRows, outCols);
  if (out.data == nullptr) return;
  const bool inside = rowStart >= 0 && colStart >= 0 && rowEnd < rows && colEnd < cols;
  if (!inside) out.Fill(T(0));
  // The rows and columns of the rectangle that lie inside the image.
  const int r0 = std::max(rowStart, 0), r1 = std::min(rowEnd, rows - 1);
  const int c0 = std::max(colStart, 0), c1 = std::min(colEnd, cols - 1);
  for (int r = r0; r <= r1; ++r)
    std::copy(rowTable[r] + c0, rowTable[r] + c1 + 1, out.rowTable[r - rowStart] + (c0 - colStart));
}

template <class T>
void Raster<T>::PutSubImage(int colStart, int colEnd, int rowStart, int rowEnd, Matrix<T>& target,
                            int targetColStart, int /*targetColEnd*/, int targetRowStart,
                            int /*targetRowEnd*/) const {
  if (target.data == nullptr || data == nullptr) return;
  if (SameMatrix<T>(target, *this)) {
    const Raster<T> copy(*this);
    copy.PutSubImage(colStart, colEnd, rowStart, rowEnd, target, targetColStart, 0, targetRowStart, 0);
    return;
  }
  // Clip the source rectangle to both this image and the target.
  const int64_t rowShift = int64_t(targetRowStart) - rowStart;
  const int64_t colShift = int64_t(targetColStart) - colStart;
  const int64_t r0 = std::max<int64_t>({rowStart, 0, -rowShift});
  const int64_t r1 = std::min<int64_t>({rowEnd, rows - 1, target.rows - 1 - rowShift});
  const int64_t c0 = std::max<int64_t>({colStart, 0, -colShift});
  const int64_t c1 = std::min<int64_t>({colEnd, cols - 1, target.cols - 1 - colShift});
  if (c0 > c1) return;
  for (int64_t r = r0; r <= r1; ++r)
    std::copy(rowTable[r] + c0, rowTable[r] + c1 + 1, target.rowTable[r + rowShift] + (c0 + colShift));
}

template class Raster<unsigned char>;
template class Raster<float>;
