#pragma once
// PbtTreeWeak: a weak learner for the two-class boosters, a small two-way tree whose
// every node holds one decision stump (PbtAdaWeak). The top stump is the best
// single-feature stump over the whole feature pool; each child is trained on the
// samples the stump sends to it (the other samples' weights set to 0), down to the
// maximum depth of the parameter record.
//
// children is empty or holds exactly two subtrees: index 0 takes the samples whose
// stump decision is negative, index 1 those whose decision is zero or positive. A
// child without a stump (never trained: no weight reached it) answers by its side:
// side 1 positive, side 0 negative. The tree owns its stump and children.
//
// Random sequence: constructing a PbtTreeWeak takes no draw. Training a node takes
// two draws per feature (those of its candidate stumps, which the workers build
// without drawing: the calling thread takes them while the workers train), then
// constructs one clone of the best (two); training itself draws nothing. Cloning a
// tree clones each of its stumps (two draws each).
//
// Record (little-endian), recursive:
//
//   int32  depth
//   u8     has stump: 0 none, any other value: a stump record follows
//   153    PbtAdaWeak record (only when has stump is not 0), no type code
//   int32  child count, 0 or 2
//          the children's records in index order, in this same layout
//
// An empty tree is 9 bytes, a tree of one stump 162, a full tree of depth 2 486.
// read() rejects a short record, a child count other than 0 or 2, and trees nested
// deeper than kMaxLevels; the object is then unchanged.
#include <cstdint>
#include <vector>

#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtClassifier.h"

class PbtTreeWeak : public PbtClassifier {
 public:
  // Levels of nesting a reader accepts.
  static constexpr int kMaxLevels = 32;

  // depth 0, no stump, no children. No draw.
  PbtTreeWeak() = default;
  ~PbtTreeWeak() override;
  // clear(); when `other` has a stump: a clone of it, clones of its non-null
  // children in their places, and its depth. Without a stump the tree stays empty.
  PbtTreeWeak& operator=(const PbtTreeWeak& other);

  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtTreeWeak(); }
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  uint8_t typeCode() const override { return 5; }

  // params must be a PbtAdaWeakParams; its treeDepth is the maximum depth (a node of
  // depth d gets children while d + 1 < treeDepth). The set's features must be cached.
  // Releases the previous tree first (depth stays). Returns the error of this node's
  // stump; 1.0, with the node left without a stump, when no feature gives an error
  // below 1.0 (or the pool is empty). The set's weights are restored before return.
  float train(PbtSampleSet* set, PbtClassifierParams* params) override;

  // Descends by the stumps' decisions on the cached values: +1.0 / -1.0 at a leaf
  // (a stump without children, or a child without a stump); 0.0 without a stump.
  float classifyInSet(PbtSampleSet* set, int classFlag, int index) override;
  // Descends by the stumps' responses: 1.0 / 0.0 at a leaf; 0.0 without a stump.
  float probability(PbtSample* sample) override;
  // posterior is the base's [1 - p, p] with p = probability(sample).
  // The stump's features, then each child's.
  void collectFeatures(std::vector<PbtFid>& out) const override;
  const char* getName() const override { return "WeakTree"; }

  // Deletes the stump and the children; depth stays.
  virtual void clear();

  int32_t depth = 0;                  // level of this node in its tree; 0 at the top
  PbtAdaWeak* root = nullptr;         // the node's stump, or null
  std::vector<PbtTreeWeak*> children;  // empty or two

 private:
  bool readNode(BinaryReader& in, int level);
};
