// Matrix<T>: the padded 2-D Fourier transforms, the FFT convolution and the direct
// row, column and separable convolutions.
#include <cmath>
#include <utility>

#include "numerics/Matrix.h"
#include "numerics/MatrixElement.h"

int paddedExtent(int n) {
  if (n < 1) return 0;
  if (n > (1 << 30)) MatrixAllocationFailure();
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

void FourierTransformRow(Matrix<vexl_Complex>& m, int direction, int row) {
  const int n = m.cols;
  if (n < 2 || m.data == nullptr) return;
  vexl_Complex* x = m.rowTable[row];

  // Bit-reversal reordering with a bit-reversed counter j.
  int j = 0;
  for (int i = 0; i < n; ++i) {
    if (j > i) std::swap(x[i], x[j]);
    int q = n / 2;
    while (q >= 1 && j >= q) {
      j -= q;
      q /= 2;
    }
    j += q;
  }

  // Butterflies; the twiddle advances by the two-sine recurrence, not a table.
  for (int h = 1; h < n; h *= 2) {
    const double theta = direction * 6.283185307179586 / (2.0 * h);
    const double half = std::sin(theta / 2.0);
    const double c = -2.0 * half * half;
    const double s = std::sin(theta);
    vexl_Complex w(1.0, 0.0);
    for (int k = 0; k < h; ++k) {
      for (int b = k; b < n; b += 2 * h) {
        const vexl_Complex t = w * x[b + h];
        x[b + h] = x[b] - t;
        x[b] = x[b] + t;
      }
      const double wr = w.re;
      w.re = wr + (wr * c - w.im * s);
      w.im = w.im + (w.im * c + wr * s);
    }
  }
}

namespace {

// The matrix made complex on its zero-padded power-of-two grid.
template <class T>
Matrix<vexl_Complex> PaddedComplex(const Matrix<T>& m, int paddedRows, int paddedCols) {
  Matrix<vexl_Complex> grid;
  grid.SetSize(paddedRows, paddedCols);
  if (grid.data == nullptr || m.data == nullptr) return grid;
  for (int r = 0; r < m.rows; ++r) {
    for (int c = 0; c < m.cols; ++c) grid.rowTable[r][c] = MatrixElement<T>::ToComplex(m.rowTable[r][c]);
  }
  return grid;
}

// Rows, then columns (as rows of the transpose); the forward direction scales by 1/N.
Matrix<vexl_Complex> Transform2D(Matrix<vexl_Complex> grid, int direction) {
  if (grid.data == nullptr) return grid;
  for (int r = 0; r < grid.rows; ++r) FourierTransformRow(grid, direction, r);
  grid = grid.Transpose();
  for (int r = 0; r < grid.rows; ++r) FourierTransformRow(grid, direction, r);
  if (direction > 0) {
    const int n = grid.rows * grid.cols;
    for (int i = 0; i < n; ++i) {
      grid.data[i].re = grid.data[i].re / n;
      grid.data[i].im = grid.data[i].im / n;
    }
  }
  return grid.Transpose();
}

}  // namespace

template <class T>
Matrix<vexl_Complex> Matrix<T>::FFT2D() const {
  return Transform2D(PaddedComplex(*this, paddedExtent(rows), paddedExtent(cols)), +1);
}

template <class T>
Matrix<vexl_Complex> Matrix<T>::InverseFFT2D() const {
  return Transform2D(PaddedComplex(*this, paddedExtent(rows), paddedExtent(cols)), -1);
}

template <class T>
Matrix<vexl_Complex> Matrix<T>::ConvolveFFT(const Matrix<T>& kernel) const {
  const int pr = paddedExtent(rows > kernel.rows ? rows : kernel.rows);
  const int pc = paddedExtent(cols > kernel.cols ? cols : kernel.cols);
  Matrix<vexl_Complex> a = PaddedComplex(*this, pr, pc).FFT2D();
  Matrix<vexl_Complex> b = PaddedComplex(kernel, pr, pc).FFT2D();
  a *= std::move(b);
  a = a.InverseFFT2D();
  Matrix<vexl_Complex> result;
  result.SetSize(rows, cols);
  if (result.data == nullptr || a.data == nullptr) return result;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) result.rowTable[r][c] = a.rowTable[r][c];
  }
  return result;
}

template <class T>
Matrix<T> Matrix<T>::ConvolveRows(const Matrix<T>& kernel) const {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(rows, cols);
  result.SetZero();
  // The taps are the kernel's first row.
  const int taps = (kernel.data == nullptr || kernel.rows < 1) ? 0 : kernel.cols;
  if (data == nullptr || taps < 1) return result;
  const T* tap = kernel.data;
  const int c0 = (taps - 1) / 2;
  for (int r = 0; r < rows; ++r) {
    const T* x = rowTable[r];
    for (int c = 0; c < cols; ++c) {
      T acc = T();
      for (int t = 0; t < taps; ++t) {
        const int j = c + c0 - t;
        if (j >= 0 && j < cols) acc = E::Add(acc, E::Mul(tap[t], x[j]));
      }
      result.rowTable[r][c] = acc;
    }
  }
  return result;
}

// Equal, element for element, to Transpose(Transpose(*this).ConvolveRows(
// Transpose(kernel))), without the three transposes.
template <class T>
Matrix<T> Matrix<T>::ConvolveColumns(const Matrix<T>& kernel) const {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(rows, cols);
  result.SetZero();
  // The taps are the kernel's first column.
  const int taps = (kernel.data == nullptr || kernel.cols < 1) ? 0 : kernel.rows;
  if (data == nullptr || taps < 1) return result;
  const int c0 = (taps - 1) / 2;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) {
      T acc = T();
      for (int t = 0; t < taps; ++t) {
        const int j = r + c0 - t;
        if (j >= 0 && j < rows) acc = E::Add(acc, E::Mul(kernel.rowTable[t][0], rowTable[j][c]));
      }
      result.rowTable[r][c] = acc;
    }
  }
  return result;
}

template <class T>
Matrix<T> Matrix<T>::ConvolveSeparable(const Matrix<T>& kernel) const {
  Matrix<T> result = ConvolveRows(kernel);
  return result.Matrix<T>::ConvolveColumns(kernel.Transpose());
}

#define SEGMENTER_INSTANTIATE(T)                                                        \
  template Matrix<vexl_Complex> Matrix<T>::FFT2D() const;                               \
  template Matrix<vexl_Complex> Matrix<T>::InverseFFT2D() const;                        \
  template Matrix<vexl_Complex> Matrix<T>::ConvolveFFT(const Matrix<T>&) const;         \
  template Matrix<T> Matrix<T>::ConvolveRows(const Matrix<T>&) const;                   \
  template Matrix<T> Matrix<T>::ConvolveColumns(const Matrix<T>&) const;                \
  template Matrix<T> Matrix<T>::ConvolveSeparable(const Matrix<T>&) const;
SEGMENTER_MATRIX_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
