#pragma once
// PbtMGentalBoost: multi-class gentle boosting over the multi-class sample set. Each
// round trains one candidate PbtMGentalWeak per feature of the pool, keeps a copy of
// the one with the smallest weighted error and reweights every sample by exp(-h),
// h = that learner's response for the sample's own class. The ensemble's class
// response is the sum of its members' class responses; its posterior is the
// soft-max of that sum.
//
// Members: the shared booster list (PbtBooster), each a PbtMGentalWeak with
// numClasses functions, in training or file order; `offset` is copied, written and
// read and used by nothing; the shared alphas are not used.
//
// Random sequence: constructing a booster takes no draw. Training constructs one
// candidate per feature (two draws each), which add one draw per active class when
// they first train, and one copy per round (two draws plus one per class). Reading
// takes two draws plus one per function for every stored member, clone() the same
// per member.
//
// Record (little-endian):
//
//   offset  size      field
//   0       4         offset      float32
//   4       4         n           int32, number of members
//   8       variable  n PbtMGentalWeak records, without type byte
//   ...     4         numClasses  int32
//   ...     4         numLabels   int32
//
// read() rejects a negative count, a count whose smallest member records do not fit
// in the bytes left, a member record that does not read, class counts outside
// 0 <= numClasses <= numLabels <= 32768, a member whose function count is not
// numClasses and a function label not below numLabels; the booster is then
// unchanged.
#include <vector>

#include "pbt/PbtBooster.h"
#include "pbt/PbtMGentalWeak.h"
#include "pbt/PbtMSampleSet.h"

class PbtMGentalBoost : public PbtBooster {
 public:
  PbtMGentalBoost() = default;
  // clear(), then a clone of each member of the source in order; offset, numLabels
  // and numClasses copied.
  PbtMGentalBoost& operator=(const PbtMGentalBoost& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtMGentalBoost(); }
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  // out := numClasses class posteriors: the soft-max of classResponse, each exponent
  // taken relative to the largest response and clamped to [-100, 100].
  void posterior(PbtSample* sample, VectorQo<double>& out) override;
  float probability(PbtSample*) override { return 0.0f; }
  const char* getName() const override { return "MGentalBoost"; }

  // out := numClasses entries, the sum of the members' class responses.
  virtual void classResponse(PbtSample& sample, VectorQo<double>& out);
  // Trains numWeak rounds at most (params: numWeak, gentleFlag, logName, verbose)
  // on the set's cached features and returns the weighted training error. The set's
  // weights are saved before the rounds and restored before the error is measured.
  virtual double trainMulti(PbtMSampleSet& set, PbtAdaBoostParams& params);
  // Weighted error over the entries of active classes: an entry counts when the
  // first largest posterior is not its own class. perClass[s] := the error of slot s
  // divided by its weight (left as the raw sum when that weight is 0). Returns the
  // raw total.
  virtual double errorMulti(PbtMSampleSet& set, VectorQo<double>& perClass);
  // Multiplies the weight of every entry of an active class by exp(-h), h = the
  // response of `weak` for the entry's class at the entry's cached value of row
  // featureIndex, clamped to [-100, 100]; then normalises the set's weights.
  virtual void updateWeightsMulti(PbtMSampleSet& set, PbtMGentalWeak& weak, int featureIndex);

  // The rounds stop after a round whose best error is at most 0.02 (in float).
  static bool keepsTraining(float bestError) { return !(bestError <= 0.02f); }

  int numLabels = 0;   // class labels of the training set
  int numClasses = 0;  // active classes: the length of every class vector
};
