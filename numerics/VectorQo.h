#pragma once
// VectorQo<T>: a one-row Matrix<T>. A vector of n elements is a 1 x n matrix and
// element i is element i of `data`. Element types as Matrix<T> but without
// vexl_Complex; VectorQo<int> also serves the program's 32-bit `long`.
// Its record is the matrix record with rows = 1.
#include <type_traits>

#include "numerics/Matrix.h"

template <class T>
class VectorQo : public Matrix<T> {
  static_assert(!std::is_same<T, vexl_Complex>::value, "there is no complex vector");

 public:
  // The empty vector.
  VectorQo() = default;
  // 1 x n zero elements (n = 0 gives extents 1 x 0 and no block).
  explicit VectorQo(int n);
  // 1 x n elements, each `value`.
  VectorQo(int n, T value);
  VectorQo(const VectorQo& other);
  VectorQo(VectorQo&& other) noexcept = default;

  // Resizes to the other's extents when they differ, then copies its elements.
  VectorQo& operator=(const VectorQo& other);
  VectorQo& operator=(VectorQo&& other) noexcept = default;

  using Matrix<T>::SetSize;
  // SetSize(1, n).
  int SetSize(int n);

  // 1-D convolution with the kernel's elements in row-major order (taps reversed,
  // centre (K - 1) / 2), sums in T. Not circular: zero outside. Circular: the
  // vector wraps around.
  virtual VectorQo<T> Convolve(const Matrix<T>& kernel, bool circular) const;
  // Index of the first largest element; -1 without elements.
  virtual int ArgMax() const;
};

// Element-wise sum, shaped like `a`; b must be at least as large.
VectorQo<int> operator+(const VectorQo<int>& a, const VectorQo<int>& b);
// Every element divided / multiplied by d (no test for d = 0).
VectorQo<double> operator/(const VectorQo<double>& v, double d);
VectorQo<double> operator*(const VectorQo<double>& v, double d);
// Index of the first largest element with the running maximum held as a float:
// elements equal in single precision count as equal and the first wins. -1 when empty.
int MaxIndex(const VectorQo<double>& v);

#define SEGMENTER_VECTOR_TYPES(X) X(bool) X(unsigned char) X(short) X(int) X(float) X(double)
