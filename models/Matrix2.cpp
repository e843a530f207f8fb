#include "models/Matrix2.h"

#include <algorithm>
#include <cmath>

int gInversionSucceeded = 1;

Matrix2::Matrix2(int rows, int cols) { Resize(rows, cols, false); }

void Matrix2::Assign(const Matrix2& other) {
  if (&other == this) return;
  Resize(other.rows_, other.cols_, false);
  data_ = other.data_;
}

void Matrix2::Resize(int rows, int cols, bool keep) {
  if (rows == rows_ && cols == cols_) return;
  if (rows <= 0 || cols <= 0) {
    rows_ = cols_ = 0;
    data_.clear();
    data_.shrink_to_fit();
    return;
  }
  std::vector<double> fresh(static_cast<size_t>(rows) * cols, 0.0);
  if (keep) {
    const int r = std::min(rows, rows_);
    const int c = std::min(cols, cols_);
    for (int i = 0; i < r; ++i)
      for (int j = 0; j < c; ++j) fresh[static_cast<size_t>(i) * cols + j] = (*this)(i, j);
  }
  rows_ = rows;
  cols_ = cols;
  data_.swap(fresh);
}

Matrix2& Matrix2::operator+=(const Matrix2& other) {
  const int r = std::min(rows_, other.rows_);
  const int c = std::min(cols_, other.cols_);
  for (int i = 0; i < r; ++i)
    for (int j = 0; j < c; ++j) (*this)(i, j) += other(i, j);
  return *this;
}

void Matrix2::Transpose(Matrix2& out) const {
  Matrix2 result(cols_, rows_);
  for (int i = 0; i < rows_; ++i)
    for (int j = 0; j < cols_; ++j) result(j, i) = (*this)(i, j);
  out = result;
}

Matrix2 Matrix2::Transpose() const {
  Matrix2 out;
  Transpose(out);
  return out;
}

void Matrix2::Row(Vector2& out, int i) const {
  out.Resize(cols_, false);
  for (int j = 0; j < cols_; ++j) out[j] = (*this)(i, j);
}

Vector2 Matrix2::Row(int i) const {
  Vector2 out;
  Row(out, i);
  return out;
}

void Matrix2::SetRow(const Vector2& v, int i) {
  if (i < 0 || i >= rows_) return;
  const int n = std::min(cols_, v.Size());
  for (int j = 0; j < n; ++j) (*this)(i, j) = v[j];
}

void Matrix2::SetColumn(const Vector2& v, int j) {
  if (j < 0 || j >= cols_) return;
  const int n = std::min(rows_, v.Size());
  for (int i = 0; i < n; ++i) (*this)(i, j) = v[i];
}

void Matrix2::ColumnSums(Vector2& out) const {
  Vector2 sums(cols_);
  for (int i = 0; i < rows_; ++i)
    for (int j = 0; j < cols_; ++j) sums[j] += (*this)(i, j);
  out = sums;
}

Vector2 Matrix2::ColumnSums() const {
  Vector2 out;
  ColumnSums(out);
  return out;
}

void Matrix2::SetZero() { std::fill(data_.begin(), data_.end(), 0.0); }

void Matrix2::SetIdentity() {
  SetZero();
  const int n = std::min(rows_, cols_);
  for (int i = 0; i < n; ++i) (*this)(i, i) = 1.0;
}

void Matrix2::SwapRows(int i, int j) {
  if (i < 0 || j < 0 || i >= rows_ || j >= rows_ || i == j) return;
  for (int c = 0; c < cols_; ++c) std::swap((*this)(i, c), (*this)(j, c));
}

void Matrix2::Invert(Matrix2& out, double* det) const {
  gInversionSucceeded = 1;
  if (rows_ != cols_) {
    if (det) *det = 0.0;
    const Matrix2 t = Transpose();
    Matrix2 inner;
    if (rows_ <= cols_) {
      (*this * t).Invert(inner, nullptr);  // (A A^T)^-1
      out = t * inner;
    } else {
      (t * *this).Invert(inner, nullptr);  // (A^T A)^-1
      out = inner * t;
    }
    return;
  }
  const int n = rows_;
  if (det) *det = 1.0;
  Matrix2 w = *this;  // a copy, so that out may be this matrix
  out.Resize(n, n, false);
  out.SetIdentity();
  for (int i = 0; i < n; ++i) {
    double p = w(i, i);
    if (std::fabs(p) <= 1e-6) {
      for (int j = i + 1; j < n; ++j) {
        if (w(j, i) != 0.0) {
          w.SwapRows(i, j);
          out.SwapRows(i, j);
          break;
        }
      }
      p = w(i, i);
    }
    if (std::fabs(p) <= 1e-6) {
      gInversionSucceeded = 0;
      if (det) *det = 0.0;
      return;
    }
    if (det) *det *= p;
    const double r = 1.0 / p;
    for (int c = 0; c < n; ++c) {
      w(i, c) *= r;
      out(i, c) *= r;
    }
    for (int k = 0; k < n; ++k) {
      if (k == i) continue;
      const double f = w(k, i);
      for (int c = 0; c < n; ++c) {
        w(k, c) -= w(i, c) * f;
        out(k, c) -= out(i, c) * f;
      }
    }
  }
}

void Add(Matrix2& out, const Matrix2& a, const Matrix2& b) {
  Matrix2 result = a;
  result += b;
  out = result;
}

Matrix2 operator+(const Matrix2& a, const Matrix2& b) {
  Matrix2 out;
  Add(out, a, b);
  return out;
}

void Scale(Matrix2& out, const Matrix2& a, double s) {
  Matrix2 result = a;
  for (int i = 0; i < result.Rows(); ++i)
    for (int j = 0; j < result.Cols(); ++j) result(i, j) *= s;
  out = result;
}

Matrix2 operator*(const Matrix2& a, double s) {
  Matrix2 out;
  Scale(out, a, s);
  return out;
}

void Divide(Matrix2& out, const Matrix2& a, double s) {
  Matrix2 result = a;
  for (int i = 0; i < result.Rows(); ++i)
    for (int j = 0; j < result.Cols(); ++j) result(i, j) /= s;
  out = result;
}

Matrix2 operator/(const Matrix2& a, double s) {
  Matrix2 out;
  Divide(out, a, s);
  return out;
}

void Multiply(Vector2& out, const Matrix2& a, const Vector2& v) {
  Vector2 result(a.Rows());
  const int m = std::min(a.Cols(), v.Size());
  for (int i = 0; i < a.Rows(); ++i) {
    double sum = 0.0;
    for (int k = 0; k < m; ++k) sum += a(i, k) * v[k];
    result[i] = sum;
  }
  out = result;
}

Vector2 operator*(const Matrix2& a, const Vector2& v) {
  Vector2 out;
  Multiply(out, a, v);
  return out;
}

void Multiply(Matrix2& out, const Matrix2& a, const Matrix2& b) {
  Matrix2 result(a.Rows(), b.Cols());
  const int m = std::min(a.Cols(), b.Rows());
  for (int i = 0; i < a.Rows(); ++i)
    for (int j = 0; j < b.Cols(); ++j) {
      double sum = 0.0;
      for (int k = 0; k < m; ++k) sum += a(i, k) * b(k, j);
      result(i, j) = sum;
    }
  out = result;
}

Matrix2 operator*(const Matrix2& a, const Matrix2& b) {
  Matrix2 out;
  Multiply(out, a, b);
  return out;
}
