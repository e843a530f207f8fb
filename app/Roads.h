#pragma once
// The two roads of the program. Each returns true when it did its job; on failure
// it has said why on the console.
#include <string>

class Kro_BrainSetting;

// Prepares the training data set in `target` from the labelled subjects in `source`.
bool PrepareTrainingData(const std::string& source, const std::string& target, int numStructures);

// Trains one multi-class tree per auto-context iteration on the prepared data set.
bool TrainAutoContext(const std::string& target, int numVolumes, int numStructures, int iterations,
                      int firstIteration);

// Segments the source volume with the model folder into the target path.
bool SegmentVolumes(const Kro_BrainSetting& setting, bool atlasGiven);
