#pragma once
// Edg3DSampleSet: the two-class sample set whose samples are voxel records. Positive
// sample j is posRecords[j], negative sample j is negRecords[j]; getSample moves the
// shared voxel sample (an Edg3DSample) onto the record, loading the record's case
// when it changes.
//
// On the training road the multi-class voxel set fills it at every tree node (records,
// entries, weights) and calls drawSamples, which groups the entries by case so that
// each case is loaded once per pass over the entries.
//
// Ownership and checks as in PbtSampleSet: sample indices given to getSample are not
// checked against the record lists (the caller keeps them inside).
#include <cstdint>
#include <vector>

#include "features/EdgSampleSetParams.h"
#include "features/VoxelSampleRecord.h"
#include "pbt/PbtSampleSet.h"

class Edg3DSampleSet : public PbtSampleSet {
 public:
  // Both record lists empty.
  Edg3DSampleSet() = default;
  ~Edg3DSampleSet() override;
  Edg3DSampleSet(const Edg3DSampleSet&) = delete;
  // clear(), the base part assigned, both record lists copied.
  Edg3DSampleSet& operator=(const Edg3DSampleSet& other);

  PbtSampleSet* clone() const override;
  PbtSampleSet* create() const override;

  // The base filtering, then each record list keeps the records whose factor is > 0,
  // in order, so that records stay paired with their renumbered samples.
  void filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg) override;
  // Reorders the entries by the case number of their records: every entry goes into a
  // binary min-heap keyed by its record's case (in entry order), and the entries are
  // written back in the order they leave the heap. The entries of one case become
  // consecutive; their order within the case is the heap's, not the original one.
  // Records and sample indices do not move. An entry whose sample index lies outside
  // its record list is keyed after every case.
  void drawSamples() override;
  // The base clear, then both record lists emptied.
  void clear() override;
  // setSamplePosition with the packed words of the record.
  PbtSample* getSample(int index, bool positive) override;

  // params.loaded := 0.
  virtual void resetLoaded(EdgSampleSetParams& params);
  // The edge-data loader (on no road of the drivers): empties and recreates
  // params.dirTrainData; reads the byte volumes "<dirTestData>/I%05i.3dm" and the label
  // volumes "<dirTestData>/I%05i_label.3dm" of cases 0 ... numTrain - 1; the edge map
  // of a case is label / 255 at the voxels at least `radius` inside every face and 0
  // elsewhere (a negative radius counts as 0); edgeFraction := (sum of the edge maps) /
  // (number of interior voxels), sums in float, 0 without interior voxels; writes
  // "I%05i.3dm" and the edge map "I%05i_prob.3dm" into dirTrainData; loaded := 1.
  // A case that does not load is named on its own line, then "Unable to load training
  // images :((((.\n" (or "Unable to load true edge images :((((.\n" for a label
  // volume) ends the run with status 1; so does a folder or file that cannot be
  // written, with a line naming it.
  virtual void loadTrainingData(EdgSampleSetParams& params);
  // Unpacks the two words (case | slice << 16, row | column << 16) into a record and
  // hands it to the shared sample's setPosition; returns the sample. A shared sample
  // that is not a voxel sample is returned without being moved.
  virtual PbtSample* setSamplePosition(uint32_t firstWord, uint32_t secondWord);

  std::vector<VoxelSampleRecord> posRecords;
  std::vector<VoxelSampleRecord> negRecords;
};
