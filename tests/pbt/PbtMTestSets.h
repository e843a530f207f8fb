#pragma once
// A multi-class test set of the classifier library, shared by the pbt tests.
//
// MVectorSampleSet: a multi-class set backed by vectors: sample i of class c has the
// feature values rows[c][i] (every row the same length). Construction gives it its
// own TableSample (PbtTestSets.h) with one feature per value, numbers the pool
// (init), gives every class the weight classWeight[c] (1/K each by default), builds
// the entries class-major and the active classes by the current gMinClassSamples.
// selectSamples keeps the rows paired with their samples (a derived set's records);
// resampleFrom into a VectorSampleSet turns the filled entries into that set's value
// rows, as a derived set turns them into its records, so boosters can train on it.
#include <vector>

#include "PbtTestSets.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMSampleSet.h"

// Sets gMinClassSamples for the life of the object and restores it afterwards.
class ScopedMinClassSamples {
 public:
  explicit ScopedMinClassSamples(int value) : saved_(gMinClassSamples) { gMinClassSamples = value; }
  ~ScopedMinClassSamples() { gMinClassSamples = saved_; }
  ScopedMinClassSamples(const ScopedMinClassSamples&) = delete;
  ScopedMinClassSamples& operator=(const ScopedMinClassSamples&) = delete;

 private:
  int saved_;
};

class MVectorSampleSet : public PbtMSampleSet {
 public:
  using Rows = std::vector<std::vector<std::vector<float>>>;

  MVectorSampleSet() = default;
  explicit MVectorSampleSet(Rows rows, std::vector<float> classWeight = {});
  // One feature: sample i of class c has the value values[c][i].
  static MVectorSampleSet* singleFeature(const std::vector<std::vector<float>>& values,
                                         std::vector<float> classWeight = {});

  MVectorSampleSet& operator=(const MVectorSampleSet& other);
  PbtMSampleSet* clone() const override;
  PbtMSampleSet* create() const override { return new MVectorSampleSet(); }
  PbtSample* getSample(int c, int i) override;
  void selectSamples(const std::vector<VectorQo<double>>& sel) override;
  void resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives) override;

  TableSample* tableSample() const { return static_cast<TableSample*>(sample); }

  Rows rows;
};

// Four classes of ten samples, two features. Feature 0 mixes the classes over 0..40;
// feature 1 puts classes 0 and 2 at 0..10 and classes 1 and 3 at 30..40.
MVectorSampleSet* TwoGroupSet();
