#pragma once
// PbtRealWeak: the confidence-rated weak learner of PbtRealBoost. It looks at one
// feature: training builds weighted, smoothed histograms of the feature's values
// for the positive and the negative samples on a common grid, turns them bin by bin
// into a smoothed estimate q of the probability of the positive class, and stores
// the response 0.5 ln(q / (1 - q)) per bin in `responseTable`. Applying it looks up
// the bin of the sample's value of the feature.
//
// Training reads the set's feature cache (calculateAllFeatures first). The bins of
// the samples are computed once per sample set (`binned`) and reused; each training
// call refills the histograms from the current weights.
//
// Random sequence: a PbtRealWeak holds three RF (responseTable, posHist, negHist),
// so every construction (the constructor, create(), clone(), a reader creating a
// member) takes three draws. Assignment takes none.
//
// Record (little-endian):
//
//   offset  size      field
//   0       143       fid            PbtFid record
//   143     1         invalid        u8, 0 or 1
//   144     8n + 28   responseTable  RF record (numerics/RF.h), n masses
//
// read() rejects a short record, an unterminated description, an invalid flag other
// than 0 or 1 and a malformed distribution record; it sets binned to 0.
#include <cstdint>
#include <vector>

#include "numerics/RF.h"
#include "pbt/PbtClassifier.h"

// Parameters of one training call of a PbtRealWeak.
class PbtRealWeakParams : public PbtClassifierParams {
 public:
  const char* describe() override { return "PbtRealWeakParams"; }

  PbtFid fid;             // the feature the learner uses
  int numBins = 30;       // histogram resolution, 1..PbtRealWeak::kMaxBins
  int featureIndex = -1;  // row of the feature in the sample set's feature cache
  // Sums of the set's positive and negative weights (as Matrix::Sum forms them), given
  // by a caller that forms them once for many learners over unchanged weights; when
  // not given the learner forms them itself.
  bool weightSumsGiven = false;
  double posWeightSum = 0.0;
  double negWeightSum = 0.0;
};

class PbtRealWeak : public PbtClassifier {
 public:
  // Smallest record: the fid, the flag and a distribution without masses.
  static constexpr int kMinRecordSize = PbtFid::kRecordSize + 1 + 28;
  // Largest numBins: the bin of every value, the integer part of
  // (n + 2)(n + 1) / n + 0.5 at most, must fit in a signed byte.
  static constexpr int kMaxBins = 124;

  // An untrained learner: not invalid, not binned, empty response table. Three draws.
  PbtRealWeak() = default;
  ~PbtRealWeak() override = default;
  // Copies responseTable, fid and invalid; binned := 0 (the copy bins again when
  // trained). No draw.
  PbtRealWeak& operator=(const PbtRealWeak& other);

  // A new learner (three draws), then assignment.
  PbtClassifier* clone() const override;
  // A new default learner (three draws).
  PbtClassifier* create() const override;
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  // params must be a PbtRealWeakParams. Returns the training error; 0.5 when the
  // feature is (or becomes) invalid.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;
  float probability(PbtSample*) override { return 0.0f; }
  // responseForValue of the sample's value of fid.
  float response(PbtSample* sample) override;
  void collectFeatures(std::vector<PbtFid>& out) const override { out.push_back(fid); }
  // The description of fid.
  const char* getName() const override { return fid.description; }

  // 0 when invalid; else the value of v's bin in responseTable (0 outside the grid),
  // rounded to float.
  virtual float responseForValue(float v) const;

  // The histogram step at the start of train(): bins the samples when not binned,
  // refills and normalises posHist and negHist from the current weights; a, b := their
  // means, c := the positive share of the total weight (0.5 when the total is not
  // positive). Does nothing when invalid; marks the learner invalid when the feature
  // has no usable range.
  void trainHistogram(PbtSampleSet* set, PbtRealWeakParams* params, float* a, float* b, float* c);

  RF responseTable;         // response per bin (one draw)
  uint8_t invalid = 0;      // constant feature: no histogram, response 0
  PbtFid fid;
  uint8_t binned = 0;       // posBins / negBins hold the bins of the current set
  RF posHist;               // training: weighted histogram of the positives (one draw)
  RF negHist;               // training: weighted histogram of the negatives (one draw)
  std::vector<int8_t> posBins;  // training: bin of each positive sample; -1: none
  std::vector<int8_t> negBins;
};
