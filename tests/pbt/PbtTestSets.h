#pragma once
// Test doubles of the classifier library, shared by the pbt tests.
//
// TableSample: a sample whose feature values come from a row of numbers: feature f
// is row[f]. Its pool holds one PbtFid per feature (kind 'T', description
// "test feature <f>", params[0] = f). It counts its computeFeature calls.
//
// VectorSampleSet: a two-class set backed by vectors: positive sample i has the
// feature values posValues[i], negative sample j negValues[j]. Construction gives it
// its own TableSample, numbers the pool (init), puts the entries in class order and
// gives each class half of the weight. filterByWeights keeps the value rows paired
// with their samples, as a derived set keeps its per-sample records.
//
// ValueClassifier: a classifier whose probability of a sample is its value of
// feature 0 (so a test chooses every probability, NaN included).
#include <string>
#include <vector>

#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtClassifier.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtSample.h"
#include "pbt/PbtSampleSet.h"
#include "volume/Raster.h"

class TableSample : public PbtSample {
 public:
  explicit TableSample(int numFeatures);
  void setPosition(const std::vector<float>* row) { row_ = row; }
  float computeFeature(const PbtFid& fid) override;

  int computeCalls = 0;

 private:
  const std::vector<float>* row_ = nullptr;
};

// A one-feature TableSample that draws a 2 x 3 image filled with its value when
// that value is odd (the sample dumps write only drawn images).
class DrawingSample : public TableSample {
 public:
  DrawingSample() : TableSample(1) {}
  void renderImage(Raster<unsigned char>& image) override;
};

class VectorSampleSet : public PbtSampleSet {
 public:
  // An empty set without a sample.
  VectorSampleSet() = default;
  // Every row has the same number of features (at least one row overall).
  VectorSampleSet(std::vector<std::vector<float>> pos, std::vector<std::vector<float>> neg);
  // One feature: positive sample i has the value pos[i], negative sample j neg[j].
  static VectorSampleSet* singleFeature(const std::vector<float>& pos, const std::vector<float>& neg);

  VectorSampleSet& operator=(const VectorSampleSet& other);
  PbtSampleSet* clone() const override;
  PbtSampleSet* create() const override { return new VectorSampleSet(); }
  PbtSample* getSample(int index, bool positive) override;
  void filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg) override;

  TableSample* tableSample() const { return static_cast<TableSample*>(sample); }
  // Entry access for tests that reorder entries.
  int entrySampleAt(int e) const { return entrySample[static_cast<size_t>(e)]; }
  bool entryIsPositive(int e) const { return entryPositive[static_cast<size_t>(e)] != 0; }

  std::vector<std::vector<float>> posValues;
  std::vector<std::vector<float>> negValues;
};

class ValueClassifier : public PbtClassifier {
 public:
  PbtClassifier* create() const override { return new ValueClassifier(); }
  void write(BinaryWriter&) const override {}
  bool read(BinaryReader&) override { return true; }
  float probability(PbtSample* sample) override;
  void collectFeatures(std::vector<PbtFid>&) const override {}
};

// A stump on test feature `feature` (fid, pool index and cache row), deciding by
// threshold and polarity. Takes two draws.
PbtAdaWeak* Stump(int feature, float threshold, uint8_t polarity);
// Booster training parameters: numWeak rounds, the log to logName, round lines only
// when verbose.
PbtAdaBoostParams BoostParams(int numWeak, const std::string& logName = std::string(), bool verbose = false);
// Cascade training parameters: numMembers levels, the log to logName.
PbtAdaWeakParams CascadeParams(int numMembers, const std::string& logName = std::string());

// The bytes a classifier writes.
std::string RecordBytes(const PbtClassifier& c);
// c.read on the bytes: its result.
bool ReadRecord(PbtClassifier& c, const std::string& bytes);
// c.read on the bytes: true when it succeeds and leaves none of them unread.
bool ReadWholeRecord(PbtClassifier& c, const std::string& bytes);
