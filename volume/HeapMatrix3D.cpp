// HeapMatrix3D: sizing, copying, views and element operations.
#include "volume/HeapMatrix3D.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "numerics/Matrix.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"

namespace {

constexpr int64_t kMaxElements = std::numeric_limits<int32_t>::max();

bool gAllocationFailureFatal = false;

void ReportAllocationFailure(int d0, int d1, int d2) {
  char line[96];
  std::snprintf(line, sizeof line, "Can not allocate memory size of %d x %d x %d\n", d0, d1, d2);
  if (gAllocationFailureFatal) FatalExit(1, line);
  std::fputs(line, stdout);
  std::fflush(stdout);
}

// Integer arithmetic of the element types wraps at their width; it is done on
// unsigned 32-bit values so that no signed overflow occurs, and the low bits are kept.
template <class T>
T AddInT(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
  } else {
    return a + b;
  }
}

int32_t WrapSub(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
int32_t WrapMul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
int32_t WrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

// Quotient truncated toward zero; INT32_MIN / -1 wraps instead of trapping.
int32_t WrapDiv(int32_t a, int32_t b) { return b == -1 ? WrapSub(0, a) : a / b; }

// A window start .. end (inclusive) lies inside 0 .. extent - 1.
bool WindowInside(int64_t start, int64_t end, int extent) { return start >= 0 && end < extent && start <= end; }

}  // namespace

template <class T>
HeapMatrix3D<T>::~HeapMatrix3D() {
  HeapMatrix3D::Release();
}

template <class T>
HeapMatrix3D<T>& HeapMatrix3D<T>::operator=(const HeapMatrix3D& other) {
  if (&other == this) return *this;
  // Every element is copied right away (a failed allocation leaves the volume empty).
  if (Resize(other.dim0_, other.dim1_, other.dim2_, !other.slices_) > 0) CopyElementsFrom(other);
  return *this;
}

template <class T>
void HeapMatrix3D<T>::CopyElementsFrom(const HeapMatrix3D& other) {
  if (!slices_ || !other.slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) std::copy(other.slices_[z][y], other.slices_[z][y] + dim2_, slices_[z][y]);
}

template <class T>
int HeapMatrix3D<T>::SetSize(int d0, int d1, int d2) {
  return Resize(d0, d1, d2, true);
}

template <class T>
int HeapMatrix3D<T>::Resize(int d0, int d1, int d2, bool zeroFill) {
  if (d0 == dim0_ && d1 == dim1_ && d2 == dim2_) return static_cast<int>(NumElements());
  Release();
  dim0_ = std::max(d0, 0);
  dim1_ = std::max(d1, 0);
  dim2_ = std::max(d2, 0);
  if (d0 < 1 || d1 < 1 || d2 < 1) return 0;

  // Sizes are computed in 64 bits; a count that an int cannot hold is refused like a
  // failed allocation.
  // The slice and row tables are allocated like the block: any of the three failing
  // takes the same path.
  const int64_t count = static_cast<int64_t>(d0) * d1 * d2;
  T* block = nullptr;
  T*** slices = nullptr;
  T** rows = nullptr;
  if (count <= kMaxElements) {
    block = zeroFill ? new (std::nothrow) T[static_cast<size_t>(count)]() : new (std::nothrow) T[static_cast<size_t>(count)];
    if (block) slices = new (std::nothrow) T**[static_cast<size_t>(d0)];
    if (slices) rows = new (std::nothrow) T*[static_cast<size_t>(d0) * d1];
  }
  if (!rows) {
    delete[] slices;
    delete[] block;
    ReportAllocationFailure(d0, d1, d2);
    dim0_ = dim1_ = dim2_ = 0;
    return 0;
  }
  data_ = block;
  slices_ = slices;
  rows_ = rows;
  for (int z = 0; z < d0; ++z) {
    slices_[z] = rows_ + static_cast<size_t>(z) * d1;
    for (int y = 0; y < d1; ++y) slices_[z][y] = data_ + (static_cast<size_t>(z) * d1 + y) * d2;
  }
  return static_cast<int>(count);
}

