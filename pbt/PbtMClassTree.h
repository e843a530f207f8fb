#pragma once
// PbtMClassTree: the multi-class probabilistic boosting tree.
//
// Every node is a PbtMClassTree; the root is the tree. A node holds a node
// classifier whose posterior over the node's branches routes a sample to a child
// (slot b takes the samples whose most probable branch is b), and the class
// distribution of the training samples that reached it (`classPosterior`, K entries
// summing to 1, the same K in every node). A leaf has no node classifier and answers
// its class distribution.
//
// Ownership: a node owns its node classifier and its children; destroying a node
// destroys its subtree. Child slots may be null.
//
// Branches: a two-class node classifier (codes 0 and 1) has two branches, [1 - p, p];
// a multi-class one (codes 2 and 3) one per entry of its posterior. Evaluation never
// reads past the child slots: a branch without a slot counts as a null child.
//
// Evaluation (treePosterior, probability, posteriorByDescent) reads the tree and
// writes nothing but its output, so one loaded tree may be evaluated from several
// threads at once (each with its own sample and output vector), as long as its node
// classifiers' posterior is safe that way too and nobody changes the tree meanwhile.
// Path marks and soft-descent flags are changed only between evaluations.
//
// Node record (current layout, written by write(), read when gTreeLayoutFlag != 0),
// little-endian, no padding:
//
//   size  field
//   4     node-classifier code    int32 (0 PbtAdaBoost, 1 PbtRealBoost,
//                                  2 PbtMGentalBoost, 3 PbtMEcoc)
//   1     has-classifier          u8: 1 when a node classifier follows
//   var   node classifier         its own record, only when has-classifier is non-zero
//   4     posterior rows          int32, 0 or 1
//   4     posterior cols          int32, K
//   4K    posterior               rows x cols float32 (each double rounded to nearest)
//   4     child slot count n      int32
//   per slot: u8 1 followed by the child's node record, or u8 0 for a null slot
//             (a reader takes any other byte for a null slot as well)
//
// Older two-branch layout (read only, when gTreeLayoutFlag == 0):
//
//   4     ignored                 int32
//   4     ignored                 int32
//   4     node-classifier code    int32
//   1     has-classifier          u8, non-zero: the node classifier's record follows
//   1     child 0 present         u8, non-zero: child 0's record follows (this layout)
//   1     child 1 present         u8, non-zero: child 1's record follows (this layout)
//   8+4K  posterior               as above (rows, cols, floats)
//   A node read this way always has exactly two child slots.
//
// A reader rejects (returns false, the tree unchanged): a record that does not fit in
// the bytes left; a has-classifier byte with a code for which there is no classifier
// (outside 0..3, or a learner the library does not hold) or whose record does not
// read; an output code (PbtMEcoc) whose class index names a code row outside its
// classes; a posterior with rows other than 0 or 1, a negative extent, or another
// element count than the posteriors of the other nodes; a negative child count or one
// above kMaxSlots; and a node deeper than kMaxLevels levels.
#include <cstdint>
#include <string>
#include <vector>

#include "numerics/LinkedList.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtTreeClassifier.h"

class PbtMSampleSet;

class PbtMClassTree : public PbtTreeClassifier {
 public:
  // Trees are at most this many levels deep (the root is level 0).
  static constexpr int kMaxLevels = 100;
  // Largest number of child slots a reader accepts in one node.
  static constexpr int kMaxSlots = 65536;

  // An empty leaf: no node classifier, no children, empty posterior, code 0, hard
  // descent, unmarked.
  PbtMClassTree() = default;
  ~PbtMClassTree() override;

  // A new default PbtMClassTree.
  PbtClassifier* create() const override { return new PbtMClassTree(); }
  // The node record of this node and its subtree, current layout.
  void write(BinaryWriter& out) const override;
  // Fills this node and its subtree from a record in the layout that gTreeLayoutFlag
  // selects. Children are created with create(), node classifiers with
  // createNodeClassifier(). On failure returns false and leaves the node as it was.
  bool read(BinaryReader& in) override;
  // The path test of training: 0.0 when the node is unmarked, else the value of
  // posteriorByDescent.
  float probability(PbtSample* sample) override;
  // The node classifier's features, then each child's, depth first in slot order.
  void collectFeatures(std::vector<PbtFid>& out) const override;
  const char* getName() const override { return "PbtMClassTree"; }

  // A new default node classifier for a node-classifier code (PbtClassifierFactory;
  // training passes nodeClassifierCode, the reader the code it has just read); null
  // for a code without one. The caller owns the result.
  virtual PbtClassifier* createNodeClassifier(int code) const;

  // Clears the path marks of the node and of every descendant.
  void invalidate();
  // Sets softDescent on the node and, below a node with a node classifier, on the
  // subtree; returns the node's previous flag.
  uint8_t setSoftDescent(uint8_t flag);
  // Destroys every child and empties the slots.
  void deleteChildren();
  // True when the node has at least one child slot (null or not).
  bool hasChildren() const { return !children.empty(); }

