#pragma once
// PbtAdaBoost: discrete AdaBoost over two-class sample sets, and the default node
// classifier of the multi-class tree.
//
// Each boosting round trains every candidate weak classifier on the weighted set,
// keeps a clone of the best one with a weight alpha = -ln(e / (1 - e)) and scales the
// weights of the samples it classifies correctly by e / (1 - e). The ensemble's
// score of a sample is the sum of the alphas of the members that vote for it; the
// probability is a logistic of (score - offset), the offset starting at half the
// alpha sum.
//
// Candidates: with params.treeDepth > 0 one PbtTreeWeak only; otherwise one
// PbtAdaWeak per feature of the set's pool, then a PbtOrBoost when orLevels > 1 and a
// PbtAndBoost when andLevels > 1 (both with max(orLevels, andLevels) members).
//
// Random sequence: constructing a PbtAdaBoost takes no draw. train() constructs its
// candidates once per call (each PbtAdaWeak two draws) and one clone per round (two
// draws per stump it holds), plus what the OR, AND and tree candidates construct
// while they train. The threshold changes construct one RF (one draw).
//
// Record (little-endian), chosen by gTypedClassifierFiles when writing and reading:
//
//   typed (flag != 0)                        legacy (flag == 0)
//   float32 offset                           float32 offset
//   int32   n, number of members             int32   n
//   n times: u8 type code (1..5),            n times: PbtAdaWeak record (153 bytes),
//            the member's record,                     float32 alpha
//            float32 alpha
//
// Type codes: 1 PbtAdaWeak, 2 PbtOrBoost, 3 PbtAndBoost, 4 PbtAdaBoost, 5 PbtTreeWeak
// (PbtClassifierFactory). The legacy layout holds stumps only: a member of another
// class is written with its own record and the file does not read back.
// read() rejects a short record, a negative n, an n that cannot fit in the bytes
// left, an unknown type code, a member that does not read, and boosters nested
// more than kMaxNesting deep; the object is then unchanged.
#include <cstdint>

#include "pbt/PbtBooster.h"

class PbtAdaBoost : public PbtBooster {
 public:
  // Nesting of boosters inside boosters that a reader accepts.
  static constexpr int kMaxNesting = 32;

  // Empty, offset 0.0. No draw.
  PbtAdaBoost() = default;
  ~PbtAdaBoost() override = default;
  // The boosters' shared copy (PbtBooster::copyBoosterFrom).
  PbtAdaBoost& operator=(const PbtAdaBoost& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtAdaBoost(); }
  // Typed or legacy record by gTypedClassifierFiles.
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  uint8_t typeCode() const override { return 4; }

  // Boosting on the set; params must be a PbtAdaBoostParams. Clears the members first
  // (alphas and offset are expected fresh: train a new object). The set's weights are
  // restored before returning; the result is the weighted training error of the
  // finished ensemble on those weights. Caches the set's features unless
  // params.noFeatureCache > 0 (then the caller must have cached them) and frees them
  // again. Stops after params.numWeak rounds, after a round whose error is below
  // 0.006 or above 0.495 (that round's member stays), or before a round in which no
  // candidate reaches an error below 1.0 (then nothing is added).
  // Log (WriteLog to params.logName): a header line, one line per round when
  // params.verbose is set, and the training error. Verbose mode also notes a round
  // without a usable candidate and weights that sum to zero.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;

  // The rule that ends the rounds: the float round error against the double bounds
  // 0.006 and 0.495, compared in double (so an error of exactly 0.495f stops).
  static bool stopsAfterRound(float bestError) { return bestError < 0.006 || bestError > 0.495; }

  // Set the offset from the weighted histogram of ensemble scores of the set's
  // positives (FalseNeg: the highest grid value below which less than `target` of
  // their weight lies) or negatives (FalsePos: the lowest grid value above which
  // less than `target` of their weight lies). Grid: -50 .. 50.01 in steps of 0.01.
  void changeToHaveFalseNeg(PbtSampleSet* set, float target) override;
  void changeToHaveFalsePos(PbtSampleSet* set, float target) override;

  // 1 / (1 + exp(-4 (score - offset))), computed in double and rounded to float.
  float probability(PbtSample* sample) override;
  const char* getName() const override { return "AdaBoost"; }

  // The float sum of alphas[i] over the members whose response to the sample is
  // >= 0 (a NaN response adds nothing).
  virtual float ensembleScore(PbtSample* sample);
  // One round's reweighting with the chosen weak classifier and its error e:
  // beta = e / (1 - e); alpha = -ln(beta) (ln 100 when beta is not > 0) is appended to
  // alphas and offset grows by alpha / 2; the weights of positives it calls positive
  // and of negatives it calls negative are multiplied by beta; then the weights are
  // normalised. Returns false when they sum to zero (left as they are, unnormalised).
  // `index` is not used.
  virtual bool updateWeights(PbtSampleSet* set, PbtClassifier* weak, int index, float error);

  // The legacy record, whatever the flag.
  virtual void writeLegacy(BinaryWriter& out) const;
  virtual bool readLegacy(BinaryReader& in);

 private:
  void writeRecord(BinaryWriter& out, bool typed) const;
  bool readRecord(BinaryReader& in, bool typed);
};
