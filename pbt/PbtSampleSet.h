#pragma once
// PbtSampleSet: the abstract two-class training set on which every two-class booster
// and weak learner trains.
//
// Samples, weights and entries
//   The set does not hold samples. Sample i of a class is the derived set's business:
//   getSample(i, positive) positions the one shared PbtSample on it. Each sample has
//   a weight (posWeights / negWeights, indexed by sample index). The entry list fixes
//   the order of iteration: entry e names sample entrySample[e] of the positive
//   (entryPositive[e] != 0) or the negative class. Normally the entries list every
//   sample exactly once; a derived set may reorder them (drawSamples).
//
// Feature cache
//   calculateAllFeatures computes every pool feature of every sample once into one
//   float table per class, feature-major: table[poolIndex][sampleIndex]. The column
//   of a sample is its sample index, whatever the entry order, so cached values,
//   weights and a derived set's per-sample records always pair by the same index.
//   While cached, current() hands out the shared sample in cache mode.
//
// Ownership: the set owns its entry arrays, weights and cache; it owns the shared
// sample only when ownsSample is set. Indices given to setEntry, setCurrentEntry,
// getSample and the weight vectors are not checked (the caller keeps them inside
// the set); iteration never runs past the entry list.
#include <cstdint>
#include <string>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtSample.h"
#include "pbt/PbtSampleSetParams.h"

class PbtSampleSet {
 public:
  PbtSampleSet() = default;
  // clear(); the shared sample is deleted when owned.
  virtual ~PbtSampleSet();
  PbtSampleSet(const PbtSampleSet&) = delete;

  // Copies the counts, masses, weights and entries; shares the other set's sample
  // without owning it (an owned sample of this set is deleted first); leaves the
  // cache empty. The text and the cursor are not copied.
  PbtSampleSet& operator=(const PbtSampleSet& other);

  // A new set of the same class assigned from this one / a new empty set.
  virtual PbtSampleSet* clone() const = 0;
  virtual PbtSampleSet* create() const = 0;

  virtual const char* getText() { return text.c_str(); }

  // Numbers the sample's feature pool (poolIndex := position), takes its size as the
  // number of features and sets the text to the record's description followed by
  // " numFeatures=<n>\n".
  virtual void init(PbtSampleSetParams& params);

  // Keeps the samples whose factor is > 0 (NaN and missing factors count as not
  // positive): new weight = old weight x factor, the survivors renumbered 0, 1, ...
  // per class in sample-index order, the entries of dropped samples removed and the
  // others kept in their order; each class mass scaled by new sum / old sum (0.0 when
  // the old sum is not positive); cached columns follow their samples; then
  // normalizeWeights().
  virtual void filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg);

  // Iteration over the entry list: reset(), then while hasNext(): next(), current().
  virtual void reset() { cursor = -1; }
  virtual bool hasNext() { return cursor + 1 < numEntries(); }
  // Advances to the next entry; true when it is a positive sample.
  virtual bool next() {
    ++cursor;
    return entryPositive[cursor] != 0;
  }
  // The shared sample on the current entry: positioned by getSample, or in cache
  // mode on the entry's column when the features are cached.
  virtual PbtSample* current();

  // Replaces the shared sample (deleting the old one when owned); ownership unchanged.
  virtual void setSample(PbtSample* s);
  // Orders the entries; nothing in the base.
  virtual void drawSamples() {}
  // Creates "<folder>/neg" and "<folder>/pos" (the negative one first, with
  // "mkdir       %s"), then, for every entry in order, lets its sample draw itself
  // and writes each drawn image as "<class folder>/sample%06i.tif" (grey TIF, 300
  // dpi), counted per class. Nothing for a null folder. The samples of this system
  // draw nothing, so only the folders appear.
  virtual void saveSamples(const char* folder);

  // Fills the cache (see above). When it cannot be allocated: "ERROR: out of memory
  // (calculateAllFeatures)" on the error stream and the program ends (status 1).
  virtual void calculateAllFeatures();
  // The cached table of a class, [poolIndex][sampleIndex]; null when not cached,
  // non-null (with no rows to read) when cached with an empty pool.
  // Callers holding an int class flag pass (flag == 1): any other value is negative.
  virtual float** getFeatureTable(bool positive);
  // Releases the cache and puts the shared sample back into compute mode.
  virtual void freeFeatures();
  // freeFeatures; deletes the sample when owned and forgets it; empties the entries
  // and both weight vectors. Counts, text and masses stay.
  virtual void clear();

  // The sum of the positive weights.
  virtual float weightSum();
  // Positives get the total weight f, negatives 1 - f; when either class sums to 0
  // (or less) only normalizeWeights().
  virtual void balanceWeights(float f);
  virtual int numFeatures() { return nFeatures; }
  virtual VectorQo<double>& getWeights(bool positive) { return positive ? posWeights : negWeights; }
  virtual int numSamples(bool positive) { return positive ? numPos : numNeg; }
  virtual double getClassMass(bool positive) { return positive ? posMass : negMass; }
  virtual void setClassMass(bool positive, double m) { (positive ? posMass : negMass) = m; }
  // freeFeatures; stores the counts; sizes the weights to numPos and numNeg elements;
  // new entry arrays of numPos + numNeg zero entries. Negative counts end the program.
  virtual void allocate(int nFeatures, int numPos, int numNeg);
  // Divides every weight by the total of both classes; nothing when that total is
  // not positive.
  virtual void normalizeWeights();
  virtual void setEntry(int i, int sampleIndex, uint16_t positive) {
    entrySample[i] = sampleIndex;
    entryPositive[i] = positive;
  }
  virtual void getCurrentEntry(int& sampleIndex, uint16_t& positive) {
    sampleIndex = entrySample[cursor];
    positive = entryPositive[cursor];
  }
  virtual void setCurrentEntry(int sampleIndex, uint8_t positive) {
    entrySample[cursor] = sampleIndex;
    entryPositive[cursor] = positive;
  }
  // Stores the counts; numPos weights of f / numPos and numNeg of (1 - f) / numNeg;
  // both masses 1.0. The entries are not touched.
  virtual void initWeights(int numPos, int numNeg, float f);
  // Entries (i, positive) for every positive sample, then (j, negative) for every
  // negative sample, in index order.
  virtual void buildOrder();
  // Positions the shared sample on sample `index` of the class and returns it.
  virtual PbtSample* getSample(int index, bool positive) = 0;

  // The weight of the current entry.
  double currentWeight() const {
    const int s = entrySample[cursor];
    return entryPositive[cursor] != 0 ? posWeights[s] : negWeights[s];
  }
  int numEntries() const { return static_cast<int>(entrySample.size()); }
  PbtSample* getSampleObject() const { return sample; }
  void setOwnsSample(bool owns) { ownsSample = owns ? 1 : 0; }
  bool featuresAreCached() const { return featuresCached != 0; }

 protected:
  // Feature cache: rows per class, and the row pointer tables handed out.
  std::vector<std::vector<float>> posRows, negRows;
  std::vector<float*> posFeatures, negFeatures;
  float* noRows = nullptr;  // what an empty cached table points at
  double posMass = 0.0;
  double negMass = 0.0;
  VectorQo<double> posWeights;
  VectorQo<double> negWeights;
  uint8_t ownsSample = 0;
  PbtSample* sample = nullptr;
  int nFeatures = 0;
  std::string text;
  int numPos = 0;
  int numNeg = 0;
  int cursor = -1;
  std::vector<int32_t> entrySample;
  std::vector<uint16_t> entryPositive;
  uint8_t featuresCached = 0;
};
