// Matrix<T>: element-wise arithmetic, statistics, products and the direct 2-D
// convolution. Every value is computed in the element type (MatrixElement.h).
#include <cstdio>

#include "numerics/Matrix.h"
#include "numerics/MatrixElement.h"

template <class T>
void Matrix<T>::SetIdentity() {
  using E = MatrixElement<T>;
  if (data == nullptr) return;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) rowTable[r][c] = E::FromDouble(r == c ? 1.0 : 0.0);
  }
}

template <class T>
void Matrix<T>::SetZero() {
  Fill(T());
}

template <class T>
T Matrix<T>::Min() const {
  int n = ElementCount(*this);
  if (n < 1) return T();
  T best = data[0];
  for (int i = 1; i < n; ++i) {
    if (MatrixElement<T>::Less(data[i], best)) best = data[i];
  }
  return best;
}

template <class T>
T Matrix<T>::Max() const {
  int n = ElementCount(*this);
  if (n < 1) return T();
  T best = data[0];
  for (int i = 1; i < n; ++i) {
    if (MatrixElement<T>::Less(best, data[i])) best = data[i];
  }
  return best;
}

template <class T>
void Matrix<T>::MinMax(T* min, T* max) const {
  int n = ElementCount(*this);
  if (n < 1) return;
  *min = data[0];
  *max = data[0];
  for (int i = 1; i < n; ++i) {
    if (MatrixElement<T>::Less(data[i], *min)) *min = data[i];
    if (MatrixElement<T>::Less(*max, data[i])) *max = data[i];
  }
}

template <class T>
T Matrix<T>::Sum() const {
  T sum = T();
  int n = ElementCount(*this);
  for (int i = 0; i < n; ++i) sum = MatrixElement<T>::Add(sum, data[i]);
  return sum;
}

template <class T>
T Matrix<T>::SumOfSquares() const {
  using E = MatrixElement<T>;
  T sum = T();
  int n = ElementCount(*this);
  for (int i = 0; i < n; ++i) sum = E::Add(sum, E::Mul(data[i], data[i]));
  return sum;
}

template <class T>
T Matrix<T>::Mean() const {
  int n = ElementCount(*this);
  if (n < 1) return T();
  return MatrixElement<T>::Mean(Sum(), n);
}

template <class T>
Matrix<T> Matrix<T>::Abs() const {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(rows, cols);
  int n = ElementCount(*this);
  for (int i = 0; i < n; ++i) {
    const T& v = data[i];
    result.data[i] = E::Less(v, T()) ? E::Sub(T(), v) : v;
  }
  return result;
}

template <class T>
Matrix<T> Matrix<T>::DotMultiply(const Matrix<T>& other) const {
  if (rows != other.rows || cols != other.cols) {
    std::fprintf(stderr, "DotMultiply: matricies must have same dimensions\n");
    std::fflush(stderr);
  }
  Matrix<T> result(rows, cols);
  if (result.data == nullptr || other.data == nullptr) return result;
  // Only positions that exist in both operands; the rest stays 0.
  int r1 = rows < other.rows ? rows : other.rows;
  int c1 = cols < other.cols ? cols : other.cols;
  for (int r = 0; r < r1; ++r) {
    for (int c = 0; c < c1; ++c) {
      result.rowTable[r][c] = MatrixElement<T>::Mul(rowTable[r][c], other.rowTable[r][c]);
    }
  }
  return result;
}

template <class T>
Matrix<T> Matrix<T>::Convolve2D(const Matrix<T>& kernel) const {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(rows, cols);
  result.SetZero();
  if (ElementCount(*this) < 1 || ElementCount(kernel) < 1) return result;
  const int kR = kernel.rows;
  const int kC = kernel.cols;
  const int cr = (kR - 1) / 2;
  const int cc = (kC - 1) / 2;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      T acc = T();
      for (int a = 0; a < kR; ++a) {
        const int sr = i + cr - a;
        if (sr < 0 || sr >= rows) continue;
        for (int b = 0; b < kC; ++b) {
          const int sc = j + cc - b;
          if (sc < 0 || sc >= cols) continue;
          acc = E::Add(acc, E::Mul(rowTable[sr][sc], kernel.rowTable[a][b]));
        }
      }
      result.rowTable[i][j] = acc;
    }
  }
  return result;
}

template <class T>
void Matrix<T>::RemoveMean() {
  using E = MatrixElement<T>;
  int n = ElementCount(*this);
  T sum = Sum();
  if (n < 1 || E::IsZero(sum)) return;
  T mean = E::RemovedMean(sum, n);
  for (int i = 0; i < n; ++i) data[i] = E::Sub(data[i], mean);
}

