#pragma once
// Matrix<T>: the two-dimensional matrix of the whole program.
//
// Layout and ownership
//   `data` is one block of rows * cols elements, row after row; `rowTable[r]` is
//   data + r * cols. The matrix owns both and frees them in Release() and in its
//   destructor; copies are deep. The empty matrix has both pointers null and both
//   extents 0. SetSize may store an extent below 1 (3 x 0, say): such a matrix holds
//   no block and no row table, and loops over rows * cols do nothing on it.
//   A freshly allocated block is zero-filled (complex elements are (0, 0)).
//
// Element types
//   bool, unsigned char, short, int, float, double and vexl_Complex. The program's
//   `long` is a 32-bit integer: write it as int32_t. Matrix<int32_t> IS Matrix<int>
//   on every supported host, so the `long` matrices share the int instantiation
//   (4-byte elements in memory and in files). C++ `long` is 64 bits here and is
//   rejected at compile time.
//
// Access
//   operator[], operator() and the row table do not check indices; the caller keeps
//   them inside the matrix. Element counts are limited to what an int linear index
//   reaches (at most 2^31 - 1 elements).
//
// Allocation failure
//   Allocate / AllocateElements return -1 and leave the matrix empty. Every other
//   sizing path (sized constructor, SetSize, copy, assignment, reading a record)
//   treats a failed allocation as fatal: the line "Memory allocation Error !" on the
//   error stream and exit status 1, so no matrix ever has extents without a block.
//
// Matrix record (WriteBinary / ReadBinary / SaveStream / Save / Load), little-endian,
// no magic number, no padding:
//   offset 0  int32  rows
//   offset 4  int32  cols
//   offset 8  rows * cols elements, row-major, s bytes each:
//             bool 1 (0 or 1), unsigned char 1, short 2, int (= long) 4,
//             float 4 (IEEE single), double 8, vexl_Complex 16 (real, then imaginary).
//   The record does not name the element type; the reader must know it.
//   A reader rejects a record whose elements do not fit in the bytes that remain,
//   an element count beyond the int range, and (for bool) element bytes other than 0/1.
#include <cstdint>
#include <istream>
#include <ostream>
#include <type_traits>

#include "numerics/vexl_Complex.h"

template <class T>
class Matrix {
  static_assert(!std::is_same<T, long>::value,
                "the program's long is 32 bits: use int32_t (Matrix<int>)");

 public:
  // Public for reading by the rest of the program (the size query is rows / cols);
  // change them only through SetSize, Release and the readers.
  T* data = nullptr;
  T** rowTable = nullptr;
  int32_t rows = 0;
  int32_t cols = 0;

  // The empty matrix.
  Matrix() = default;
  // rows x cols zero elements when both extents are at least 1, else the empty matrix.
  // Allocation failure is fatal (see above).
  Matrix(int rows, int cols);
  Matrix(const Matrix& other);
  Matrix(Matrix&& other) noexcept;
  virtual ~Matrix();

  // Deep copy; resizes when the extents differ. Self-assignment does nothing.
  Matrix& operator=(const Matrix& other);
  Matrix& operator=(Matrix&& other) noexcept;
  bool Inverse(Matrix& out) const;  // Matrix<double> only: numerics/LinearAlgebra.cpp

  // Release() through the virtual table; returns 0.
  virtual int Clear();

  // Writes the record to a new file (truncating). False, with a one-line message
  // naming the file on the error stream, when the file does not open or a write fails.
  virtual bool SaveStream(const char* path) const;
  // Writes the record; 0 on success, -1 (with a message naming the file) when the
  // file does not open or a write fails.
  virtual int Save(const char* path) const;
  // Reads a record: the extents as stored (a count of 0 is kept, e.g. 0 x 7), then
  // the elements. 0 on success; -1 with a message naming the file when the file
  // does not open, is short, holds a negative count or elements that do not fit,
  // and then the matrix is left empty.
  virtual int Load(const char* path);

  // --- Arithmetic and statistics --------------------------------------------
  // Computed in T (see MatrixElement.h): integer results wrap, float rounds at
  // every step, bool is logical (sum = or, product = and, difference = xor).
  // Min / Max / MinMax keep the first extreme element (strict comparisons, NaN
  // never replaces); complex elements compare by modulus.

