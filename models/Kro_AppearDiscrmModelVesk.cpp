#include "models/Kro_AppearDiscrmModelVesk.h"

#include <cstdio>

#include "features/Object3DSample.h"
#include "volume/FolderLayout.h"

bool Kro_AppearDiscrmModelVesk::LoadSingleTree(const std::string& folder, int n, int r) {
  radius = static_cast<int16_t>(r);
  numClasses = static_cast<int16_t>(n);
  const std::string path = layout::InFolder(folder, layout::kClassifier);
  return LoadTree(classifier, path) && CheckClassCount(classifier, path);
}

bool Kro_AppearDiscrmModelVesk::FinishLoad(const std::string& folder) {
  if (!CheckTreeFeatures(classifier, layout::InFolder(folder, layout::kClassifier)) || !LoadProbLift(folder)) return false;
  // One pass with the single tree, so that Segment labels the volume.
  extraTrees.clear();
  classifiers.assign(1, &classifier);
  NoteFeatures();
  // Printed once the load has succeeded, so that a refusal stays a line of its own.
  std::vector<PbtFid> fids;
  classifier.collectFeatures(fids);
  std::printf("tree num of features=%d", static_cast<int>(fids.size()));
  std::fflush(stdout);
  return true;
}

bool Kro_AppearDiscrmModelVesk::Load(const std::string& folder, int n, int r) {
  if (!LoadSingleTree(folder, n, r)) return false;
  BuildProvider(n, r);
  return FinishLoad(folder);
}

void Kro_AppearDiscrmModelVesk::EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch,
                                                  VectorQo<double>& out, int z, int y, int x, int) const {
  if (!InnerTreePosterior(classifier, sample, scratch, out, z, y, x)) return;
  ApplyLift(out);
}
