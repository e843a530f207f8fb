// The error evaluation of a two-class decision over a multi-class set.
#include "pbt/PbtClassifier.h"
#include "pbt/PbtMSampleSet.h"

void PbtClassifier::evaluateErrorMulti(PbtMSampleSet* set, VectorQo<bool> mask, float* falsePos,
                                       float* falseNeg, float* total, bool weighted) {
  *falsePos = 0.0f;
  *falseNeg = 0.0f;
  float massOn = 0.0f, massOff = 0.0f;
  const int nMask = mask.rows * mask.cols;
  int c = 0, i = 0;
  set->reset();
  while (set->next(c, i)) {
    const float p = probability(set->current());
    const float w = weighted ? static_cast<float>(set->currentWeight()) : 1.0f;
    if (c >= 0 && c < nMask && mask[c]) {
      massOn += w;
      if (p < 0.5f) *falseNeg += w;
    } else {
      massOff += w;
      if (p >= 0.5f) *falsePos += w;
    }
  }
  *total = *falsePos + *falseNeg;
  *falseNeg /= massOn;
  *falsePos /= massOff;
}