  // Element (r, c) = 1 when r == c, else 0 (also for non-square matrices).
  virtual void SetIdentity();
  virtual void SetZero();
  // 0 for a matrix without elements.
  virtual T Min() const;
  virtual T Max() const;
  // Outputs untouched for a matrix without elements.
  virtual void MinMax(T* min, T* max) const;
  virtual T Sum() const;
  virtual T SumOfSquares() const;
  // Sum() / element count in the arithmetic of T; 0 without elements.
  virtual T Mean() const;
  // 0 - v for v < 0 (the most negative integer stays itself; bytes, bool and
  // complex elements are copied).
  virtual Matrix<T> Abs() const;

  // row = index / cols, col = index - row * cols. cols must not be 0.
  virtual void IndexToRowCol(int index, int* row, int* col) const;

  // The sum of squared differences of two column vectors of equal length (in T);
  // 0 for any other pair of shapes.
  virtual T SquaredDistance(const Matrix<T>& other) const;
  // This matrix turned by `angle` degrees about its centre, resampled on the same
  // grid: exact source elements where the turned grid point falls on one, else an
  // inverse-distance-weighted mean of the surrounding source elements (weights in T).
  virtual Matrix<T> Rotate(double angle) const;

  // Element-wise product. Different extents: "DotMultiply: matricies must have same
  // dimensions" on the error stream; the result keeps this matrix's extents and is 0
  // where `other` has no element.
  virtual Matrix<T> DotMultiply(const Matrix<T>& other) const;
  // True 2-D convolution, zero outside, output of this matrix's extents. The kernel
  // centre is ((kR - 1) / 2, (kC - 1) / 2): the lower middle for even extents.
  virtual Matrix<T> Convolve2D(const Matrix<T>& kernel) const;

  // --- Fourier transforms and 1-D convolutions --------------------------------
  // Circular convolution on the padded grid of the larger operand, via FFT2D and
  // InverseFFT2D (so it carries one factor 1 / (PR * PC)); kernel origin at (0, 0);
  // cropped to this matrix's extents.
  virtual Matrix<vexl_Complex> ConvolveFFT(const Matrix<T>& kernel) const;
  // Convolution of every row with the kernel's first row (taps reversed, centre
  // (K - 1) / 2, zero border). K = 0 gives the zero matrix.
  virtual Matrix<T> ConvolveRows(const Matrix<T>& kernel) const;
  // The same down every column with the kernel's first column.
  virtual Matrix<T> ConvolveColumns(const Matrix<T>& kernel) const;
  // ConvolveRows(kernel), then ConvolveColumns(Transpose(kernel)).
  virtual Matrix<T> ConvolveSeparable(const Matrix<T>& kernel) const;

  // When the sum is not 0: every element minus the mean (divided in double, in
  // float for float, and stored in T).
  virtual void RemoveMean();
  // When the sum is not 0: every element divided by it (integer division for integers).
  virtual void NormalizeSum();
  // Writes element (0, col) to *value when there is a row; true when every row
  // holds the same value in column `col`. `col` must lie inside the matrix.
  virtual bool ColumnIsConstant(T* value, int col) const;

  // --- Kernel builders: each replaces this matrix (shape and contents) ---------
  // Values are computed in double and stored through MatrixElement<T>::FromDouble.
  // A normalising division by a sum of 0 is skipped.

  // n = 2 * int(extent * sigma) + 1. dims 1: a 1 x n row, order 0 Gaussian, 1 its
  // first derivative, 2 its second derivative (not normalised). Other dims: n x n,
  // order 0 Gaussian normalised to sum 1, order 2 Laplacian of the Gaussian.
  // Any other order gives zeros.
  virtual void GaussianDerivativeFilter(int dims, double sigma, int order, double extent);
  // n x n with n = 5 * int(b) + 1: G(r; b) - G(r; a), not normalised.
  virtual void MakeDoGKernel(double a, double b);
  // Cosine Gabor kernel at `angle` degrees under a Gaussian envelope, sum 1.
  virtual void MakeGaborKernel(double frequency, double sigma, double angle);
  // Zero-mean Mexican hat scaled by 10, n = 2 * int(floor(s / 2)) + 1.
  virtual void MakeMexicanHatKernel(double s);