template <class T>
bool HeapMatrix3D<T>::Release() {
  delete[] data_;
  delete[] rows_;
  delete[] slices_;
  data_ = nullptr;
  rows_ = nullptr;
  slices_ = nullptr;
  dim0_ = dim1_ = dim2_ = 0;
  return true;
}

template <class T>
void HeapMatrix3D<T>::Clear() {
  Release();
}

// Goes through the slice table row by row, so it is right for views as well.
template <class T>
void HeapMatrix3D<T>::SetZero() {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) std::fill(slices_[z][y], slices_[z][y] + dim2_, T(0));
}

template <class T>
void HeapMatrix3D<T>::Fill(T value) {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) std::fill(slices_[z][y], slices_[z][y] + dim2_, value);
}

template <class T>
T HeapMatrix3D<T>::Sum() const {
  T sum = 0;
  if (!slices_) return sum;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      const T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x) sum = AddInT(sum, row[x]);
    }
  return sum;
}

template <class T>
T HeapMatrix3D<T>::Max() const {
  if (!slices_) return 0;
  T best = slices_[0][0][0];
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      const T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x)
        if (row[x] > best) best = row[x];
    }
  return best;
}

template <class T>
T HeapMatrix3D<T>::Min() const {
  if (!slices_) return 0;
  T best = slices_[0][0][0];
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      const T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x)
        if (row[x] < best) best = row[x];
    }
  return best;
}

template <class T>
void HeapMatrix3D<T>::MinMax(T& min, T& max) const {
  if (!slices_) return;
  min = max = slices_[0][0][0];
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      const T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x) {
        if (row[x] < min) min = row[x];
        if (row[x] > max) max = row[x];
      }
    }
}

template <class T>
void HeapMatrix3D<T>::Rescale(T lo, T hi) {
  T min = 0, max = 0;
  MinMax(min, max);
  if (min == max) {
    Fill(lo);
    return;
  }
  if constexpr (std::is_integral_v<T>) {
    const int32_t ilo = lo, imin = min;
    const int32_t factor = WrapDiv(WrapSub(hi, lo), WrapSub(max, min));
    for (int z = 0; z < dim0_; ++z)
      for (int y = 0; y < dim1_; ++y) {
        T* row = slices_[z][y];
        for (int x = 0; x < dim2_; ++x)
          row[x] = static_cast<T>(static_cast<uint32_t>(WrapAdd(WrapMul(WrapSub(row[x], imin), factor), ilo)));
      }
  } else if constexpr (std::is_same_v<T, float>) {
    const double factor = static_cast<double>(hi - lo) / static_cast<double>(max - min);
    for (int z = 0; z < dim0_; ++z)
      for (int y = 0; y < dim1_; ++y) {
        float* row = slices_[z][y];
        for (int x = 0; x < dim2_; ++x) row[x] = static_cast<float>((row[x] - min) * factor) + lo;
      }
  } else {
    const double factor = (hi - lo) / (max - min);
    for (int z = 0; z < dim0_; ++z)
      for (int y = 0; y < dim1_; ++y) {
        double* row = slices_[z][y];
        for (int x = 0; x < dim2_; ++x) row[x] = (row[x] - min) * factor + lo;
      }
  }
}

template <class T>
void HeapMatrix3D<T>::GetSlice(Matrix<T>& out, int index, char axis) const {
  if (!slices_) return;
  switch (axis) {
    case 0:
      if (index < 0 || index >= dim0_) return;
      out.SetSize(dim1_, dim2_);
      for (int y = 0; y < dim1_; ++y)
        for (int x = 0; x < dim2_; ++x) out(y, x) = slices_[index][y][x];
      return;
    case 1:
      if (index < 0 || index >= dim1_) return;
      out.SetSize(dim0_, dim2_);
      for (int z = 0; z < dim0_; ++z)
        for (int x = 0; x < dim2_; ++x) out(z, x) = slices_[z][index][x];
      return;
    case 2:
      if (index < 0 || index >= dim2_) return;
      out.SetSize(dim0_, dim1_);
      for (int z = 0; z < dim0_; ++z)
        for (int y = 0; y < dim1_; ++y) out(z, y) = slices_[z][y][index];
      return;
    default:
      return;
  }
}

