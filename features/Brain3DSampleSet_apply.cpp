// Brain3DSampleSet::applyClassifier: the bootstrap masks of a tree node and the
// class-probability maps of an auto-context iteration.
#include "features/Brain3DSampleSet.h"

void Brain3DSampleSet::applyClassifier(EdgSampleSetParams& p, const char* suffix) {
  // Prepared training data (loaded 1) are walked over the training cases on every
  // voxel; otherwise every case is walked on every second voxel.
  const int count = p.loaded == 1 ? p.numTrain : p.numCases;
  if (count <= 0 || p.classifier == nullptr) return;
  ensureSample(p);
  const int step = p.loaded == 1 ? 1 : 2;
  if (p.loaded == 0)
    writeProbabilityMaps(p, count, step);
  else
    writeBootstrapMasks(p, suffix, count, step);
}
