#pragma once
// The segmentation road of the program (training: PrepareTrainingData.h and
// TrainAutoContext.h). Each returns true when it did its job; on failure
// it has said why on the console.
#include <string>

class Kro_BrainSetting;

// Segments the source volume with the model folder into the target path.
bool SegmentVolumes(const Kro_BrainSetting& setting, bool atlasGiven);
