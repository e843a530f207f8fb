#pragma once
// PbtAdaWeak: the decision stump. One feature, a threshold and a polarity; it votes
// +1 or -1 on a sample by comparing the feature's value with the threshold.
//
// Training reads the set's feature cache (calculateAllFeatures first): the stump
// bins every sample's value of its feature once per sample set (`prepared`; one
// signed byte per sample), then each training call re-accumulates the current weights
// into two histograms (posHist, negHist, one per class) and scans the thresholds
// once, with a penalty for thresholds in dense regions. PbtAdaBoost trains stumps
// through train(); the OR and AND cascades through trainVariant1 / trainVariant2,
// which leave out the samples the cascade has already decided.
//
// Random sequence: a PbtAdaWeak holds two RF, so constructing one (the constructor,
// create(), clone(), the factory, a reader creating a member) takes two draws.
// Assignment takes none. PbtAdaWeak(WithoutDraw) takes none either: it is for a
// candidate that is trained and thrown away, whose caller takes the two draws itself.
//
// Record (little-endian), 153 bytes:
//
//   offset size field
//   0      143  fid          PbtFid record
//   143    1    degenerate   u8, 0 or 1
//   144    1    polarity     u8, 0 or 1
//   145    4    threshold    float32
//   149    4    alpha        float32
//
// read() rejects a short record, an unterminated description and flag bytes other
// than 0 or 1; it sets prepared to 0. featureIndex, the histograms and the bins are
// not stored (a loaded stump answers response() without preparation).
#include <cstdint>
#include <vector>

#include "numerics/Matrix.h"
#include "numerics/RF.h"
#include "pbt/PbtClassifier.h"
#include "pbt/PbtStumpBins.h"

class PbtAdaWeak : public PbtClassifier {
 public:
  static constexpr int kRecordSize = 153;
  // Largest number of threshold steps: the largest bin index, the integer part of
  // (n + 2)(n + 1) / n + 0.5, must fit in a signed byte.
  static constexpr int kMaxThresholds = 124;

  // An untrained stump: default fid, threshold and alpha -1.0, polarity 0.
  // Takes two draws (posHist and negHist).
  PbtAdaWeak() = default;
  // The same untrained stump, taking no draw (histograms built by RF(WithoutDraw)).
  // Training draws nothing and reads neither histogram's held value, and settings()
  // and assignment carry no histogram, so a candidate built this way trains to the
  // same stump. Only where the caller takes two plain UniformRandom(&gUniformRandomSeed)
  // draws in its place on the drawing thread, at the point of the sequence where the
  // drawing construction would have taken them; never for a stump that is kept,
  // copied whole, cloned or drawn from.
  explicit PbtAdaWeak(WithoutDraw noDraw) : posHist(noDraw), negHist(noDraw) {}
  ~PbtAdaWeak() override = default;
  // Copies fid, degenerate, polarity, threshold, alpha and featureIndex; the copy
  // prepares its own histograms and bins when trained (prepared := 0). No draw.
  PbtAdaWeak& operator=(const PbtAdaWeak& other);

  // What assignment copies, held apart from a stump (no distribution, no draw).
  struct Settings {
    PbtFid fid;
    uint8_t degenerate = 0;
    uint8_t polarity = 0;
    float threshold = -1.0f;
    float alpha = -1.0f;
    int featureIndex = -1;
  };
  Settings settings() const { return {fid, degenerate, polarity, threshold, alpha, featureIndex}; }
  // The settings as assignment from a stump holding them would leave them.
  void assign(const Settings& s);

