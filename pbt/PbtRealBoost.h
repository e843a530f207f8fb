#pragma once
// PbtRealBoost: two-class boosting with confidence-rated weak learners. Its score
// for a sample is the sum of the responses of its PbtRealWeak members; its
// probability of the positive class is 1 / (1 + exp(-2 (F - threshold))). Training
// adds one member per round, the best of one candidate per feature, and reweights
// the samples by the exponential of that member's response. The threshold can be
// moved afterwards so that a target false-negative or false-positive rate is met.
//
// Members: the shared booster list (PbtBooster), each a PbtRealWeak, in training
// order or file order after reading. The shared alphas and offset are not used.
//
// Random sequence: constructing a PbtRealBoost takes no draw. Each member it creates
// takes three (PbtRealWeak): reading creates one per stored member, clone() one per
// member, training one candidate per feature plus one copy per round.
// changeToHaveFalseNeg / changeToHaveFalsePos construct one local RF (one draw) each.
//
// Record (little-endian):
//
//   offset  size      field
//   0       4         threshold  float32
//   4       4         n          int32, number of members
//   8       variable  n PbtRealWeak records, without type byte
//
// read() rejects a negative count, a count whose smallest member records do not fit
// in the bytes left, and any member record that does not read; the booster is then
// unchanged.
#include <vector>

#include "pbt/PbtBooster.h"
#include "pbt/PbtRealWeak.h"

class PbtRealBoost : public PbtBooster {
 public:
  PbtRealBoost() = default;
  // clear(), then a clone of each member of the source in order; threshold copied.
  PbtRealBoost& operator=(const PbtRealBoost& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtRealBoost(); }
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  // params must be a PbtAdaBoostParams (numWeak, logName, verbose are read). Trains
  // on the set's cached features and returns the weighted training error of the
  // ensemble on the set's weights as they were on entry. The set's weights and class
  // masses are restored before the error is measured. The threshold is not changed.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;
  // threshold := the first grid value (grid -50..50, step 0.01), walking down from
  // the top, below which (its bin included) less than `rate` of the positive weight
  // lies; one step below the grid when none is found.
  void changeToHaveFalseNeg(PbtSampleSet* set, float rate) override;
  // threshold := the first grid value, walking up, above which less than `rate` of
  // the negative weight lies.
  void changeToHaveFalsePos(PbtSampleSet* set, float rate) override;
  // 1 / (1 + exp(-2 (F - threshold))), F = ensembleScore.
  float probability(PbtSample* sample) override;
  const char* getName() const override { return "RealBoost"; }

  // The sum of the members' responses, accumulated in float from 0.
  virtual float ensembleScore(PbtSample* sample);
  // One reweighting after a round: each positive weight times exp(-h), each negative
  // weight times exp(h), h = weak's response to the sample's cached value of row
  // featureIndex; then filterByWeights renormalises.
  virtual void updateWeights(PbtSampleSet* set, PbtRealWeak& weak, int featureIndex);
  // The rounds go on after a round whose best error lies in [0.005, 0.495]
  // (compared in float, so errors of exactly 0.005f and 0.495f go on).
  static bool keepsTraining(float bestError) { return bestError >= 0.005f && bestError <= 0.495f; }

  float threshold = 0.0f;  // score at which the probability is 0.5

 private:
  // The threshold walk shared by the two rate targets.
  void moveThreshold(PbtSampleSet* set, float rate, bool positives);
};
