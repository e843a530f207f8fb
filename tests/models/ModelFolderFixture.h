#pragma once
// Small model folders written by the tests: trees made through the tree writer, the
// settings file, the known volume and the lift factors.
#include <string>
#include <vector>

#include "TestSupport.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtMClassTree.h"
#include "volume/HeapMatrix3D.h"

namespace model_fixture {

// Offset (0, 0, 0) of the context-offset table with fewer than 10 maps: it follows the
// 17 x 6 x 12 spherical offsets.
constexpr int kCentreOffset = 1224;

inline PbtMClassTree* Leaf(const std::vector<double>& posterior) {
  auto* node = new PbtMClassTree();
  node->classPosterior.SetSize(static_cast<int>(posterior.size()));
  for (size_t i = 0; i < posterior.size(); ++i) node->classPosterior[static_cast<int>(i)] = posterior[i];
  return node;
}

inline void SaveTree(PbtMClassTree* tree, const std::string& path) {
  std::string error;
  ASSERT_TRUE(tree->save(path.c_str(), &error)) << error;
  delete tree;
}

// A tree of one leaf.
inline void WriteLeafTree(const std::string& path, const std::vector<double>& posterior) {
  SaveTree(Leaf(posterior), path);
}

// A root whose AdaBoost stump on `fid` sends a voxel to `high` when the feature's
// value is at least `threshold`, else to `low`.
inline void WriteStumpTree(const std::string& path, const PbtFid& fid, float threshold,
                           const std::vector<double>& low, const std::vector<double>& high) {
  auto* weak = new PbtAdaWeak();
  weak->fid = fid;
  weak->polarity = 1;
  weak->threshold = threshold;
  weak->alpha = 5.0f;
  auto* boost = new PbtAdaBoost();
  boost->members.push_back(weak);
  boost->alphas.push_back(5.0f);
  boost->offset = 2.5f;
  PbtMClassTree* root = Leaf(low);
  for (size_t i = 0; i < low.size(); ++i) root->classPosterior[static_cast<int>(i)] = (low[i] + high[i]) / 2;
  root->nodeClassifier = boost;
  root->nodeClassifierCode = 0;
  root->children = {Leaf(low), Leaf(high)};
  SaveTree(root, path);
}

// A stump on the context map `map` at the voxel itself (its value is the byte - 1).
inline void WriteContextStumpTree(const std::string& path, int map, float threshold,
                                  const std::vector<double>& low, const std::vector<double>& high) {
  PbtFid fid;
  fid.kind = 'O';
  fid.setDescription("context probability 0, 0, 0");
  fid.params[0] = kCentreOffset;
  fid.params[1] = map;
  fid.params[5] = 4;
  WriteStumpTree(path, fid, threshold, low, high);
}

// A stump on the atlas label at the voxel.
inline void WriteAtlasStumpTree(const std::string& path, float threshold, const std::vector<double>& low,
                                const std::vector<double>& high) {
  PbtFid fid;
  fid.kind = 't';
  fid.setDescription("atlas");
  WriteStumpTree(path, fid, threshold, low, high);
}

inline void WriteUniformVolume(const std::string& path, int d0, int d1, int d2, unsigned char value) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(d0, d1, d2);
  v.Fill(value);
  ASSERT_TRUE(v.Save(path));
}

inline std::string Settings(int type, int classes, int radius, const std::string& box) {
  return "ModelType: " + std::to_string(type) + "\nNumberofClasses: " + std::to_string(classes) +
         "\nRadius: " + std::to_string(radius) + "\nSub-volume: " + box + "\n";
}

}  // namespace model_fixture