  // A new stump (two draws), then assignment.
  PbtClassifier* clone() const override;
  // A new default stump (two draws).
  PbtClassifier* create() const override;
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  uint8_t typeCode() const override { return 1; }
  // params must be a PbtAdaWeakParams: featureIndex := params.featureIndex (the row
  // of the feature in the set's cache), numThresholds in 1..kMaxThresholds, the fid
  // taken on preparation. Returns the weighted training error, 0.5 when degenerate.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;
  // decide() on the cached value: row featureIndex, column `index` of the positive
  // (flag 1) or negative (any other flag) table.
  float classifyInSet(PbtSampleSet* set, int classFlag, int index) override;
  float probability(PbtSample*) override { return 0.0f; }
  // decide() on the sample's value of fid.
  float response(PbtSample* sample) override;
  void collectFeatures(std::vector<PbtFid>& out) const override { out.push_back(fid); }
  // The description of fid.
  const char* getName() const override { return fid.description; }

  // Training inside a cascade: the flags hold one value per positive / negative
  // sample in sample-index order. The OR form leaves out the samples whose flag is
  // > 0, the AND form those whose flag is <= 0; their weight goes into the class
  // shares. Both return the training error (0.5 when degenerate).
  virtual float trainVariant1(PbtSampleSet* set, PbtAdaWeakParams* params,
                              const Matrix<short>& posFlags, const Matrix<short>& negFlags);
  virtual float trainVariant2(PbtSampleSet* set, PbtAdaWeakParams* params,
                              const Matrix<short>& posFlags, const Matrix<short>& negFlags);
  // +1.0 when (polarity 0 and value <= threshold) or (polarity 1 and value >= threshold),
  // else -1.0 (also for NaN).
  virtual float decide(float value) const {
    if (polarity == 0) return value <= threshold ? 1.0f : -1.0f;
    return value >= threshold ? 1.0f : -1.0f;
  }
  // The next training call prepares again (for a new sample set).
  virtual void clearFlag() { prepared = 0; }
  // Threshold choice on the prepared histograms; sets threshold, polarity and alpha
  // and returns the error. Form 1: plain and OR cost; form 2: AND cost.
  virtual float computeWeight1(float meanPos, float meanNeg, float prior);
  virtual float computeWeight2(float meanPos, float meanNeg, float prior);

  // State, public for the cascades and boosters built on the stump.
  PbtFid fid;
  uint8_t degenerate = 0;  // the feature cannot be split; never trained again
  uint8_t polarity = 0;    // 0: +1 when value <= threshold; 1: +1 when value >= threshold
  float threshold = -1.0f;
  float alpha = -1.0f;     // -ln(e / (1 - e)) of the last training error e; ln 10 when e <= 0
  uint8_t prepared = 0;    // histogram ranges and bin indices exist
  RF posHist;              // weighted histogram of the positives' values (one draw)
  RF negHist;              // weighted histogram of the negatives' values (one draw)
  std::vector<int8_t> posBins;  // bin of each positive sample's value; -1: no bin
  std::vector<int8_t> negBins;  // (both empty while the bins are a PbtStumpBins entry's)
  float posShare = 1.0f;   // fraction of the positive weight still open to this stump
  float negShare = 1.0f;
  int featureIndex = -1;   // row of the feature in the set's cache, set by training

 private:
  enum class Form { kPlain, kOr, kAnd };
  // Prepares when needed, accumulates the weights and gives the two class means and
  // the prior. Returns false when the stump is (or becomes) degenerate.
  bool searchThreshold(PbtSampleSet* set, PbtAdaWeakParams* params, Form form,
                       const Matrix<short>* posFlags, const Matrix<short>* negFlags,
                       float* meanPos, float* meanNeg, float* prior);
  void prepare(PbtSampleSet* set, PbtAdaWeakParams* params);
  float computeWeight(float meanPos, float meanNeg, float c, bool andCost);
  // The bins in use: this stump's own, or those of the PbtStumpBins entry it was
  // prepared from (read there, not copied; valid while that entry lives, which is
  // while the boosting run that trains this stump lasts).
  const std::vector<int8_t>& binsOf(bool positive) const {
    if (sharedBins_ != nullptr) return positive ? sharedBins_->posBins : sharedBins_->negBins;
    return positive ? posBins : negBins;
  }
  const PbtStumpBins::Entry* sharedBins_ = nullptr;
};
