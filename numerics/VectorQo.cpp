// VectorQo<T>: construction, sizing and assignment.
#include "numerics/VectorQo.h"

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
  if (this->data != nullptr && other.data != nullptr) {
    int n = this->rows * this->cols;
    for (int i = 0; i < n; ++i) this->data[i] = other.data[i];
  }
  return *this;
}

template <class T>
int VectorQo<T>::SetSize(int n) {
  return Matrix<T>::SetSize(1, n);
}

#define SEGMENTER_INSTANTIATE(T) template class VectorQo<T>;
SEGMENTER_VECTOR_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
