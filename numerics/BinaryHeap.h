#pragma once
// The sifting shared by MinHeap and MaxHeap: a 1-based array of HeapEntry
// records of fixed capacity (root at 1, children of i at 2i and 2i + 1).
// `Before(a, b)` is strict, so equal keys never move past each other.
#include "numerics/HeapEntry.h"

template <class Before>
class BinaryHeap {
 public:
  explicit BinaryHeap(int capacity) : capacity_(capacity < 0 ? 0 : capacity) {
    entries_ = new HeapEntry[capacity_ + 1];
  }
  ~BinaryHeap() { delete[] entries_; }
  BinaryHeap(const BinaryHeap&) = delete;
  BinaryHeap& operator=(const BinaryHeap&) = delete;

  // Null when the heap is full (the entry is ignored); else the slot of the entry.
  HeapEntry* Push(const HeapEntry& e) {
    if (count_ >= capacity_) return nullptr;
    int pos = ++count_;
    while (pos != 1 && Before()(e.key, entries_[pos / 2].key)) {
      entries_[pos] = entries_[pos / 2];
      pos /= 2;
    }
    entries_[pos] = e;
    return &entries_[pos];
  }

  // Gives the root; the last entry is sifted down from the root towards the
  // child that comes first (the right one only when strictly first).
  bool Pop(HeapEntry* out) {
    if (count_ < 1) return false;
    *out = entries_[1];
    HeapEntry moving = entries_[count_--];
    int pos = 1;
    for (;;) {
      int child = 2 * pos;
      if (child > count_) break;
      if (child + 1 <= count_ && Before()(entries_[child + 1].key, entries_[child].key)) ++child;
      if (!Before()(entries_[child].key, moving.key)) break;
      entries_[pos] = entries_[child];
      pos = child;
    }
    entries_[pos] = moving;
    return true;
  }

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }

 private:
  int count_ = 0;
  int capacity_ = 0;
  HeapEntry* entries_ = nullptr;
};

struct KeyLess {
  bool operator()(double a, double b) const { return a < b; }
};
struct KeyGreater {
  bool operator()(double a, double b) const { return a > b; }
};
