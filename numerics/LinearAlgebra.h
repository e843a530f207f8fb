#pragma once
// Dense linear algebra on doubles: Crout LU decomposition with implicit partial
// pivoting and its substitution, the cyclic Jacobi eigen-decomposition, and the
// Golub-Reinsch singular value decomposition (the published Numerical Recipes
// algorithms ludcmp, lubksb, jacobi and first-edition svdcmp).
//
// The LU pair works on Matrix<double> with 0-based indices; the inverse built on it
// is Matrix<double>::Inverse (declared in numerics/Matrix.h, defined beside these).
// jacobi and SVDCMP work on 1-based arrays in the book's convention: a vector
// from vector(1, n) is indexed 1..n, a matrix is an array of row pointers indexed
// 1..rows whose rows are indexed 1..cols (row 0 and element 0 are never touched).
#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

// Decomposes the n x n matrix a in place into its LU factors (row-permuted; L has a
// unit diagonal that is not stored). indx (sized to 1 x n) receives the pivot row
// of each column as a double; *d becomes +1 or -1, the parity of the row exchanges.
// Returns 0. Returns -1, leaving a unchanged, when a row of a is entirely zero
// (after writing "Singular matrix in routine LUDCMP" and a line end to stderr) or
// when a is not square (with a line naming its extents). A zero pivot of a singular
// matrix without a zero row becomes 1e-20, so the factors stay finite.
int LUDCMP(Matrix<double>& a, Matrix<double>& indx, double* d);

// Solves lu * x = b in place for the factors and pivots that LUDCMP produced; b holds
// n elements (n x 1). Leaves b unchanged when a pivot index lies outside 0..n-1.
void LUBKSB(const Matrix<double>& lu, const Matrix<double>& indx, Matrix<double>& b);

// Eigen-decomposition of the symmetric 1-based n x n matrix a by cyclic Jacobi
// rotations: eigenvalues in d[1..n], eigenvectors in the columns of v, both unsorted;
// *nrot counts the rotations. The elements of a above the diagonal are destroyed.
// Returns 1; returns 0 after writing "jacobi():  Too many iterations!\n" to stderr
// when 50 sweeps do not converge.
int jacobi(double** a, int n, double* d, double** v, int* nrot);

// A = U * diag(w) * V^T for the 1-based m x n array a (m >= n), which is replaced by
// U; w[1..n] receives the singular values (non-negative, unsorted), v the n x n V.
// Ends the program through NumericsFatalError when an m < n array is given and when a
// singular value does not converge in 30 passes.
void SVDCMP(double** a, int m, int n, double* w, double** v);

// The singular value decomposition of A (rows >= columns): U gets A's extents, W the
// n singular values (unsorted), V is n x n, all 0-based. False, with nothing changed,
// when A has fewer rows than columns.
bool SvdDecompose(Matrix<double>& U, VectorQo<double>& W, Matrix<double>& V, const Matrix<double>& A);

// Writes "Numerical Recipes run-time error...\n", the message and a line end, and
// "...now exiting to system...\n" to stderr, then ends the program with status 1.
[[noreturn]] void NumericsFatalError(const char* message);

// A zero-filled vector p with p[nl] .. p[nh] valid (nh - nl + 2 doubles, one spare).
// Ends the program with "allocation failure in vector()" when the memory cannot be had
// or the range is reversed by more than one (nh < nl - 1).
double* vector(int nl, int nh);
// Frees a vector made by vector(nl, nh).
void release_vector(double* p, int nl, int nh);
