#pragma once
// Parameter records that steer training. Each record describes itself in a text of
// its own, so that a training run can write its settings into its log.
//
// `describe` is the one describing operation: the base record returns its text as it
// stands ("Parameters" after construction); the tree and booster records rebuild the
// text from their own title line, one " key=value" line at a time, and return it; the
// weak-learner record returns the constant "PbtAdaWeakParams". `getText` is the same
// operation under its other name. The returned pointer stays valid until the record
// changes or is destroyed.
//
// Records are values: built by a driver or trainer, filled, passed by pointer.
// Assignment copies every field; the pointer fields (sampleSetParams, learnerParams)
// are copied as pointers and never owned.
#include <cstdint>
#include <string>
#include <vector>

#include "pbt/PbtFid.h"

class PbtSampleSetParams;

class PbtClassifierParams {
 public:
  PbtClassifierParams() = default;
  virtual ~PbtClassifierParams() = default;
  PbtClassifierParams(const PbtClassifierParams&) = default;
  PbtClassifierParams& operator=(const PbtClassifierParams&) = default;

  virtual const char* describe() { return text.c_str(); }
  const char* getText() { return describe(); }

  // File name of the training log handed to WriteLog; empty: the console.
  std::string logName;
  // When set, the boosters write one log line per boosting round.
  uint8_t verbose = 1;
  // Copied by assignment; nothing reads it.
  uint8_t spare = 0;

 protected:
  std::string text = "Parameters";
};

// Multi-class tree training.
class PbtClassTreeParams : public PbtClassifierParams {
 public:
  // "BoostedTreeParams:\n" and the lines numToTrain, deepestDepth, cascaseLevels,
  // samplesToSave, epsilon, relErrorToStop, fracToStop, the two-class learner line
  // (twoClassClassifier 0 AdaBoost, 1 RealBoost, none for other values), then the
  // learner record's own description when learnerParams is set.
  const char* describe() override;

  // The per-class count below which a node asks for new samples: numToTrain + 5.
  int sampleThreshold() const { return numToTrain + 5; }
  int getNumToTrain() const { return numToTrain; }

  // Folder of the tree's files (the log, "clf", the node folders).
  std::string outputFolder;
  int numToTrain = 500;       // samples per class for node training
  int deepestDepth = 1;       // depth limit of the tree
  int cascaseLevels = 0;      // described; nothing else reads it
  int samplesToSave = 0;      // samples per class dumped per node (0: none)
  float epsilon = 0.1f;       // described
  float relErrorToStop = 0.01f;  // described
  float fracToStop = 0.005f;  // class-fraction threshold of the tree's stop test
  PbtSampleSetParams* sampleSetParams = nullptr;  // not owned
  int twoClassClassifier = 0;  // 0 AdaBoost, 1 RealBoost (described)
  PbtClassifierParams* learnerParams = nullptr;   // handed to each node's learner; not owned
  std::string modelPath;  // file the trained tree is saved to
  std::string topPath;    // folder for intermediate results
  std::string nodeName;   // node being trained ("TOP" at the root)
  int depth = 0;          // depth of the node being trained
  std::vector<int> path;  // child indices from the root to the node being trained
};

// Two-class boosters (and the error-correcting output code built from them).
class PbtAdaBoostParams : public PbtClassifierParams {
 public:
  // "AdaBoostParams:\n", " numWeak=%i\n", " coding mode=%i\n".
  const char* describe() override;

  int numWeak = 0;         // boosting rounds
  int gentleFlag = 0;      // low byte copied into the gentle booster's weak parameters
  int orLevels = 0;        // > 1: each round also offers an OR booster candidate
  int andLevels = 0;       // > 1: each round also offers an AND booster candidate
  int codeBits = 8;        // code columns of the error-correcting output code
  int treeDepth = 0;       // > 0: each round's only candidate is a tree of this depth
  int noFeatureCache = 0;  // > 0: the booster does not compute the set's feature cache
  uint8_t flag = 1;        // nothing reads it
  uint8_t codeFromFile = 0;  // the output code reads its columns from "code.txt"
  int codingMode = 0;      // coding mode of the error-correcting output code
};

// Weak-learner parameters: one record per booster training call, updated for each
// candidate.
class PbtStumpBins;

class PbtAdaWeakParams : public PbtClassifierParams {
 public:
  const char* describe() override { return "PbtAdaWeakParams"; }

  PbtFid fid;              // the feature the weak learner uses
  int numThresholds = -1;  // threshold steps / histogram bins of the stump's search
  int featureIndex = -1;   // row of the feature in the sample set's feature cache
  int numMembers = 0;      // members of an AND or OR booster candidate
  int treeDepth = 0;       // depth of a decision-tree candidate
  // Sums of the set's positive and negative weights (as Matrix::Sum forms them), given
  // by a caller that forms them once for many learners over unchanged weights; when
  // not given the learner forms them itself.
  bool weightSumsGiven = false;
  double posWeightSum = 0.0;
  double negWeightSum = 0.0;
  // The indices of the positive and negative samples whose weights are not 0, in
  // increasing order, given (with the sums) by a caller that forms them once for many
  // stumps over unchanged weights (not owned; null: every sample). A stump adds only
  // these weights into its histograms: adding a weight of 0 changes no sum.
  const std::vector<int>* posNonZero = nullptr;
  const std::vector<int>* negNonZero = nullptr;
  // Ranges and bins shared among the stumps of one boosting run (not owned; may be null).
  PbtStumpBins* stumpBins = nullptr;
};