  // Transforms on the zero-padded power-of-two grid (paddedExtent of each extent).
  // Forward: exponent +2 pi i, scaled by 1 / (PR * PC). Inverse: exponent -2 pi i,
  // unscaled, so InverseFFT2D(FFT2D(x)) is x (zero-padded) up to rounding.
  virtual Matrix<vexl_Complex> FFT2D() const;
  virtual Matrix<vexl_Complex> InverseFFT2D() const;

  // -1 for a negative extent or a product rows * cols beyond the int range, else
  // AllocateElements(rows * cols). Does not store the extents: callers store rows
  // and cols first (the row table is built from them).
  virtual int Allocate(int rows, int cols);
  // A zero-filled block of `count` elements and a row table of `rows` entries.
  // A count of 0 allocates nothing. -1 when the allocation fails (or the count is
  // negative); the matrix is then left empty.
  virtual int AllocateElements(int count);
  // Frees the block and the row table; the empty matrix. Returns 0.
  virtual int Release();

  // Same extents: nothing (the contents stay). Otherwise Release, store the extents
  // and, when both are at least 1, allocate a zero-filled block. Returns 0;
  // allocation failure is fatal.
  int SetSize(int rows, int cols);

  T& operator[](int i) { return data[i]; }
  const T& operator[](int i) const { return data[i]; }
  T& operator()(int row, int col) { return data[row * cols + col]; }
  const T& operator()(int row, int col) const { return data[row * cols + col]; }

  // Every element becomes `value`; nothing on a matrix without a block.
  void Fill(const T& value);

  // The record to / from an open stream. ReadBinary releases the matrix, reads the
  // two counts and, only when both are above 0, sizes the matrix and reads the
  // elements; otherwise it stays empty having consumed 8 bytes. On a short or
  // foreign record it sets the stream's failbit and leaves the matrix empty.
  std::ostream& WriteBinary(std::ostream& out) const;
  std::istream& ReadBinary(std::istream& in);

  // A new cols x rows matrix with element (c, r) = this(r, c).
  Matrix<T> Transpose() const;
  // Every element divided by `divisor` (integers: truncating; float: divided in
  // double and rounded). For integer and bool matrices a divisor of 0 returns an
  // unchanged copy.
  Matrix<T> operator/(const T& divisor) const;
  // Element i times element i of `other` (taken by value), for every element of this
  // matrix. `other` must hold at least as many elements.
  Matrix<T>& operator*=(Matrix<T> other);

 private:
  void CopyElementsFrom(const Matrix& other);
};

// The number of elements in m's block: rows * cols, 0 for a matrix without a block.
template <class T>
inline int ElementCount(const Matrix<T>& m) {
  return (m.rows < 1 || m.cols < 1 || m.data == nullptr) ? 0 : m.rows * m.cols;
}

// a(r, c) - b(r, c) over a's extents; b must be at least as large as a.
template <class T>
Matrix<T> operator-(const Matrix<T>& a, const Matrix<T>& b);
// The matrix product, a.rows x b.cols, accumulated in T from 0; b must have at
// least a.cols rows.
template <class T>
Matrix<T> operator*(const Matrix<T>& a, const Matrix<T>& b);

// G(x; sigma) * (x^2 / sigma^4 - 1 / sigma^2): the second derivative of the
// normalised 1-D Gaussian.
double GaussianSecondDerivative(double x, double sigma);

// Ends the process as a failed matrix allocation does: the line "Memory allocation
// Error !" on the error stream (through FatalExit, after its cleanups), exit status 1.
[[noreturn]] void MatrixAllocationFailure();

// The smallest power of two not below n (0 for n < 1): the grid extent of the
// Fourier transforms. An extent above 2^30 has no grid that could be allocated and
// ends the process as a failed allocation does.
int paddedExtent(int n);

// Transforms row `row` of m in place: radix-2 FFT, exponent direction * 2 pi i,
// unscaled. m.cols must be a power of two.
void FourierTransformRow(Matrix<vexl_Complex>& m, int direction, int row);

// dst = src converted element by element (to the nearest float / exactly to double).
void ConvertMatrix(Matrix<float>& dst, const Matrix<double>& src);
void ConvertMatrix(Matrix<double>& dst, const Matrix<float>& src);

// Instantiated element types; used by the explicit instantiations in numerics/*.cpp.
#define SEGMENTER_MATRIX_TYPES(X) \
  X(bool) X(unsigned char) X(short) X(int) X(float) X(double) X(vexl_Complex)