  // The class posterior of one sample (resizes `out` to K). Hard descent follows the
  // most probable branch to a leaf; soft descent mixes, weighted by the branch
  // probabilities, the answers of the best branch and of every branch within 0.1 of
  // it with the stored posteriors of the branches further below, then normalises.
  // On a marked node it answers along the marked path instead.
  void treePosterior(VectorQo<double>& out, PbtSample* sample) const;
  // Along the marked path: 1.0 when the sample's most probable branch is the marked
  // one at every marked node (out := posterior of the deepest node reached), 0.0 at
  // the first marked node where it is not; 1.0 and `out` untouched on an unmarked node.
  float posteriorByDescent(VectorQo<double>& out, PbtSample* sample) const;
  // Marks the path of branches whose last element is the branch taken at this node
  // and removes the elements it uses. An empty list marks nothing. Marking stops at a
  // branch without a child.
  void followPath(LinkedList<int>& path);

  // Per-level node counts: the result has kMaxLevels entries (level 0 first);
  // *levels = depth of the tree, *nodes = number of nodes, *leaves = number of leaves.
  std::vector<int> levelStatistics(int* levels, int* nodes, int* leaves) const;
  // Adds this subtree's nodes to levelCounts[0..count-1] (level of this node first;
  // levels beyond `count` are not counted) and its leaves to *leaves; returns the
  // subtree's depth in levels (0 for a node with a node classifier but no child).
  int countLevel(int* levelCounts, int count, int* leaves) const;

  // --- Training (PbtMClassTree_train.cpp) --------------------------------------
  // Not for use from several threads. See the training file for the steps.

  // Trains the whole tree on `set` into params->outputFolder: the log "logfile.txt",
  // the node folders under "top" and the classifier file "clf". The tree so far is
  // saved at every node to "clf.partial", and the finished tree is saved there and
  // renamed to "clf": "clf" appears only when the training completed. twoClassSet is the
  // working set of the two-class node classifiers. params->learnerParams must point
  // to a PbtAdaBoostParams. Returns 0.0; returns -1.0 after printing one line on the
  // error stream when the output folder is empty or learnerParams is not a booster
  // record (then nothing is removed, trained or written), or when the finished tree
  // cannot be saved. A set without samples of class 0 is initialised through
  // params->sampleSetParams; without that record the run ends ("ERROR:  No data,
  // stopping.", status 1). Sets sampleSetParams->classifier to this tree and leaves
  // sampleSetParams->outFolder as the caller had it.
  float trainTree(PbtMSampleSet* set, PbtSampleSet* twoClassSet, PbtClassTreeParams* params);
  // The file the tree of `modelPath` is saved to while it trains ("<modelPath>.partial").
  static std::string InProgressPath(const std::string& modelPath);
  // Trains this node and its subtree on `set`: 0.0 when the node stops at once, its
  // impurity when it stops later, 0.3 after training its children.
  float trainNode(PbtMSampleSet* set, PbtSampleSet* twoClassSet, PbtClassTreeParams* params);
  // True when the node must not be split.
  bool stopTest(PbtMSampleSet* set, PbtClassTreeParams* params, bool requireTwoClasses) const;
  // A capped copy of `set` for node training (the caller owns it).
  PbtMSampleSet* resampleSize(PbtMSampleSet* set, int n) const;
  // The most probable branch of every entry of `set`; returns the branch count.
  int assignBranches(PbtMSampleSet* set, std::vector<int>* branchOfEntry) const;
  // One new sample set per branch, appended to `parts` (the caller owns them).
  void splitSampleSet(PbtMSampleSet* set, std::vector<PbtMSampleSet*>* parts) const;
  // The ratio of the split's negated class entropy, -sum_b (n_b / N) * Entropy_b,
  // to its branch entropy (100 when the latter is 0; not used by training); the two
  // values through the non-null pointers.
  double nodeStatistics(PbtMSampleSet* set, double* splitInformation, double* branchEntropy) const;

  // --- Node record in memory -----------------------------------------------------
  PbtClassifier* nodeClassifier = nullptr;  // owned; null in a leaf
  uint8_t softDescent = 0;                  // 0 hard, 1 soft descent
  uint8_t pathMark = 0;                     // 1 while on a marked path
  int32_t pathBranch = 0;                   // branch of the marked path at this node
  // Node-classifier code (PbtClassifierFactory::NodeCode). A leaf keeps the value it
  // was created with (0) or read, so identical trees write identical bytes.
  int32_t nodeClassifierCode = 0;
  VectorQo<double> classPosterior;          // K entries
  std::vector<PbtMClassTree*> children;     // owned; slots may be null

 private:
  // Training stages of trainNode. trainNodeClassifier gives the node its classifier,
  // trained on the capped copy of the node's set: a booster for a two-class split, an
  // output code of boosters otherwise; false after logging why there is none.
  bool trainNodeClassifier(PbtMSampleSet* capped, PbtMSampleSet* set, PbtSampleSet* twoClassSet,
                           PbtClassTreeParams* params, double startMillis);
  // Trains one child per part of the split (the parts are taken over and destroyed),
  // creating the children that are missing.
  void trainChildren(std::vector<PbtMSampleSet*>& parts, PbtSampleSet* twoClassSet, PbtClassTreeParams* params);

  bool readNode(BinaryReader& in, bool currentLayout, int level, int* classCount);
  // The posterior record; anyShape (the older layout) takes any rows x cols and
  // stores the values as one row. Its total length must match *classCount when set.
  bool readPosterior(BinaryReader& in, VectorQo<double>& posterior, int* classCount, bool anyShape) const;
};
