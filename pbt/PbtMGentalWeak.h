#pragma once
// PbtMGentalWeak: the weak learner of gentle boosting (PbtMGentalBoost). It looks at
// one feature and keeps one response function (PbtMfFuncion) per active class of the
// training set, in active-slot order. Its class response at a value is the vector
// of the functions' values there, centred on their mean.
//
// Training reads the multi-class set's feature cache (calculateAllFeatures first):
// every sample's bin on a 30-step grid over the feature's range is computed once per
// training call, and for each class the in-class and out-of-class histograms
// (`inClass`, `outClass`, twice the weights) are refilled from those bins.
//
// Random sequence: constructing a PbtMGentalWeak takes two draws (inClass, outClass)
// and every function it adds one more: training adds one function per active class
// the first time (a retrained learner keeps them), clone() and read() add one per
// function of the record. Assignment adds only the functions it lacks.
//
// Record (little-endian):
//
//   offset  size      field
//   0       143       fid        PbtFid record
//   143     4         n          int32, number of functions
//   147     variable  n PbtMfFuncion records (slot, label, responseTable)
//
// read() rejects a short record, an unterminated description, a count whose smallest
// function records do not fit in the bytes left or above 32768 (slots are int16),
// a slot outside 0..n-1, a negative label and a malformed distribution record; the
// learner is then unchanged.
#include <cstdint>
#include <vector>

#include "numerics/RF.h"
#include "pbt/PbtClassifier.h"
#include "pbt/PbtMSampleSet.h"
#include "pbt/PbtMfFuncion.h"

// Parameters of one training call of a PbtMGentalWeak.
class PbtMGentalWeakParams : public PbtClassifierParams {
 public:
  const char* describe() override { return "PbtMGentalWeakParams"; }

  PbtFid fid;             // the feature the learner uses
  uint8_t flag = 0;       // copied from the booster's parameters; not read
  int featureIndex = -1;  // row of the feature in the sample set's feature cache
};

class PbtMGentalWeak : public PbtClassifier {
 public:
  static constexpr int kMinRecordSize = PbtFid::kRecordSize + 4;
  // Slots and labels are int16: no learner has more functions than this.
  static constexpr int kMaxFunctions = 32768;

  // No functions, empty histograms. Two draws.
  PbtMGentalWeak() = default;
  ~PbtMGentalWeak() override = default;
  // fid copied; functions resized to the source's count (new functions take a draw
  // each) and the slot, label and table of each copied. The training data is not.
  PbtMGentalWeak& operator=(const PbtMGentalWeak& other);

  // A new learner (two draws), then assignment (one draw per function).
  PbtClassifier* clone() const override;
  // A new default learner (two draws).
  PbtClassifier* create() const override;
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  float probability(PbtSample*) override { return 0.0f; }
  void collectFeatures(std::vector<PbtFid>& out) const override { out.push_back(fid); }
  // The description of fid.
  const char* getName() const override { return fid.description; }

  // Fits one function per active class of the set on the cached feature row
  // q.featureIndex; returns the weighted error of the best-class rule over the
  // active samples, rounded to float.
  virtual float trainMulti(PbtMSampleSet& set, PbtMGentalWeakParams& q);
  // Sizes the function list to n as training does (one draw per function added), so
  // that a later training with n active classes draws nothing.
  void sizeFunctions(int n);
  // out := one entry per function: entry f.slot holds f's value in the bin of v (0
  // outside its grid), then every entry is reduced by the mean of those values.
  // Entries no function names stay at -2 before the reduction.
  virtual void classResponse(VectorQo<double>& out, float value) const;
  // classResponse of the sample's value of fid.
  virtual void classResponseForSample(VectorQo<double>& out, PbtSample& sample) const;
  // The slot of the function with the largest value at v (the first of equal values
  // wins); -1 when no value exceeds -1e50.
  virtual int bestClassForValue(float value) const;
  // The same for bin b of the tables (0 outside a table's grid).
  virtual int bestClassForBin(int bin) const;
  // Forgets every function's training data.
  virtual void releaseTrainingData();

  PbtFid fid;
  std::vector<PbtMfFuncion> functions;  // one per active class, in slot order
  RF inClass;   // training: histogram of the class being fitted (one draw)
  RF outClass;  // training: histogram of all other classes (one draw)
};
