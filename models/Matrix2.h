#pragma once
// Matrix2: the dense double matrix of the Gaussian-mixture code (sample matrices,
// means, covariances and their inverses). Separate from Matrix<T>.
//
// Layout: rows x cols doubles, row-major (element (i, j) at i * cols + j), owned.
// An empty matrix is 0 x 0. Shapes never raise errors: operations on two operands
// work over their common rows and columns (see each operation). Element access does
// not check indices.
#include <cstddef>
#include <vector>

#include "models/Vector2.h"

// Set by Matrix2::Invert: 1 when the last inversion found a usable pivot in every
// column, 0 when it stopped on a singular matrix. Initially 1.
extern int gInversionSucceeded;

class Matrix2 {
 public:
  // Empty: 0 x 0.
  Matrix2() = default;
  // rows x cols zeros (either extent <= 0: empty).
  Matrix2(int rows, int cols);
  Matrix2(const Matrix2& other) = default;
  Matrix2& operator=(const Matrix2& other) = default;
  virtual ~Matrix2() = default;

  // Resizes to the other's shape and copies every element.
  virtual void Assign(const Matrix2& other);
  // Same shape: nothing (contents kept even without `keep`). A zero or negative
  // extent: empty. Otherwise a new block of zeros; with `keep` the overlapping
  // top-left part is copied.
  virtual void Resize(int rows, int cols, bool keep);

  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  double& operator()(int i, int j) { return data_[static_cast<size_t>(i) * cols_ + j]; }
  const double& operator()(int i, int j) const { return data_[static_cast<size_t>(i) * cols_ + j]; }

  // Element-wise over the common rows and columns; the rest stays.
  Matrix2& operator+=(const Matrix2& other);

  // cols x rows, element (j, i) = a(i, j).
  void Transpose(Matrix2& out) const;
  Matrix2 Transpose() const;
  // Row i as a vector of cols elements (i must lie inside).
  void Row(Vector2& out, int i) const;
  Vector2 Row(int i) const;
  // When i < rows: row i takes the first min(cols, v size) elements of v.
  void SetRow(const Vector2& v, int i);
  // When j < cols: column j takes the first min(rows, v size) elements of v.
  void SetColumn(const Vector2& v, int j);
  // The sum of each column (cols elements).
  void ColumnSums(Vector2& out) const;
  Vector2 ColumnSums() const;
  void SetZero();
  // Zeros, then 1 on the first min(rows, cols) diagonal elements.
  void SetIdentity();
  // Rows i and j exchanged when both are below rows; else nothing.
  void SwapRows(int i, int j);

  // Gauss-Jordan inverse into `out`, with the determinant in *det when det is given.
  // A square matrix: pivot on the diagonal; a pivot of magnitude <= 1e-6 is replaced by
  // exchanging in the first later row with a non-zero entry in that column (the
  // determinant's sign is not changed by the exchange). When no usable pivot remains,
  // gInversionSucceeded = 0, *det = 0 and out is left partly reduced. A matrix that is
  // not square gets the pseudo-inverse (A^T (A A^T)^-1 when rows <= cols, else
  // (A^T A)^-1 A^T) and *det = 0. An empty matrix gives an empty inverse, det 1.
  void Invert(Matrix2& out, double* det) const;

 private:
  int rows_ = 0;
  int cols_ = 0;
  std::vector<double> data_;
};

// a + b shaped as a: the sum over the common part, a's elements elsewhere.
void Add(Matrix2& out, const Matrix2& a, const Matrix2& b);
Matrix2 operator+(const Matrix2& a, const Matrix2& b);
// Element-wise product / quotient with a scalar.
void Scale(Matrix2& out, const Matrix2& a, double s);
Matrix2 operator*(const Matrix2& a, double s);
void Divide(Matrix2& out, const Matrix2& a, double s);
Matrix2 operator/(const Matrix2& a, double s);
// rows(a) elements; element i = sum over k < min(cols(a), size(v)) of a(i, k) v(k).
void Multiply(Vector2& out, const Matrix2& a, const Vector2& v);
Vector2 operator*(const Matrix2& a, const Vector2& v);
// rows(a) x cols(b); element (i, j) = sum over k < min(cols(a), rows(b)) of a(i, k) b(k, j).
void Multiply(Matrix2& out, const Matrix2& a, const Matrix2& b);
Matrix2 operator*(const Matrix2& a, const Matrix2& b);
