#pragma once
// A plain 3-D array: dim0 slices of dim1 x dim2 SimpleMatrix planes. Base of the
// segmentation models' 3-D edge operator, which gives the eight parameters meaning.
#include "numerics/SimpleMatrix.h"

template <class T>
class SimpleMatrix3D {
 public:
  SimpleMatrix3D() { Init(); }
  SimpleMatrix3D(const SimpleMatrix3D& other) : SimpleMatrix3D() { *this = other; }
  virtual ~SimpleMatrix3D() { SimpleMatrix3D::Release(); }

  virtual void Init() {
    param_[0] = 3;
    param_[1] = 3;
    param_[2] = 1;
    param_[3] = 3;
    param_[4] = 3;
    param_[5] = 2;
    param_[6] = 1;
    param_[7] = 2;
  }
  virtual void Clear() { Release(); }
  virtual int Release() {
    dim0_ = dim1_ = dim2_ = 0;
    delete[] slices_;
    slices_ = nullptr;
    return 1;
  }

  // Returns d0 * d1 * d2. Contents are not kept.
  int SetSize(int d0, int d1, int d2) {
    if (d0 == dim0_) {
      if (d1 != dim1_ || d2 != dim2_) {
        dim1_ = d1;
        dim2_ = d2;
        for (int k = 0; k < dim0_; ++k) slices_[k].SetSize(d1, d2);
      }
    } else {
      Release();
      dim0_ = d0;
      dim1_ = d1;
      dim2_ = d2;
      if (d0 > 0) {
        slices_ = new SimpleMatrix<T>[d0];
        for (int k = 0; k < d0; ++k) slices_[k].SetSize(d1, d2);
      }
    }
    return d0 * d1 * d2;
  }

  SimpleMatrix3D& operator=(const SimpleMatrix3D& other) {
    if (&other == this) return *this;
    SetSize(other.dim0_, other.dim1_, other.dim2_);
    for (int k = 0; k < dim0_; ++k)
      for (int r = 0; r < dim1_; ++r)
        for (int c = 0; c < dim2_; ++c) slices_[k](r, c) = other.slices_[k](r, c);
    return *this;
  }

  void Fill(T value) {
    if (dim0_ < 1) return;
    for (int k = 0; k < dim0_; ++k)
      for (int r = 0; r < dim1_; ++r)
        for (int c = 0; c < dim2_; ++c) slices_[k](r, c) = value;
  }

  // Element (slice, row, column); no bounds test.
  T& operator()(int k, int r, int c) { return slices_[k](r, c); }
  const T& operator()(int k, int r, int c) const { return slices_[k](r, c); }
  SimpleMatrix<T>& slice(int k) { return slices_[k]; }

  int dim0() const { return dim0_; }
  int dim1() const { return dim1_; }
  int dim2() const { return dim2_; }
  int param(int i) const { return param_[i]; }

 protected:
  int param_[8] = {};

 private:
  SimpleMatrix<T>* slices_ = nullptr;
  int dim0_ = 0;
  int dim1_ = 0;
  int dim2_ = 0;
};
