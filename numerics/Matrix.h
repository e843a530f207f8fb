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
//   treats a failed allocation as fatal: "\n Memory allocation Error ! " on the
//   error stream and exit status -1, so no matrix ever has extents without a block.
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

  // row = index / cols, col = index - row * cols. cols must not be 0.
  virtual void IndexToRowCol(int index, int* row, int* col) const;

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

 private:
  void CopyElementsFrom(const Matrix& other);
};

// dst = src converted element by element (to the nearest float / exactly to double).
void ConvertMatrix(Matrix<float>& dst, const Matrix<double>& src);
void ConvertMatrix(Matrix<double>& dst, const Matrix<float>& src);

// Instantiated element types; used by the explicit instantiations in numerics/*.cpp.
#define SEGMENTER_MATRIX_TYPES(X) \
  X(bool) X(unsigned char) X(short) X(int) X(float) X(double) X(vexl_Complex)
