#include "models/Kro_AppearDiscrmModelKro40.h"

#include <cstdio>

#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "numerics/TextFunctions.h"
#include "platform/NativePath.h"

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
  std::string path = folder + "/" + name;
  return ToBackslashes(path);
}

}  // namespace

bool Kro_AppearDiscrmModelKro40::Load(const std::string& folder, int n, int r) {
  const std::string atlasPath = InFolder(folder, "atlas.3dm");
  if (static_cast<int>(atlasPath.size()) > kMaxAtlasPath) {
    std::printf("atlas path too long: %s\n", atlasPath.c_str());
    return false;
  }
  radius = static_cast<int16_t>(r);
  numClasses = static_cast<int16_t>(n);

  const std::string first = InFolder(folder, "clf");
  if (!LoadTree(classifier, first)) return false;
  CheckClassCount(classifier, first);
  classifier.setSoftDescent(1);
  extraTrees.clear();
  classifiers.assign(1, &classifier);
  for (int d = 1; d <= kMaxPassFiles; ++d) {
    const std::string path = InFolder(folder, "clf" + std::to_string(d));
    std::FILE* probe = OpenFile(path, "r");
    if (probe == nullptr) continue;  // missing numbers are skipped
    std::fclose(probe);
    auto tree = std::make_unique<PbtMClassTree>();
    if (!LoadTree(*tree, path)) return false;
    CheckClassCount(*tree, path);
    tree->setSoftDescent(1);
    classifiers.push_back(tree.get());
    extraTrees.push_back(std::move(tree));
  }
  const std::string edgePath = InFolder(folder, "clf_edge");
  std::FILE* probe = OpenFile(edgePath, "r");
  if (probe != nullptr) {
    std::fclose(probe);
    // The edge tree only serves the boundary evolution; a bad one is dropped.
    if (!LoadTree(edgeClassifier, edgePath)) std::printf("warning: edge classifier not used\n");
  }
  classifier.setSoftDescent(1);

  BuildProvider(n, r);
  known.Release();
  known.Load(InFolder(folder, "known.3dm"));
  gAtlasPath = atlasPath;
  LoadProbLift(folder);
  NoteFeatures();
  return true;
}

void Kro_AppearDiscrmModelKro40::EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch,
                                                   VectorQo<double>& out, int z, int y, int x, int k) const {
  if (!InsideInner(z, y, x) || k < 0 || k >= NumPasses()) {
    OneHot(out, 0);
    return;
  }
  Position(sample, z, y, x);
  const int kz = z - box.z0, ky = y - box.y0, kx = x - box.x0;
  const int c = known.IsInside(kz, ky, kx) ? known(kz, ky, kx) : numClasses + 1;
  if (c < numClasses) {
    OneHot(out, c);
  } else {
    TreePosterior(*classifiers[k], sample, scratch, out);
  }
  ApplyLift(out);
}

float Kro_AppearDiscrmModelKro40::EdgeProbabilityWith(Object3DSample& sample, int z, int y, int x) const {
  if (!edgeClassifier.hasChildren() || !InsideInner(z, y, x)) return 0.0f;
  Position(sample, z, y, x);
  VectorQo<double> p;
  edgeClassifier.treePosterior(p, &sample);
  return ElementCount(p) > 1 ? static_cast<float>(p[1]) : 0.0f;
}
