#pragma once
// PbtClassifier: the abstract base of every learner of the library. Containers of
// classifiers (a booster's members, a tree node's classifier, the code table of the
// error-correcting output code) hold them as PbtClassifier* and drive them only
// through the virtual operations below. Whoever holds the pointer owns the object.
//
// Model files
//   A model file is the record of exactly one classifier, the object save() was
//   called on: no header, magic number, version, length or checksum, nothing after
//   the record. Values are little-endian raw bytes: int32 for counts and integer
//   fields, float32 for real values, u8 for flags and type codes, no padding.
//   Records carry no length, so a reader must know the class of a record before it
//   reads it: the top-level class is that of the object load() is called on; a
//   booster member's class comes from the owner's layout (a type code before it in
//   the typed layout, see PbtClassifierFactory); a tree node's classifier from the
//   node-classifier code written before it.
//
// Reading
//   read() is applied to a freshly created object. It either fills the object
//   completely and returns true, or returns false and leaves the object as it was
//   (readers parse into locals and commit at the end). It fails on a record that does
//   not fit in the bytes left, on counts or codes out of range, and never sizes an
//   allocation from a count it has not checked against the bytes left.
#include <cstdint>
#include <string>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtFid.h"
#include "pbt/PbtSample.h"
#include "pbt/PbtSampleSet.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class PbtMSampleSet;

class PbtClassifier {
 public:
  PbtClassifier() = default;
  virtual ~PbtClassifier() = default;
  PbtClassifier(const PbtClassifier&) = delete;
  PbtClassifier& operator=(const PbtClassifier&) = delete;

  // A new object of the same class holding a deep copy (members cloned); the base
  // returns null. The caller owns the result.
  virtual PbtClassifier* clone() const { return nullptr; }
  // A new default object of the same class. The caller owns the result.
  virtual PbtClassifier* create() const = 0;
  // Appends the object's record.
  virtual void write(BinaryWriter& out) const = 0;
  // Fills a freshly created object from its record (see Reading above).
  virtual bool read(BinaryReader& in) = 0;
  // The type code written before a member in the typed booster layout
  // (PbtClassifierFactory); 0 for classes never stored as booster members.
  virtual uint8_t typeCode() const { return 0; }
  // Trains on a two-class set with a parameter record; returns the training error.
  // The base does nothing and returns 0.
  virtual float train(PbtSampleSet* set, PbtClassifierParams* params);
  virtual float probabilityInSet(PbtSampleSet* set, int classFlag, int index);
  // Move the decision threshold so that less than `target` of the positive weight
  // lies below it / of the negative weight above it. The base writes
  // "changeToHaveFalseNeg: Not implemented!\n" (for both) on the error stream and ends
  // the program (status 1).
  virtual void changeToHaveFalseNeg(PbtSampleSet* set, float target);
  virtual void changeToHaveFalsePos(PbtSampleSet* set, float target);
  // +1.0 / -1.0 for entry `index` of the positive (flag 1) or negative (flag 0)
  // samples of a set whose features are cached. The base returns 1.0.
  virtual float classifyInSet(PbtSampleSet* set, int classFlag, int index);
  // out := [1 - p, p] with p = probability(sample).
  virtual void posterior(PbtSample* sample, VectorQo<double>& out);
  virtual float score(PbtSample* sample);
  // The probability of the positive class for one sample.
  virtual float probability(PbtSample* sample) = 0;
  // 2 x (probability - 0.5), computed in double and rounded to float.
  virtual float response(PbtSample* sample);
  // Appends the feature identifiers the classifier evaluates.
  virtual void collectFeatures(std::vector<PbtFid>& out) const = 0;
  virtual const char* getName() const { return "Classifier"; }

  // Writes the record as the whole content of the file (created or truncated).
  // False when the file does not open or a write fails (a partial file is removed);
  // `error`, when given, then holds one line naming the file.
  bool save(const char* fileName, std::string* error = nullptr) const;
  // Fills this freshly created object from the file. False, with one line naming the
  // file in `error` when given, when the file does not open or read() fails (the
  // object is then as it was), and when bytes follow the record (the object then
  // holds the record read, but the file is not a model of this class; do not use it).
  // Reading once matters: constructing members may take random draws.
  bool load(const char* fileName, std::string* error = nullptr);

  // Error rates over every entry of the set (probability >= 0.5 calls a sample
  // positive; a NaN probability counts as correct). Weighted: *total = the raw sum
  // of misclassified weight, *falseNeg and *falsePos divided by the positive and
  // negative weight sums. Counted: *total = errors / entries, the rates divided by
  // the class counts. Accumulated in float; an empty class gives a non-finite rate.
  void evaluateError(PbtSampleSet* set, float* falsePos, float* falseNeg, float* total,
                     bool weighted);
  // The same over every entry of a multi-class set, a class label being positive when
  // its mask element is set (labels past the mask count as negative). Both modes:
  // *total = the raw sum of misclassified weight (weighted) or count (counted);
  // *falseNeg and *falsePos divided by the weight (or count) of the positive and the
  // negative entries. Accumulated in float; an empty side gives a non-finite rate.
  void evaluateErrorMulti(PbtMSampleSet* set, VectorQo<bool> mask, float* falsePos, float* falseNeg,
                          float* total, bool weighted);
};
