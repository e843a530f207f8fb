#pragma once
// A binary min-heap of HeapEntry records. Callers never push more entries than
// the capacity; a push beyond it is ignored and gives null.
#include "numerics/BinaryHeap.h"

class MinHeap : public BinaryHeap<KeyLess> {
 public:
  explicit MinHeap(int capacity) : BinaryHeap<KeyLess>(capacity) {}
};
