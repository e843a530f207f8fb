#pragma once
// EdgSampleSetParams: the parameter record of the voxel training sets. The training
// driver fills it once per run, the multi-class voxel set and the tree's node training
// read and update it. Folder pointers are not owned: they point at text the driver
// keeps alive for the whole run (or are null).
#include <cstdint>

#include "numerics/VectorQo.h"
#include "pbt/PbtSampleSetParams.h"

class EdgSampleSetParams : public PbtSampleSetParams {
 public:
  EdgSampleSetParams() = default;
  ~EdgSampleSetParams() override = default;
  EdgSampleSetParams(const EdgSampleSetParams&) = default;
  EdgSampleSetParams& operator=(const EdgSampleSetParams&) = default;

  // Restarts the text with "EdgSampleSetParams:\n" and one line per key:
  // " dirTrainData=%s\n", " dirTestData=%s\n", " numTrain=%i\n",
  // " num training samples=%i\n", " radius=%i\n"; a null folder prints "(null)".
  // The pointer stays valid until the record changes or is destroyed.
  const char* describe() override;

  uint8_t loaded = 0;                 // 1 once the training data were prepared
  const char* labelsFolder = nullptr; // folder of the iteration's class volumes
  const char* dataFolder = nullptr;   // folder of the training data set
  const char* dirTrainData = nullptr; // folder that the edge-data loader creates and fills
  const char* dirTestData = nullptr;  // folder that the edge-data loader reads
  int numTrain = 0;                   // number of training volumes
  int numCases = 0;                   // number of cases the probability maps are written for
  int radius = -1;                    // sample radius and border left out of sampling
  int numTrainingSamples = -1;        // reservoir capacity per class
  int stopFactor = 1;                 // a class is no longer offered after stopFactor x capacity
  int sampleCap = 500;                // handed on to gMinClassSamples by the driver
  int numVolumes1 = 0;                // set by the driver to the number of volumes; read nowhere
  int numVolumes2 = 0;                // the same
  VectorQo<double> classVoxelWeights; // weight per voxel of each class, fixed by the first init
};