template <class T>
void HeapMatrix3D<T>::AttachBox(HeapMatrix3D& source, const SubVolume& box, int marginBefore, int marginAfter,
                                bool reverse) {
  if (&source == this) {  // a volume cannot view itself: its elements go with Release
    Release();
    return;
  }
  Release();
  const int64_t inner = static_cast<int64_t>(box.z1) - box.z0 + 1;
  const int64_t d0 = inner + marginBefore + marginAfter;
  const int64_t d1 = static_cast<int64_t>(box.y1) - box.y0 + 1;
  const int64_t d2 = static_cast<int64_t>(box.x1) - box.x0 + 1;
  // The box must lie inside the source: the view's rows point into its elements.
  if (inner < 1 || d1 < 1 || d2 < 1 || marginBefore < 0 || marginAfter < 0 || source.NumElements() < 1) return;
  if (box.z0 < 0 || box.z1 >= source.dim0_ || box.y0 < 0 || box.y1 >= source.dim1_ || box.x0 < 0 ||
      box.x1 >= source.dim2_)
    return;
  // d1 * d2 is at most the source's element count; check in an order that cannot overflow.
  const int64_t margin = static_cast<int64_t>(marginBefore) + marginAfter;
  if (d0 > kMaxElements || margin > kMaxElements || d0 * d1 > kMaxElements || margin * d1 * d2 > kMaxElements)
    return;

  // Tables and margin block are allocated like SetSize's: a failure leaves the view
  // empty with SetSize's message.
  T*** slices = new (std::nothrow) T**[static_cast<size_t>(d0)];
  T** rows = slices ? new (std::nothrow) T*[static_cast<size_t>(d0 * d1)] : nullptr;
  T* marginBlock = nullptr;
  if (rows && margin > 0) marginBlock = new (std::nothrow) T[static_cast<size_t>(margin * d1 * d2)]();
  if (!rows || (margin > 0 && !marginBlock)) {
    delete[] rows;
    delete[] slices;
    ReportAllocationFailure(static_cast<int>(d0), static_cast<int>(d1), static_cast<int>(d2));
    return;
  }
  dim0_ = static_cast<int>(d0);
  dim1_ = static_cast<int>(d1);
  dim2_ = static_cast<int>(d2);
  slices_ = slices;
  rows_ = rows;
  for (int z = 0; z < dim0_; ++z) slices_[z] = rows_ + static_cast<size_t>(z) * dim1_;
  for (int i = 0; i < inner; ++i) {
    const int s = reverse ? source.dim0_ - 1 - box.z0 - i : box.z0 + i;
    for (int y = 0; y < dim1_; ++y) slices_[marginBefore + i][y] = source.slices_[s][box.y0 + y] + box.x0;
  }
  if (margin > 0) {
    data_ = marginBlock;
    T* next = data_;
    auto attachMargin = [&](int z) {
      for (int y = 0; y < dim1_; ++y, next += dim2_) slices_[z][y] = next;
    };
    for (int z = 0; z < marginBefore; ++z) attachMargin(z);
    for (int z = dim0_ - marginAfter; z < dim0_; ++z) attachMargin(z);
  }
}

template <class T>
void HeapMatrix3D<T>::FlipDim0() {
  if (!slices_) return;
  for (int z = 0; z < dim0_ / 2; ++z)
    for (int y = 0; y < dim1_; ++y)
      std::swap_ranges(slices_[z][y], slices_[z][y] + dim2_, slices_[dim0_ - 1 - z][y]);
}

template <class T>
void HeapMatrix3D<T>::FlipDim1() {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_ / 2; ++y)
      std::swap_ranges(slices_[z][y], slices_[z][y] + dim2_, slices_[z][dim1_ - 1 - y]);
}

template <class T>
void HeapMatrix3D<T>::FlipDim2() {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) std::reverse(slices_[z][y], slices_[z][y] + dim2_);
}

