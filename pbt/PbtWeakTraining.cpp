#include "pbt/PbtWeakTraining.h"

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "pbt/PbtLog.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"

namespace {

int8_t BinIndex(float v, const RF& hist) {
  const double q = (v - hist.min) / hist.width + 0.5;
  if (std::isnan(q)) return -1;
  const int32_t i = TruncToInt32(q);
  if (i < 0 || i >= hist.bins || i > std::numeric_limits<int8_t>::max()) return -1;
  return static_cast<int8_t>(i);
}

}  // namespace

void CheckWeakTrainingSet(const char* learner, PbtSampleSet* set, int featureIndex) {
  const auto misuse = [learner](const std::string& message) {
    FatalExit(1, learner + (": " + message) + "\n", stderr);
  };
  if (featureIndex < 0 || featureIndex >= set->numFeatures()) {
    misuse(FormatText("feature row %i is not among the set's %i features", featureIndex, set->numFeatures()));
  }
  if (set->getFeatureTable(true) == nullptr || set->getFeatureTable(false) == nullptr) {
    misuse("the sample set's features are not cached");
  }
  if (ElementCount(set->getWeights(true)) < set->numSamples(true) ||
      ElementCount(set->getWeights(false)) < set->numSamples(false)) {
    misuse("the sample set has fewer weights than samples");
  }
}

void ValueRange(const float* posRow, int nPos, const float* negRow, int nNeg, float* lo, float* hi) {
  *lo = std::numeric_limits<float>::infinity();
  *hi = -std::numeric_limits<float>::infinity();
  for (int i = 0; i < nPos; ++i) {
    if (posRow[i] < *lo) *lo = posRow[i];
    if (posRow[i] > *hi) *hi = posRow[i];
  }
  for (int i = 0; i < nNeg; ++i) {
    if (negRow[i] < *lo) *lo = negRow[i];
    if (negRow[i] > *hi) *hi = negRow[i];
  }
}

void BinValues(std::vector<int8_t>& bins, const float* values, int count, const RF& hist) {
  try {
    bins.assign(static_cast<size_t>(count), -1);
  } catch (const std::bad_alloc&) {
    FatalExit(1, "ERROR: out of mem (WeakClf)\n", stderr);
  } catch (const std::length_error&) {
    FatalExit(1, "ERROR: out of mem (WeakClf)\n", stderr);
  }
  for (int i = 0; i < count; ++i) bins[static_cast<size_t>(i)] = BinIndex(values[i], hist);
}
