// Matrix<T>: construction, sizing, copying and the matrix record.
#include "numerics/Matrix.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <new>
#include <string>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "platform/HostAssumptions.h"
#include "platform/NativePath.h"

static_assert(sizeof(bool) == 1, "bool elements are stored as one byte");

void MatrixAllocationFailure() { FatalExit(1, "Memory allocation Error !\n", stderr); }

namespace {

int64_t ElementCount(int32_t rows, int32_t cols) {
  if (rows < 1 || cols < 1) return 0;
  return static_cast<int64_t>(rows) * cols;
}

}  // namespace

template <class T>
Matrix<T>::Matrix(int r, int c) {
  if (r < 1 || c < 1) return;
  rows = r;
  cols = c;
  if (Matrix<T>::Allocate(r, c) != 0) MatrixAllocationFailure();
}

template <class T>
Matrix<T>::Matrix(const Matrix& other) {
  rows = other.rows;
  cols = other.cols;
  if (rows >= 1 && cols >= 1 && Matrix<T>::Allocate(rows, cols) != 0) MatrixAllocationFailure();
  CopyElementsFrom(other);
}

template <class T>
Matrix<T>::Matrix(Matrix&& other) noexcept
    : data(other.data), rowTable(other.rowTable), rows(other.rows), cols(other.cols) {
  other.data = nullptr;
  other.rowTable = nullptr;
  other.rows = 0;
  other.cols = 0;
}

template <class T>
Matrix<T>::~Matrix() {
  Matrix<T>::Release();
}

template <class T>
Matrix<T>& Matrix<T>::operator=(const Matrix& other) {
  if (&other == this) return *this;
  SetSize(other.rows, other.cols);
  CopyElementsFrom(other);
  return *this;
}

template <class T>
Matrix<T>& Matrix<T>::operator=(Matrix&& other) noexcept {
  if (&other == this) return *this;
  Matrix<T>::Release();
  data = other.data;
  rowTable = other.rowTable;
  rows = other.rows;
  cols = other.cols;
  other.data = nullptr;
  other.rowTable = nullptr;
  other.rows = 0;
  other.cols = 0;
  return *this;
}

template <class T>
void Matrix<T>::CopyElementsFrom(const Matrix& other) {
  if (data == nullptr || other.data == nullptr) return;
  int64_t n = ElementCount(rows, cols);
  for (int64_t i = 0; i < n; ++i) data[i] = other.data[i];
}

template <class T>
int Matrix<T>::Clear() {
  return Release();
}

template <class T>
int Matrix<T>::Release() {
  delete[] data;
  delete[] rowTable;
  data = nullptr;
  rowTable = nullptr;
  rows = 0;
  cols = 0;
  return 0;
}

template <class T>
int Matrix<T>::Allocate(int r, int c) {
  if (r < 0 || c < 0) return -1;
  int64_t count = static_cast<int64_t>(r) * c;
  // Linear indices are ints, so larger blocks could not be addressed.
  if (count > std::numeric_limits<int32_t>::max()) return -1;
  return AllocateElements(static_cast<int>(count));
}

template <class T>
int Matrix<T>::AllocateElements(int count) {
  if (count < 0) return -1;
  if (count == 0) return 0;
  T* block = nullptr;
  T** table = nullptr;
  try {
    block = new T[static_cast<size_t>(count)]();
    table = new T*[static_cast<size_t>(rows > 0 ? rows : 0)];
  } catch (const std::bad_alloc&) {
    delete[] block;
    Release();
    return -1;
  }
  delete[] data;
  delete[] rowTable;
  data = block;
  rowTable = table;
  for (int r = 0; r < rows; ++r) rowTable[r] = data + static_cast<int64_t>(r) * cols;
  return 0;
}

template <class T>
int Matrix<T>::SetSize(int r, int c) {
  if (r == rows && c == cols) return 0;
  Release();
  rows = r;
  cols = c;
  if (r >= 1 && c >= 1 && Allocate(r, c) != 0) MatrixAllocationFailure();
  return 0;
}

template <class T>
void Matrix<T>::Fill(const T& value) {
  if (data == nullptr) return;
  int64_t n = ElementCount(rows, cols);
  for (int64_t i = 0; i < n; ++i) data[i] = value;
}

