#pragma once
// PbtOrBoost: a disjunction of decision stumps. A sample is positive as soon as any
// member votes positive. PbtAdaBoost offers one as an extra candidate in each round
// when orLevels > 1.
//
// Training picks the members greedily: each round trains one stump per feature in
// the OR form (PbtAdaWeak::trainVariant1), which leaves out the samples an earlier
// member already accepted, keeps the best and marks the samples it accepts. The
// sample weights are left as they were. Training leaves alphas empty and offset
// at 0; neither takes part in the decision.
//
// Random sequence: constructing a PbtOrBoost takes no draw. Training constructs one
// stump per feature (two draws each) and one clone per kept round (two draws).
//
// Record: the cascade record of PbtAndBoost (offset, n, n stump records).
#include <cstdint>

#include "numerics/VectorQo.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtBooster.h"

class PbtOrBoost : public PbtBooster {
 public:
  // Empty, offset 0.0. No draw.
  PbtOrBoost() = default;
  ~PbtOrBoost() override = default;
  // The boosters' shared copy (PbtBooster::copyBoosterFrom).
  PbtOrBoost& operator=(const PbtOrBoost& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtOrBoost(); }
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  uint8_t typeCode() const override { return 2; }

  // params must be a PbtAdaWeakParams: numMembers rounds at most; logName and verbose
  // steer the log ("    or: ..." per kept round). The set's features must be cached.
  // Stops at a round whose best stump is the previous round's feature or whose error
  // is not below the previous round's (nothing added), and after a round once every
  // positive sample is accepted. Returns the weighted training error on the set's
  // weights, which it leaves unchanged.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;

  // +1.0 as soon as a member's decision for the entry is >= 0, else -1.0 (also when
  // empty).
  float classifyInSet(PbtSampleSet* set, int classFlag, int index) override;
  // 1.0 when ensembleScore >= 0, else 0.0.
  float probability(PbtSample* sample) override;
  const char* getName() const override { return "OrBoost"; }

  // +1.0 as soon as a member's response is >= 0, else -1.0 (also when empty).
  virtual float ensembleScore(PbtSample* sample);
  // Marks (mark := 1) every not yet marked sample (mark <= 0) that the stump accepts,
  // judged on the cached value in row `featureIndex`. Marks once set stay set.
  virtual void markAccepted(PbtSampleSet* set, const PbtAdaWeak& stump, int featureIndex,
                            VectorQo<short>& posMarks, VectorQo<short>& negMarks);
};
