#pragma once
// Kro_HashedMatrix3D<T>: a sparse set of elements keyed by (i, j, k), the face store of
// one face axis.
//
// Each bucket has one inline cell and an overflow vector; Find looks at the inline cell
// and then scans the vector, so erasing an inline element never hides the vector's.
// T provides int16 i, j, k (i < 0: empty cell), IsEmpty, At and ResetCell.
//
// Pointers returned by Find and FindOrCreate stay valid only until the next FindOrCreate
// that creates an element, Erase or Clear: a growing store rehashes and vectors
// reallocate. Callers hold coordinates, not pointers, across those calls.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

template <class T>
class Kro_HashedMatrix3D {
 public:
  // `buckets` is rounded up to a power of two; a growing store doubles its buckets when
  // it holds more than two elements per bucket.
  explicit Kro_HashedMatrix3D(int buckets = 4096, bool grows = true) : grows_(grows) {
    Rebuild(RoundUp(buckets));
  }
  virtual ~Kro_HashedMatrix3D() = default;

  // Empties every bucket; count becomes 0. Inline cells keep their mark byte.
  virtual void Clear() {
    for (auto& c : cells_) c.ResetCell();
    for (auto& v : overflow_) std::vector<T>().swap(v);
    count_ = 0;
  }

  // The element at (i, j, k) or null. A negative coordinate finds nothing.
  T* Find(int i, int j, int k) {
    if (i < 0 || j < 0 || k < 0) return nullptr;
    uint32_t b = Bucket(i, j, k);
    T& c = cells_[b];
    if (c.At(i, j, k)) return &c;
    for (T& e : overflow_[b])
      if (e.At(i, j, k)) return &e;
    return nullptr;
  }
  // The element at (i, j, k), created when missing (inline cell when free, else appended
  // to the bucket's vector). Null for a negative coordinate or one above 32767.
  T* FindOrCreate(int i, int j, int k) {
    if (T* e = Find(i, j, k)) return e;
    if (i < 0 || j < 0 || k < 0 || i > 32767 || j > 32767 || k > 32767) return nullptr;
    if (grows_ && count_ + 1 > 2 * static_cast<int64_t>(cells_.size())) Rebuild(cells_.size() * 2);
    ++count_;
    return Insert(T(i, j, k));
  }
  // True when an element was removed. An inline element is reset in place; a vector
  // element is removed keeping the order of the others.
  bool Erase(int i, int j, int k) {
    if (i < 0 || j < 0 || k < 0) return false;
    uint32_t b = Bucket(i, j, k);
    T& c = cells_[b];
    if (c.At(i, j, k)) {
      c.ResetCell();
      --count_;
      return true;
    }
    auto& v = overflow_[b];
    for (std::size_t n = 0; n < v.size(); ++n)
      if (v[n].At(i, j, k)) {
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(n));
        --count_;
        return true;
      }
    return false;
  }

  int Count() const { return count_; }
  int BucketCount() const { return static_cast<int>(cells_.size()); }

  // Calls f(element) for every stored element (order unspecified).
  template <class F>
  void ForEach(F&& f) {
    for (std::size_t b = 0; b < cells_.size(); ++b) {
      if (!cells_[b].IsEmpty()) f(cells_[b]);
      for (T& e : overflow_[b]) f(e);
    }
  }

 private:
  static std::size_t RoundUp(int n) {
    std::size_t s = 1;
    while (s < static_cast<std::size_t>(n > 1 ? n : 1)) s *= 2;
    return s;
  }
  uint32_t Bucket(int i, int j, int k) const {
    uint32_t h = static_cast<uint32_t>(i) * 0x9E3779B1u ^ static_cast<uint32_t>(j) * 0x85EBCA77u ^
                 static_cast<uint32_t>(k) * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h & static_cast<uint32_t>(cells_.size() - 1);
  }
  T* Insert(T&& e) {
    uint32_t b = Bucket(e.i, e.j, e.k);
    if (cells_[b].IsEmpty()) {
      cells_[b] = std::move(e);
      return &cells_[b];
    }
    overflow_[b].push_back(std::move(e));
    return &overflow_[b].back();
  }
  // Moves every element into a table of n buckets.
  void Rebuild(std::size_t n) {
    std::vector<T> oldCells(n);
    std::vector<std::vector<T>> oldOverflow(n);
    oldCells.swap(cells_);
    oldOverflow.swap(overflow_);
    for (std::size_t b = 0; b < oldCells.size(); ++b) {
      if (!oldCells[b].IsEmpty()) Insert(std::move(oldCells[b]));
      for (T& e : oldOverflow[b]) Insert(std::move(e));
    }
  }

  std::vector<T> cells_;
  std::vector<std::vector<T>> overflow_;
  int count_ = 0;
  bool grows_ = true;
};
