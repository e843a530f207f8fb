#pragma once
// Small builders for matrix tests.
#include <initializer_list>

#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

// A rows x cols matrix holding `values` in row-major order.
template <class T>
Matrix<T> Mat(int rows, int cols, std::initializer_list<T> values) {
  Matrix<T> m(rows, cols);
  int i = 0;
  for (const T& v : values) m[i++] = v;
  return m;
}

template <class T>
VectorQo<T> Vec(std::initializer_list<T> values) {
  VectorQo<T> v(static_cast<int>(values.size()));
  int i = 0;
  for (const T& x : values) v[i++] = x;
  return v;
}
