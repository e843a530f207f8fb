#pragma once
// Test doubles for the multi-class tree.
//
// BranchClassifier: a node classifier whose branch probabilities are features of the
// sample: posterior = [feature first, ..., feature first + count - 1] (so a test
// chooses every branch probability through a TableSample row). Its record is two
// int32, first and count; it reports the feature "test feature <first>".
//
// DoubleTree: a PbtMClassTree whose nodes are DoubleTrees and whose node classifiers
// (codes 0 to 3) are BranchClassifiers, so trees can be built and read without the
// real learners. Other codes create nothing, as in the library.
#include <memory>
#include <string>
#include <vector>

#include "PbtTestSets.h"
#include "pbt/PbtMClassTree.h"

class BranchClassifier : public PbtClassifier {
 public:
  BranchClassifier() = default;
  BranchClassifier(int first, int count) : first(first), count(count) {}
  PbtClassifier* create() const override { return new BranchClassifier(); }
  void write(BinaryWriter& out) const override {
    out.i32(first);
    out.i32(count);
  }
  bool read(BinaryReader& in) override {
    int32_t f = 0, c = 0;
    if (!in.i32(f) || !in.i32(c) || f < 0 || c < 0) return false;
    first = f;
    count = c;
    return true;
  }
  void posterior(PbtSample* sample, VectorQo<double>& out) override {
    out.SetSize(count);
    for (int i = 0; i < count; ++i) out[i] = sample->getFeatureValue(sample->featurePool[static_cast<size_t>(first + i)]);
  }
  float probability(PbtSample* sample) override { return sample->getFeatureValue(sample->featurePool[static_cast<size_t>(first)]); }
  void collectFeatures(std::vector<PbtFid>& out) const override {
    PbtFid fid;
    fid.kind = 'T';
    fid.setDescription(("test feature " + std::to_string(first)).c_str());
    fid.params[0] = first;
    out.push_back(fid);
  }

  int32_t first = 0;
  int32_t count = 2;
};

class DoubleTree : public PbtMClassTree {
 public:
  PbtClassifier* create() const override { return new DoubleTree(); }
  PbtClassifier* createNodeClassifier(int code) const override {
    return code >= 0 && code <= 3 ? new BranchClassifier() : nullptr;
  }
};

// A node of a hand-built tree: a posterior, optionally a BranchClassifier and slots.
inline DoubleTree* MakeNode(const std::vector<double>& posterior, BranchClassifier* classifier = nullptr,
                            std::vector<PbtMClassTree*> children = {}) {
  DoubleTree* node = new DoubleTree();
  node->classPosterior.SetSize(static_cast<int>(posterior.size()));
  for (size_t i = 0; i < posterior.size(); ++i) node->classPosterior[static_cast<int>(i)] = posterior[i];
  node->nodeClassifier = classifier;
  node->children = std::move(children);
  return node;
}

inline std::vector<double> Values(const VectorQo<double>& v) {
  std::vector<double> out;
  for (int i = 0; v.data != nullptr && i < v.rows * v.cols; ++i) out.push_back(v[i]);
  return out;
}
