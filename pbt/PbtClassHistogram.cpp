#include "pbt/PbtClassHistogram.h"

void PbtClassHistogram::resize(int n) {
  if (n == count) return;
  clear();
  if (n <= 0) return;
  count = n;
  // Deliberate: n RF constructions, one draw each (a fresh vector default-constructs
  // every element in place, without copies).
  featureHist = std::vector<RF>(static_cast<size_t>(n));
}

void PbtClassHistogram::clear() {
  std::vector<RF>().swap(featureHist);
  mass = 0.0;
  count = 0;
}
