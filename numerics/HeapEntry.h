#pragma once
// The entry of the binary heaps: a key and the value it orders.

struct HeapEntry {
  double key = 0.0;
  int value = -1;
};
