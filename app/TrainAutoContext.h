#pragma once
// Auto-context training: one multi-class boosting tree per iteration, trained on voxel
// samples of the prepared training data set (the target folder) and applied to every
// training case to write the class-probability maps that the next iteration reads as
// context features.
//
// Per iteration d (from 1) the folder "<target>\d" receives the tree "clf", its
// "logfile.txt", the node folders under "top", the class volumes under "labels" and
// the iteration's probability maps; the maps are also written into the target folder.
//
// Process-wide flags set here: gTypedClassifierFiles 1, gAtlasPath "<target>\atlas.3dm",
// gMinClassSamples min(2000, sampleCap), gTreeLayoutFlag 1, gFeatureVersion 1, and
// gContextAvailable 0 while iteration 1 runs, 1 before every later one.
//
// Random sequence, per iteration: constructing the multi-class sample set takes two
// draws, then the sampling and the tree's training draw (with trainFlag 0 the tree's
// load draws instead, and the sampling runs in iteration 1 only). The map writing takes
// one draw per case it loads: the shared sample moves onto the first voxel evaluated in
// each case and, when that case is not the one it holds, loads it, and the intensity
// range of the loaded volume constructs one RF. A case that is skipped (its volume does
// not load or does not fit "known.3dm") or whose voxels are all known is not loaded.
// After training, the stored tree is read back as a check; that read constructs
// distributions, so the generator's state is saved before it and restored after: the
// check takes no draw.
#include <string>

class EdgSampleSetParams;
class PbtClassTreeParams;

// Trains `iterations` trees (none below 1). trainFlag 0 loads each iteration's tree
// instead of training it. After the last iteration, writes "training_done.txt" into the
// target ("Iterations: %d"), the sign that the training finished. False, after one line
// naming the file or value, when a tree could not be trained, saved or loaded, that
// file could not be written, or the atlas path is too long.
bool TrainAutoContext(const std::string& target, int numVolumes, int numStructures, int iterations, int trainFlag);

// One iteration: trains (or, with loadFlag, loads) the tree of iteration `iteration`
// and writes its probability maps. False after a message when the tree file does not
// exist or load after training, or cannot be loaded.
bool TrainAutoContextIteration(EdgSampleSetParams& sampleParams, PbtClassTreeParams& treeParams, int loadFlag,
                               int iteration);

// Test-only: skips the read-back check of each trained tree.
void SkipTreeReadBackForTesting(bool skip);

// The depth limit of the tree for K classes: max(7, ceil(L / ln 2) + max(3, ceil(L / ln 4)))
// with L = ln K held in single precision.
int TreeDepthFor(int numClasses);

// The sample cap of the sample-set record: min(1500, 100 x numVolumes).
int SampleCapFor(int numVolumes);
// The minimum size of an active class: min(2000, SampleCapFor(numVolumes)).
int MinClassSamplesFor(int numVolumes);
