#pragma once
// PbtMfFuncion: the response function of one class inside a PbtMGentalWeak. A table
// over the bins of the weak learner's feature that says how much more often the
// class occurs at a value than all other classes (normalised to at most 1 in size).
//
// Besides the stored part (slot, label, responseTable) a function carries its class's
// training data while its weak learner trains: the cached values of the feature, the
// class's weight vector, the sample count and the bin of every sample. They point
// into the sample set and are valid only inside PbtMGentalWeak::trainMulti.
//
// Random sequence: constructing a function takes one draw (responseTable). Copying
// and assigning take none.
//
// Record inside the PbtMGentalWeak record (little-endian):
//
//   offset  size      field
//   0       2         slot           int16, the class's active slot
//   2       2         label          int16, the class label
//   4       8n + 28   responseTable  RF record (numerics/RF.h), n masses
//
// read() rejects a short record and a malformed distribution record; the slot and
// label ranges are checked by the weak learner, which knows the function count.
#include <cstdint>

#include "numerics/RF.h"
#include "numerics/VectorQo.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class PbtMfFuncion {
 public:
  // Smallest record: slot, label and a distribution without masses.
  static constexpr int kMinRecordSize = 4 + 28;

  // Slot 0, label 0, an empty table, no training data. One draw.
  PbtMfFuncion() = default;
  virtual ~PbtMfFuncion() = default;
  // Copies every field (the training pointers too). No draw.
  PbtMfFuncion(const PbtMfFuncion&) = default;
  PbtMfFuncion& operator=(const PbtMfFuncion&) = default;

  // responseTable := pos's grid with bin i = pos[i] - neg[i], divided by the largest
  // |pos[i] - neg[i]| when that exceeds 1e-5 (else the raw differences). neg is read
  // on pos's grid; a bin neg does not have counts as 0.
  virtual void fit(const RF& pos, const RF& neg);

  // The table's value in the bin of v; 0 outside the grid.
  double valueAt(float v) const { return responseTable.Pdf(v); }
  // The table's value in bin b; 0 outside the grid.
  double valueOfBin(int b) const { return b >= 0 && b < responseTable.bins ? responseTable.pdf[b] : 0.0; }

  void write(BinaryWriter& out) const;
  // Reads slot, label and table; on failure the function is unchanged.
  bool read(BinaryReader& in);

  int16_t slot = 0;   // active slot of the class
  int16_t label = 0;  // class label
  RF responseTable;   // response per bin of the feature value (one draw)
  // Training only (see above).
  const float* featureRow = nullptr;
  VectorQo<double>* classWeights = nullptr;
  int32_t count = 0;
  VectorQo<int> bins;
};