template <class T>
void Matrix<T>::IndexToRowCol(int index, int* row, int* col) const {
  *row = index / cols;
  *col = index - *row * cols;
}

template <class T>
std::ostream& Matrix<T>::WriteBinary(std::ostream& out) const {
  BinaryWriter w(out);
  w.i32(rows);
  w.i32(cols);
  if (data != nullptr) w.bytes(data, static_cast<size_t>(ElementCount(rows, cols)) * sizeof(T));
  return out;
}

namespace {

// Reads `count` elements into `block`; false on a short read or, for bool, a byte
// that is neither 0 nor 1.
template <class T>
bool ReadElements(BinaryReader& reader, T* block, int64_t count) {
  if (count == 0) return true;
  if (!reader.bytes(block, static_cast<size_t>(count) * sizeof(T))) return false;
  if (std::is_same<T, bool>::value) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block);
    for (int64_t i = 0; i < count; ++i) {
      if (bytes[i] > 1) return false;
    }
  }
  return true;
}

bool CountFits(const BinaryReader& reader, int32_t rows, int32_t cols, size_t elementSize) {
  int64_t count = ElementCount(rows, cols);
  return count <= std::numeric_limits<int32_t>::max() &&
         reader.fits(count, static_cast<int64_t>(elementSize));
}

}  // namespace

template <class T>
std::istream& Matrix<T>::ReadBinary(std::istream& in) {
  Release();
  BinaryReader reader(in);
  int32_t r = 0;
  int32_t c = 0;
  if (!reader.i32(r) || !reader.i32(c)) {
    in.setstate(std::ios::failbit);
    return in;
  }
  if (r > 0 && c > 0) {
    if (!CountFits(reader, r, c, sizeof(T))) {
      in.setstate(std::ios::failbit);
      return in;
    }
    SetSize(r, c);
    if (!ReadElements(reader, data, ElementCount(r, c))) {
      Release();
      in.setstate(std::ios::failbit);
    }
  }
  return in;
}

template <class T>
bool Matrix<T>::SaveStream(const char* path) const {
  return Save(path) == 0;
}

template <class T>
int Matrix<T>::Save(const char* path) const {
  std::ofstream out;
  if (!OpenOutputStream(out, path)) {
    std::fprintf(stderr, "Unable to open matrix file %s for writing\n", path);
    return -1;
  }
  WriteBinary(out);
  out.close();
  if (!out) {
    // Leave no half-written record behind.
    DeleteFileAt(path);
    std::fprintf(stderr, "Unable to write matrix file %s\n", path);
    return -1;
  }
  return 0;
}

template <class T>
int Matrix<T>::Load(const char* path) {
  std::ifstream in;
  if (!OpenInputStream(in, path)) {
    Release();
    std::fprintf(stderr, "Unable to open matrix file %s\n", path);
    return -1;
  }
  BinaryReader reader(in);
  int32_t r = 0;
  int32_t c = 0;
  bool ok = reader.i32(r) && reader.i32(c) && r >= 0 && c >= 0 &&
            CountFits(reader, r, c, sizeof(T));
  if (ok) {
    SetSize(r, c);
    ok = data == nullptr || ReadElements(reader, data, ElementCount(r, c));
  }
  if (!ok) {
    Release();
    std::fprintf(stderr, "Matrix file %s is truncated or not a matrix record\n", path);
    return -1;
  }
  return 0;
}

void ConvertMatrix(Matrix<float>& dst, const Matrix<double>& src) {
  dst.SetSize(src.rows, src.cols);
  if (dst.data == nullptr || src.data == nullptr) return;
  int64_t n = ElementCount(src.rows, src.cols);
  for (int64_t i = 0; i < n; ++i) dst.data[i] = static_cast<float>(src.data[i]);
}

void ConvertMatrix(Matrix<double>& dst, const Matrix<float>& src) {
  dst.SetSize(src.rows, src.cols);
  if (dst.data == nullptr || src.data == nullptr) return;
  int64_t n = ElementCount(src.rows, src.cols);
  for (int64_t i = 0; i < n; ++i) dst.data[i] = src.data[i];
}

#define SEGMENTER_INSTANTIATE(T) template class Matrix<T>;
SEGMENTER_MATRIX_TYPES(SEGMENTER_INSTANTIATE)
#undef SEGMENTER_INSTANTIATE
