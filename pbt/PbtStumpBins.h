#pragma once
// PbtStumpBins: the value ranges and bin indices of every feature of one cached sample
// set, shared by the stumps that one boosting run builds afresh for every tree node and
// round (PbtTreeWeak). They depend on the cached feature values and the number of
// thresholds only, so a stump takes them from here instead of binning the values again;
// the first stump of a feature fills its entry.
//
// Threads: entry i is filled and read only by the stump of feature i, which one worker
// trains at a time, so entries need no lock. Valid while the set's feature cache and
// sample counts stay as they were when it was made; the owner (PbtAdaBoost::train)
// drops it before the cache is freed.
#include <cstdint>
#include <vector>

class PbtStumpBins {
 public:
  struct Entry {
    bool filled = false;
    bool degenerate = false;  // no usable range: the stump stays degenerate
    float lo = 0.0f, hi = 0.0f;
    std::vector<int8_t> posBins, negBins;
  };

  PbtStumpBins(int numFeatures, int numPos, int numNeg, int numThresholds)
      : entries_(static_cast<size_t>(numFeatures > 0 ? numFeatures : 0)),
        numPos_(numPos),
        numNeg_(numNeg),
        numThresholds_(numThresholds) {}

  // The entry of feature row `featureIndex` for a set of these counts and thresholds;
  // null when it does not apply (another row range, count or threshold number).
  Entry* entry(int featureIndex, int numPos, int numNeg, int numThresholds) {
    if (featureIndex < 0 || static_cast<size_t>(featureIndex) >= entries_.size() || numPos != numPos_ ||
        numNeg != numNeg_ || numThresholds != numThresholds_)
      return nullptr;
    return &entries_[static_cast<size_t>(featureIndex)];
  }

 private:
  std::vector<Entry> entries_;
  int numPos_, numNeg_, numThresholds_;
};
