#pragma once
// PbtAndBoost: a conjunction of decision stumps. A sample is positive only when every
// member votes positive (a member's vote that is not a number does not reject).
// PbtAdaBoost offers one as an extra candidate in each round when andLevels > 1.
//
// Training picks the members greedily, one level at a time: each level trains one
// stump per feature in the AND form (PbtAdaWeak::trainVariant2), which counts only
// the samples every earlier member accepted, and keeps the best. The sample weights
// are never changed; earlier levels act through the acceptance flags. Training
// leaves alphas empty and offset at 0.
//
// Random sequence: constructing a PbtAndBoost takes no draw. Training constructs one
// stump per feature (two draws each) and one clone per kept level (two draws).
//
// Record (little-endian), shared with PbtOrBoost:
//
//   float32 offset
//   int32   n, the number of members
//   n PbtAdaWeak records (153 bytes each), no type code and no alpha
//
// Reading gives n stump members and n alphas of 0.0; it rejects a short record, a
// negative n and an n that cannot fit in the bytes left (the object is then
// unchanged). A cascade of three stumps is 8 + 3 x 153 = 467 bytes.
#include <cstdint>
#include <functional>

#include "numerics/VectorQo.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtBooster.h"

class PbtAndBoost : public PbtBooster {
 public:
  // Empty, offset 0.0. No draw.
  PbtAndBoost() = default;
  ~PbtAndBoost() override = default;
  // The boosters' shared copy (PbtBooster::copyBoosterFrom).
  PbtAndBoost& operator=(const PbtAndBoost& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtAndBoost(); }
  void write(BinaryWriter& out) const override { writeStumpRecord(out, *this); }
  bool read(BinaryReader& in) override { return readStumpRecord(in, *this); }
  uint8_t typeCode() const override { return 3; }

  // params must be a PbtAdaWeakParams: numMembers levels at most; logName and
  // verbose steer the log ("    and: ..." per kept level). The set's features must
  // be cached. Stops at a level whose best stump is the previous level's feature or
  // whose error is not below the previous level's (nothing added), and after a level
  // that rejected no positive sample. Returns the weighted training error on the
  // set's weights, which it leaves unchanged.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;

  // -1.0 as soon as a member's decision for the entry is negative, else +1.0.
  float classifyInSet(PbtSampleSet* set, int classFlag, int index) override;
  // 1.0 when ensembleScore >= 0, else 0.0.
  float probability(PbtSample* sample) override;
  const char* getName() const override { return "AndBoost"; }

  // -1.0 as soon as a member's response is negative, else +1.0 (also when empty).
  virtual float ensembleScore(PbtSample* sample);
  // Clears the flag of every still-accepted sample (flag > 0) that the stump rejects,
  // judged on the cached value in row `featureIndex`.
  virtual void updateWeights(PbtSampleSet* set, const PbtAdaWeak& stump, int featureIndex,
                             VectorQo<short>& posFlags, VectorQo<short>& negFlags);

  // The cascade record of a booster whose members are stumps (also PbtOrBoost's).
  static void writeStumpRecord(BinaryWriter& out, const PbtBooster& booster);
  static bool readStumpRecord(BinaryReader& in, PbtBooster& booster);

  // The greedy level loop of both cascades (also PbtOrBoost's). Checks that params is
  // a PbtAdaWeakParams and that the features are cached (the fatal messages name
  // `className`), clears the booster and constructs one stump per feature (two draws
  // each). Each level trains every stump through trainStump and picks the first with
  // the lowest error; it stops as train() describes, else hands the pick to accept
  // (which updates the flags), adds a clone of it (two draws) and logs a line tagged
  // `tag`. Stops after a level once the entries of posFlags sum to their count.
  static void trainStumpCascade(PbtBooster& booster, PbtSampleSet* set, PbtClassifierParams* params,
                                const char* className, const char* tag, const VectorQo<short>& posFlags,
                                const std::function<float(PbtAdaWeak&, PbtAdaWeakParams*)>& trainStump,
                                const std::function<void(const PbtAdaWeak&, int)>& accept);
};
