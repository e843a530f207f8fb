// VectorQo<T>: construction, sizing, assignment, 1-D convolution and the vector
// operators.
#include "numerics/VectorQo.h"

#include "numerics/MatrixElement.h"

template <class T>
VectorQo<T>::VectorQo(int n) {
  SetSize(n);
}

template <class T>
VectorQo<T>::VectorQo(int n, T value) {
  SetSize(n);
  this->Fill(value);
}

template <class T>
VectorQo<T>::VectorQo(const VectorQo& other) : Matrix<T>() {
  *this = other;
}

template <class T>
VectorQo<T>& VectorQo<T>::operator=(const VectorQo& other) {
  if (&other == this) return *this;
  Matrix<T>::SetSize(other.rows, other.cols);
  const int n = ElementCount(other);
  for (int i = 0; i < n; ++i) this->data[i] = other.data[i];
  return *this;
}

template <class T>
int VectorQo<T>::SetSize(int n) {
  return Matrix<T>::SetSize(1, n);
}

template <class T>
VectorQo<T> VectorQo<T>::Convolve(const Matrix<T>& kernel, bool circular) const {
  using E = MatrixElement<T>;
  VectorQo<T> result;
  result.SetSize(this->rows, this->cols);
  result.SetZero();
  const int n = ElementCount(*this);
  const int taps = ElementCount(kernel);
  const int c0 = (taps - 1) / 2;
  const T* v = this->data;
  for (int i = 0; i < n; ++i) {
    T acc = T();
    for (int t = 0; t < taps; ++t) {
      int j = i + c0 - t;
      if (circular) {
        // Wraps around for any kernel length.
        j %= n;
        if (j < 0) j += n;
      } else if (j < 0 || j >= n) {
        continue;
      }
      acc = E::Add(acc, E::Mul(v[j], kernel.data[t]));
    }
    result.data[i] = acc;
  }
  return result;
}

template <class T>
int VectorQo<T>::ArgMax() const {
  const int n = ElementCount(*this);
  if (n < 1) return -1;
  int best = 0;
  for (int i = 1; i < n; ++i) {
    if (MatrixElement<T>::Less(this->data[best], this->data[i])) best = i;
  }
  return best;
}

VectorQo<int> operator+(const VectorQo<int>& a, const VectorQo<int>& b) {
  VectorQo<int> result;
  result.SetSize(a.rows, a.cols);
  const int n = ElementCount(a);
  for (int i = 0; i < n; ++i) result.data[i] = a.data[i] + b.data[i];  // wraps (-fwrapv)
  return result;
}

VectorQo<double> operator/(const VectorQo<double>& v, double d) {
  VectorQo<double> result(v);
  const int n = ElementCount(result);
  for (int i = 0; i < n; ++i) result.data[i] = result.data[i] / d;
  return result;
}

VectorQo<double> operator*(const VectorQo<double>& v, double d) {
  VectorQo<double> result(v);
  const int n = ElementCount(result);
  for (int i = 0; i < n; ++i) result.data[i] = result.data[i] * d;
  return result;
}

int MaxIndex(const VectorQo<double>& v) {
  const int n = ElementCount(v);
  if (n < 1) return -1;
  // The running maximum is a float: elements equal in single precision tie, and
  // the first of them wins.
  float best = static_cast<float>(v.data[0]);
  int index = 0;
  for (int i = 1; i < n; ++i) {
    if (static_cast<double>(best) < v.data[i]) {
      best = static_cast<float>(v.data[i]);
      index = i;
    }
  }
  return index;
}

#define SEGMENTER_INSTANTIATE(T) template class VectorQo<T>;
SEGMENTER_VECTOR_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
