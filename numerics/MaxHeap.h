#pragma once
// A bounded binary max-heap of HeapEntry records: pushes beyond the capacity
// are ignored.
#include "numerics/BinaryHeap.h"

class MaxHeap : public BinaryHeap<KeyGreater> {
 public:
  explicit MaxHeap(int capacity) : BinaryHeap<KeyGreater>(capacity) {}

  MaxHeap& Push(const HeapEntry& e) {
    BinaryHeap<KeyGreater>::Push(e);
    return *this;
  }
};