template <class T>
void HeapMatrix3D<T>::CropAround(HeapMatrix3D& out, int size0, int size1, int size2, int centre0, int centre1,
                                 int centre2) const {
  if (&out == this) {  // cropping into itself: go through a copy
    HeapMatrix3D copy(*this);
    copy.CropAround(out, size0, size1, size2, centre0, centre1, centre2);
    return;
  }
  out.SetSize(size0, size1, size2);
  out.SetZero();
  const int64_t start0 = static_cast<int64_t>(centre0) - (size0 - 1) / 2, end0 = static_cast<int64_t>(centre0) + size0 / 2;
  const int64_t start1 = static_cast<int64_t>(centre1) - (size1 - 1) / 2, end1 = static_cast<int64_t>(centre1) + size1 / 2;
  const int64_t start2 = static_cast<int64_t>(centre2) - (size2 - 1) / 2, end2 = static_cast<int64_t>(centre2) + size2 / 2;
  if (out.NumElements() < 1 || !WindowInside(start0, end0, dim0_) || !WindowInside(start1, end1, dim1_) ||
      !WindowInside(start2, end2, dim2_)) {
    std::printf("Cannot crop: out of bounds. \n");
    std::fflush(stdout);
    return;
  }
  for (int z = 0; z < size0; ++z)
    for (int y = 0; y < size1; ++y) {
      const T* from = slices_[start0 + z][start1 + y] + start2;
      std::copy(from, from + size2, out.slices_[z][y]);
    }
}

template <class T>
void HeapMatrix3D<T>::AddConstant(T c) {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x) row[x] = AddInT(row[x], c);
    }
}

template <class T>
void HeapMatrix3D<T>::ClampBelow(T bound) {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x)
        if (row[x] < bound) row[x] = bound;
    }
}

template <class T>
void HeapMatrix3D<T>::ClampAbove(T bound) {
  if (!slices_) return;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y) {
      T* row = slices_[z][y];
      for (int x = 0; x < dim2_; ++x)
        if (row[x] > bound) row[x] = bound;
    }
}

template class HeapMatrix3D<unsigned char>;
template class HeapMatrix3D<short>;
template class HeapMatrix3D<int>;
template class HeapMatrix3D<float>;
template class HeapMatrix3D<double>;

void ConvertVolume(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  if (out.NumElements() < 1 || in.NumElements() < 1) return;
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) out[z][y][x] = in[z][y][x];
}

void ConvertVolume(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<short>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  if (out.NumElements() < 1 || in.NumElements() < 1) return;
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) out[z][y][x] = LowByte(in[z][y][x]);
}

bool CropVolume(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& in, const SubVolume& box) {
  if (box.x0 < 0 || box.y0 < 0 || box.z0 < 0 || box.x1 < box.x0 || box.y1 < box.y0 || box.z1 < box.z0 ||
      box.x1 >= in.dim2() || box.y1 >= in.dim1() || box.z1 >= in.dim0() || in.NumElements() < 1 || &out == &in) {
    if (&out != &in) out.Clear();
    return false;
  }
  if (out.SetSize(box.z1 - box.z0 + 1, box.y1 - box.y0 + 1, box.x1 - box.x0 + 1) < 1) return false;
  for (int z = box.z0; z <= box.z1; ++z)
    for (int y = box.y0; y <= box.y1; ++y) {
      const unsigned char* from = in[z][y] + box.x0;
      std::copy(from, from + (box.x1 - box.x0 + 1), out[z - box.z0][y - box.y0]);
    }
  return true;
}

bool PasteSubVolume(HeapMatrix3D<unsigned char>& out, int x0, int y0, int z0, const HeapMatrix3D<unsigned char>& in) {
  if (in.NumElements() < 1) return true;
  if (x0 < 0 || y0 < 0 || z0 < 0 || static_cast<int64_t>(z0) + in.dim0() > out.dim0() ||
      static_cast<int64_t>(y0) + in.dim1() > out.dim1() || static_cast<int64_t>(x0) + in.dim2() > out.dim2() ||
      out.NumElements() < 1)
    return false;
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y) std::copy(in[z][y], in[z][y] + in.dim2(), out[z0 + z][y0 + y] + x0);
  return true;
}

void SetVolumeAllocationFailureFatal(bool fatal) { gAllocationFailureFatal = fatal; }