template <class T>
void Matrix<T>::NormalizeSum() {
  using E = MatrixElement<T>;
  T sum = Sum();
  if (E::IsZero(sum)) return;
  int n = ElementCount(*this);
  for (int i = 0; i < n; ++i) data[i] = E::Div(data[i], sum);
}

template <class T>
bool Matrix<T>::ColumnIsConstant(T* value, int col) const {
  if (rows >= 1 && col < cols && data != nullptr) *value = rowTable[0][col];
  if (rows < 2) return true;
  for (int r = 1; r < rows; ++r) {
    if (!MatrixElement<T>::Equal(rowTable[r][col], rowTable[0][col])) return false;
  }
  return true;
}

template <class T>
Matrix<T> Matrix<T>::Transpose() const {
  Matrix<T> result;
  result.SetSize(cols, rows);
  if (ElementCount(*this) < 1) return result;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < cols; ++c) result.rowTable[c][r] = rowTable[r][c];
  }
  return result;
}

template <class T>
Matrix<T> Matrix<T>::operator/(const T& divisor) const {
  using E = MatrixElement<T>;
  Matrix<T> result(*this);
  // Integer and bool division by 0 would trap; the matrix stays as it is.
  if (!std::is_floating_point<T>::value && !std::is_same<T, vexl_Complex>::value &&
      E::IsZero(divisor)) {
    return result;
  }
  int n = ElementCount(result);
  for (int i = 0; i < n; ++i) result.data[i] = E::Scale(result.data[i], divisor);
  return result;
}

template <class T>
Matrix<T>& Matrix<T>::operator*=(Matrix<T> other) {
  int n = ElementCount(*this);
  for (int i = 0; i < n; ++i) data[i] = MatrixElement<T>::Mul(data[i], other.data[i]);
  return *this;
}

template <class T>
Matrix<T> operator-(const Matrix<T>& a, const Matrix<T>& b) {
  Matrix<T> result;
  result.SetSize(a.rows, a.cols);
  if (ElementCount(a) < 1) return result;
  for (int r = 0; r < a.rows; ++r) {
    for (int c = 0; c < a.cols; ++c) {
      result.rowTable[r][c] = MatrixElement<T>::Sub(a.rowTable[r][c], b.rowTable[r][c]);
    }
  }
  return result;
}

template <class T>
Matrix<T> operator*(const Matrix<T>& a, const Matrix<T>& b) {
  using E = MatrixElement<T>;
  Matrix<T> result;
  result.SetSize(a.rows, b.cols);
  if (result.data == nullptr) return result;
  for (int i = 0; i < a.rows; ++i) {
    for (int j = 0; j < b.cols; ++j) {
      T acc = T();
      for (int k = 0; k < a.cols; ++k) acc = E::Add(acc, E::Mul(a.rowTable[i][k], b.rowTable[k][j]));
      result.rowTable[i][j] = acc;
    }
  }
  return result;
}

#define SEGMENTER_INSTANTIATE(T)                                                   \
  template void Matrix<T>::SetIdentity();                                          \
  template void Matrix<T>::SetZero();                                              \
  template T Matrix<T>::Min() const;                                               \
  template T Matrix<T>::Max() const;                                               \
  template void Matrix<T>::MinMax(T*, T*) const;                                   \
  template T Matrix<T>::Sum() const;                                               \
  template T Matrix<T>::SumOfSquares() const;                                      \
  template T Matrix<T>::Mean() const;                                              \
  template Matrix<T> Matrix<T>::Abs() const;                                       \
  template Matrix<T> Matrix<T>::DotMultiply(const Matrix<T>&) const;               \
  template Matrix<T> Matrix<T>::Convolve2D(const Matrix<T>&) const;                \
  template void Matrix<T>::RemoveMean();                                           \
  template void Matrix<T>::NormalizeSum();                                         \
  template bool Matrix<T>::ColumnIsConstant(T*, int) const;                        \
  template Matrix<T> Matrix<T>::Transpose() const;                                 \
  template Matrix<T> Matrix<T>::operator/(const T&) const;                         \
  template Matrix<T>& Matrix<T>::operator*=(Matrix<T>);                            \
  template Matrix<T> operator-(const Matrix<T>&, const Matrix<T>&);                \
  template Matrix<T> operator*(const Matrix<T>&, const Matrix<T>&);
SEGMENTER_MATRIX_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
