#include "models/Kro_AppearDiscrmModelKro40.h"

#include <cstdio>

#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtLog.h"
#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

namespace {

// "<folder>\<name>", every separator a backslash.
std::string InFolder(const std::string& folder, const std::string& name) {
  std::string path = layout::InFolder(folder, name);
  return ToBackslashes(path);
}

}  // namespace

bool Kro_AppearDiscrmModelKro40::Load(const std::string& folder, int n, int r) {
  const std::string atlasPath = InFolder(folder, layout::kAtlas);
  if (static_cast<int>(atlasPath.size()) > kMaxAtlasPath) {
    std::printf("atlas path too long: %s\n", atlasPath.c_str());
    return false;
  }
  radius = static_cast<int16_t>(r);
  numClasses = static_cast<int16_t>(n);

  std::vector<std::string> passPaths;
  const std::string first = InFolder(folder, layout::kClassifier);
  if (!LoadTree(classifier, first) || !CheckClassCount(classifier, first)) return false;
  passPaths.push_back(first);
  classifier.setSoftDescent(1);
  extraTrees.clear();
  classifiers.assign(1, &classifier);
  for (int d = 1; d <= kMaxPassFiles; ++d) {
    const std::string path = InFolder(folder, FormatText(layout::kIterationClassifier, d));
    std::FILE* probe = OpenFile(path, "r");
    if (probe == nullptr) continue;  // missing numbers are skipped
    std::fclose(probe);
    auto tree = std::make_unique<PbtMClassTree>();
    if (!LoadTree(*tree, path) || !CheckClassCount(*tree, path)) return false;
    passPaths.push_back(path);
    tree->setSoftDescent(1);
    classifiers.push_back(tree.get());
    extraTrees.push_back(std::move(tree));
  }
  const std::string edgePath = InFolder(folder, layout::kEdgeClassifier);
  std::FILE* probe = OpenFile(edgePath, "r");
  bool edgeRead = false;
  if (probe != nullptr) {
    std::fclose(probe);
    // The edge tree only serves the boundary evolution; a bad one is dropped.
    edgeRead = LoadTree(edgeClassifier, edgePath);
    if (!edgeRead) std::printf("warning: edge classifier not used\n");
  }
  classifier.setSoftDescent(1);

  BuildProvider(n, r);
  // Every tree is checked against the pool it is evaluated with before any voxel is.
  for (size_t k = 0; k < classifiers.size(); ++k)
    if (!CheckTreeFeatures(*classifiers[k], passPaths[k])) return false;
  if (edgeRead && !CheckTreeFeatures(edgeClassifier, edgePath)) {
    // Emptied to a bare leaf: without children it answers no edge probability.
    edgeClassifier.deleteChildren();
    delete edgeClassifier.nodeClassifier;
    edgeClassifier.nodeClassifier = nullptr;
    std::printf("warning: edge classifier not used\n");
  }
  if (!LoadKnown(InFolder(folder, layout::kKnown))) return false;
  if (!LoadProbLift(folder)) return false;
  gAtlasPath = atlasPath;
  NoteFeatures();
  return true;
}

bool Kro_AppearDiscrmModelKro40::LoadKnown(const std::string& path) {
  known.Release();
  knownPath.clear();
  if (!PathExists(path)) return true;  // no voxel is fixed
  const bool regular = IsRegularFile(path);
  if (!regular || !known.Load(path)) {
    known.Release();
    std::printf("Cannot read the known-class volume %s%s\n", path.c_str(), regular ? "" : ": not a regular file");
    std::fflush(stdout);
    return false;
  }
  knownPath = path;
  return true;
}

bool Kro_AppearDiscrmModelKro40::KnownFitsBox(const SubVolume& b, std::string* error) const {
  if (knownPath.empty()) return true;
  const int d0 = b.z1 - b.z0 + 1, d1 = b.y1 - b.y0 + 1, d2 = b.x1 - b.x0 + 1;
  if (known.dim0() == d0 && known.dim1() == d1 && known.dim2() == d2) return true;
  if (error) {
    *error = "the known-class volume " + knownPath + " has " + std::to_string(known.dim2()) + " x " +
             std::to_string(known.dim1()) + " x " + std::to_string(known.dim0()) + " voxels, the model's box " +
             std::to_string(d2) + " x " + std::to_string(d1) + " x " + std::to_string(d0);
  }
  return false;
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
