#pragma once
// A plain 2-D array: one element block with a row table, no arithmetic and no files.
// Elements are default-constructed (zero for arithmetic types).
// Copying is not supported (SimpleMatrix3D owns arrays of these and copies element-wise).

template <class T>
class SimpleMatrix {
 public:
  SimpleMatrix() = default;
  SimpleMatrix(const SimpleMatrix&) = delete;
  SimpleMatrix& operator=(const SimpleMatrix&) = delete;
  virtual ~SimpleMatrix() { SimpleMatrix::Release(); }

  // -1 for a negative extent (nothing allocated), else the result of AllocateElements.
  virtual int Allocate(int rows, int cols) {
    if (rows < 0 || cols < 0) return -1;
    return AllocateElements(rows * cols);
  }
  // A block of n elements and a row table of `rows` entries, built from the stored extents.
  virtual int AllocateElements(int n) {
    data_ = new T[n > 0 ? n : 0]();
    rowTable_ = new T*[rows_ > 0 ? rows_ : 0];
    for (int r = 0; r < rows_; ++r) rowTable_[r] = data_ + r * cols_;
    return 0;
  }
  virtual int Release() {
    delete[] data_;
    delete[] rowTable_;
    data_ = nullptr;
    rowTable_ = nullptr;
    rows_ = 0;
    cols_ = 0;
    return 0;
  }

  // Same extents: nothing. Otherwise releases, stores the extents and allocates
  // when both are at least 1. Contents are not kept.
  int SetSize(int rows, int cols) {
    if (rows == rows_ && cols == cols_) return 0;
    Release();
    rows_ = rows;
    cols_ = cols;
    if (rows >= 1 && cols >= 1) Allocate(rows, cols);
    return 0;
  }

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T* operator[](int r) { return rowTable_[r]; }
  const T* operator[](int r) const { return rowTable_[r]; }
  T& operator()(int r, int c) { return data_[r * cols_ + c]; }
  const T& operator()(int r, int c) const { return data_[r * cols_ + c]; }

 private:
  T* data_ = nullptr;
  T** rowTable_ = nullptr;
  int rows_ = 0;
  int cols_ = 0;
};
