#pragma once
// PbtClassHistogram: the feature histograms of one class of a multi-class sample set,
// one RF per feature, used by the split search (PbtMSampleSet::buildHistograms and
// bestSplit). All histograms of one feature share one grid across the classes.
//
// Random sequence: every RF constructed here takes one draw, so resize(n) to a new
// count takes n draws; a default PbtClassHistogram and clear() take none.
#include <vector>

#include "numerics/RF.h"

class PbtClassHistogram {
 public:
  PbtClassHistogram() = default;
  virtual ~PbtClassHistogram() = default;

  // When n differs from count: clear(), then for n > 0 count = n and n freshly
  // constructed RF (n draws). Nothing when n equals count.
  void resize(int n);
  // Drops the histograms; count 0, mass 0.0.
  void clear();

  std::vector<RF> featureHist;  // one histogram per feature (count of them)
  int count = 0;
  double mass = 0.0;  // the class mass bestSplit weighs this class with
};
