#include "models/Kro_AppearDiscrmModelVesk.h"

#include <cstdio>

#include "features/Object3DSample.h"

bool Kro_AppearDiscrmModelVesk::LoadSingleTree(const std::string& folder, int n, int r) {
  radius = static_cast<int16_t>(r);
  numClasses = static_cast<int16_t>(n);
  const std::string path = folder + "/clf";
  if (!LoadTree(classifier, path)) return false;
  CheckClassCount(classifier, path);
  std::vector<PbtFid> fids;
  classifier.collectFeatures(fids);
  std::printf("tree num of features=%d", static_cast<int>(fids.size()));
  std::fflush(stdout);
  return true;
}

bool Kro_AppearDiscrmModelVesk::Load(const std::string& folder, int n, int r) {
  if (!LoadSingleTree(folder, n, r)) return false;
  BuildProvider(n, r);
  LoadProbLift(folder);
  // One pass with the single tree, so that Segment labels the volume.
  extraTrees.clear();
  classifiers.assign(1, &classifier);
  NoteFeatures();
  return true;
}

void Kro_AppearDiscrmModelVesk::EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch,
                                                  VectorQo<double>& out, int z, int y, int x, int) const {
  if (!InnerTreePosterior(classifier, sample, scratch, out, z, y, x)) return;
  ApplyLift(out);
}
