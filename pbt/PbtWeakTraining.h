#pragma once
// Training steps shared by the two-class histogram learners (PbtAdaWeak, PbtRealWeak).
#include <cstdint>
#include <vector>

#include "numerics/RF.h"
#include "pbt/PbtSampleSet.h"

// The training contract: row featureIndex is among the set's features, the features
// are cached for both classes and every sample has a weight. A breach ends the run
// (status 1) with "<learner>: <what is wrong>\n" on the error stream.
void CheckWeakTrainingSet(const char* learner, PbtSampleSet* set, int featureIndex);

// *lo, *hi := the smallest and largest of the nPos values of posRow and the nNeg
// values of negRow. Values that are not numbers take no part (no value at all gives
// +infinity, -infinity).
void ValueRange(const float* posRow, int nPos, const float* negRow, int nNeg, float* lo, float* hi);

// bins := the bin of each of the `count` values on hist's grid: the integer part of
// (v - min) / width + 0.5, -1 for a value that is not a number or falls outside the
// bins. A failed allocation ends the run with "ERROR: out of mem (WeakClf)\n".
void BinValues(std::vector<int8_t>& bins, const float* values, int count, const RF& hist);

// RF::Cdf and RF::Pdf of one distribution at many points, from the running sums of its
// masses formed once: the sums Cdf forms, in its order, so every value is the same to
// the bit. The distribution must not change while the scan is used. Holds up to
// kMaxBins sums on the stack; a larger distribution is asked directly.
class CdfScan {
 public:
  static constexpr int kMaxBins = 256;
  explicit CdfScan(const RF& rf) : rf_(rf), direct_(rf.bins > kMaxBins) {
    if (direct_) return;
    double sum = 0.0;
    for (int i = 0; i < rf.bins; ++i) sums_[i] = sum += rf.pdf[i];
  }
  // RF::Cdf(x) and RF::Pdf(x) from one look-up of the bin of x.
  void at(double x, double* cdf, double* pdf) const {
    if (direct_) {
      *cdf = rf_.Cdf(x);
      *pdf = rf_.Pdf(x);
      return;
    }
    const int k = rf_.BinOf(x);
    *pdf = k >= 0 && k < rf_.bins ? rf_.pdf[k] : 0.0;
    *cdf = k < 0 || rf_.bins < 1 ? 0.0 : sums_[k < rf_.bins ? k : rf_.bins - 1];
  }

 private:
  const RF& rf_;
  bool direct_;
  double sums_[kMaxBins];
};
