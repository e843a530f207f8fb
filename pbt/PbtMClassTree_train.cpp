// Training of the multi-class tree: node by node, depth first, children in branch
// order. Every line goes to the tree's log through WriteLog.
//
// Random sequence (the order is behaviour): per node, in this order,
//   - the sample set's init when the node draws its samples afresh;
//   - with samplesToSave > 0, the resampling of the dump copy (resampleToSizes);
//   - resampleSize: resampleToSizes on the node's capped copy;
//   - a two-class node: chooseClassSplit, resampleFrom, the booster's training;
//     a multi-class node: the output code's trainColumns;
//   then the children. nodeStatistics, which training does not call, constructs
//   K + 1 distributions (one draw each); nothing else here draws.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "numerics/TextFunctions.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMClassTree.h"
#include "pbt/PbtMEcoc.h"
#include "pbt/PbtMSampleSet.h"
#include "pbt/PbtSampleBatch.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "platform/ParallelFor.h"
#include "platform/SystemInfo.h"
#include "volume/FolderLayout.h"

namespace {

// 112 '-' and a line end.
const std::string kSeparator = std::string(112, '-') + "\n";

double SecondsSince(double startMillis) { return (ProcessorMillis() - startMillis) / 1000.0; }

int LabelCount(const PbtMSampleSet* set) { return set->numLabels(); }

int CountOf(const PbtMSampleSet* set, int c) { return set->classCount[c]; }

}  // namespace

// The side file of the tree while it is trained ("clf.partial" beside "clf").
std::string PbtMClassTree::InProgressPath(const std::string& modelPath) { return modelPath + ".partial"; }

float PbtMClassTree::trainTree(PbtMSampleSet* set, PbtSampleSet* twoClassSet, PbtClassTreeParams* params) {
  // An empty folder would turn the removal of "<folder>\top" into one of "\top".
  std::string folder = params->outputFolder;
  ToBackslashes(folder);
  if (TrimBoth(folder).empty()) {
    std::fprintf(stderr, "trainTree: empty output folder, nothing trained\n");
    return -1.0f;
  }
  PbtAdaBoostParams* learner = dynamic_cast<PbtAdaBoostParams*>(params->learnerParams);
  if (learner == nullptr) {
    std::fprintf(stderr, "trainTree: no booster parameters for the node classifiers\n");
    return -1.0f;
  }
  PbtSampleSetParams* sampleParams = params->sampleSetParams;
  const char* callersFolder = sampleParams != nullptr ? sampleParams->outFolder : nullptr;

  params->logName = layout::InFolder(folder, layout::kTrainingLog);
  ToBackslashes(params->logName);
  learner->logName = FormatText("%s", params->logName.c_str());
  ToBackslashes(learner->logName);
  params->modelPath = layout::InFolder(folder, layout::kClassifier);
  params->topPath = layout::InFolder(folder, layout::kNodeFolder);
  ToBackslashes(params->modelPath);
  ToBackslashes(params->topPath);

  // The results of these commands are not looked at: a missing folder or file is fine.
  RunFolderCommand(FormatText("rmdir /s /q %s\\%s", folder.c_str(), layout::kNodeFolder));
  RunFolderCommand(FormatText("mkdir %s", folder.c_str()));
  RunFolderCommand(FormatText("del %s", params->logName.c_str()));
  RunFolderCommand(FormatText("del %s", params->modelPath.c_str()));
  RunFolderCommand(FormatText("del %s", InProgressPath(params->modelPath).c_str()));

  nodeClassifierCode = params->twoClassClassifier;
  params->depth = 0;
  params->nodeName = "TOP";
  params->path.clear();

  if (LabelCount(set) == 0 || CountOf(set, 0) == 0) {
    if (sampleParams == nullptr) FatalExit(1, "ERROR:  No data, stopping.\n", stderr);
    const double t = ProcessorMillis();
    sampleParams->outFolder = params->topPath.c_str();
    set->init(*sampleParams);
    sampleParams->classifier = this;
    WriteLog(params->logName, FormatText("Initialized SampleSet (time=%.3fs)\n\n", SecondsSince(t)));
  }

  WriteLog(params->logName, set->getText());
  WriteLog(params->logName, "\n");
  WriteLog(params->logName, params->describe());
  WriteLog(params->logName, "\n");

  const double t0 = ProcessorMillis();
  const float value = trainNode(set, twoClassSet, params);
  // The finished tree is written beside the final name and then takes it, so a "clf"
  // only ever holds a complete tree.
  std::string saveError;
  const std::string partial = InProgressPath(params->modelPath);
  bool saved = save(partial.c_str(), &saveError);
  if (saved && !ReplaceFile(partial, params->modelPath)) {
    saved = false;
    saveError = FormatText("Unable to write classifier file: %s", params->modelPath.c_str());
  }

  WriteLog(params->logName, kSeparator);
  const std::string done = FormatText("Done Training.  Training error (deterministic)=%.5f  (time=%.4f minutes).\n",
                                      static_cast<double>(value), SecondsSince(t0) / 60.0);
  WriteLog(params->logName, done);
  std::fputs(done.c_str(), stdout);

  int levels = 0, nodes = 0, leaves = 0;
  const std::vector<int> counts = levelStatistics(&levels, &nodes, &leaves);
  WriteLog(params->logName, FormatText("Number of levels = %i\n", levels));
  WriteLog(params->logName, FormatText("Number of leaf nodes = %i\n", leaves));
  WriteLog(params->logName, FormatText("Number of nodes = %i\n", nodes));
  for (int i = 0; i < std::min(levels, kMaxLevels); ++i) {
    WriteLog(params->logName, FormatText(" level %i nodes = %3i\n", i, counts[static_cast<size_t>(i)]));
  }

  if (sampleParams == nullptr) {
    float fp = 0.0f, fn = 0.0f, total = 0.0f;
    setSoftDescent(1);
    evaluateErrorMulti(set, set->classSplit, &fp, &fn, &total, true);
    std::string line = FormatText("PBT training error (prob)=%f  fp=%f  fn=%f\n", static_cast<double>(total),
                                  static_cast<double>(fp), static_cast<double>(fn));
    WriteLog(params->logName, line);
    std::fputs(line.c_str(), stdout);
    setSoftDescent(0);
    evaluateErrorMulti(set, set->classSplit, &fp, &fn, &total, true);
    line = FormatText("PBT training error (deter)=%f  fp=%f  fn=%f\n", static_cast<double>(total),
                      static_cast<double>(fp), static_cast<double>(fn));
    WriteLog(params->logName, line);
    std::fputs(line.c_str(), stdout);
    setSoftDescent(1);
  }
  WriteLog(params->logName, kSeparator);

  // The set must not keep the address of a node's folder name once training is over.
  if (sampleParams != nullptr) sampleParams->outFolder = callersFolder;
  if (!saved) {
    std::fprintf(stderr, "%s\n", saveError.c_str());
    return -1.0f;
  }
  return 0.0f;
}

namespace {

// " class %d: num of samples = %6i prior:%.5f frac:%.5f\n" for every class with samples.
void LogClassLines(const std::string& log, const PbtMSampleSet* set, const VectorQo<double>& prior) {
  const int k = LabelCount(set);
  for (int c = 0; c < k; ++c) {
    if (CountOf(set, c) <= 0) continue;
    const double p = c < prior.rows * prior.cols ? prior[c] : 0.0;
    const double frac = c < set->classMass.rows * set->classMass.cols ? set->classMass[c] : 0.0;
    WriteLog(log, FormatText(" class %d: num of samples = %6i prior:%.5f frac:%.5f\n", c, CountOf(set, c), p, frac));
  }
}

// True below the root when a class of the set has fewer samples than the threshold and
// is not switched on.
bool NeedsFreshSamples(PbtMSampleSet* set, const PbtClassTreeParams& params) {
  if (params.depth == 0) return false;
  for (int c = 0; c < LabelCount(set); ++c) {
    if (CountOf(set, c) < params.sampleThreshold() && !set->isClassOn(c)) return true;
  }
  return false;
}

// The set draws its samples afresh from the voxels that reach this node: the tree
// trained so far is marked along the node's path while the set draws.
void RedrawSamples(PbtMSampleSet* set, PbtSampleSetParams& sampleParams, const PbtClassTreeParams& params) {
  const double t = ProcessorMillis();
  // The list's tail is the root's branch.
  LinkedList<int> path;
  for (auto b = params.path.rbegin(); b != params.path.rend(); ++b) path.Append(*b);
  PbtMClassTree* tree = dynamic_cast<PbtMClassTree*>(sampleParams.classifier);
  if (tree != nullptr) tree->followPath(path);
  set->init(sampleParams);
  if (tree != nullptr) tree->invalidate();
  WriteLog(params.logName, FormatText("Re-sampled  (time=%.3fs)\n", SecondsSince(t)));
}

// The node's samples from the sample-set record: drawn afresh when a class ran short,
// else the parent's bootstrap masks are kept for the node's folder.
void PrepareNodeSamples(PbtMSampleSet* set, PbtSampleSetParams& sampleParams, const PbtClassTreeParams& params) {
  // The tree trained so far goes to disk before the set may consult it, beside the
  // final name: an interrupted training leaves no "clf" that would pass for a tree.
  if (sampleParams.classifier != nullptr)
    sampleParams.classifier->save(PbtMClassTree::InProgressPath(params.modelPath).c_str());
  const bool resample = NeedsFreshSamples(set, params);
  sampleParams.outFolder = params.topPath.c_str();
  if (resample) {
    RedrawSamples(set, sampleParams, params);
  } else {
    set->saveBootstrap(sampleParams);
  }
}

// The sum over the classes of 2 p (1 - p), each term rounded to float.
float Impurity(const VectorQo<double>& classPosterior) {
  float impurity = 0.0f;
  for (int i = 0; i < classPosterior.rows * classPosterior.cols; ++i) {
    const double p = classPosterior[i];
    impurity += static_cast<float>(2.0 * p * (1.0 - p));
  }
  return impurity;
}

// A copy of the set resampled to samplesToSave per class, saved into the node's folder.
void SaveSampleDump(PbtMSampleSet* set, const PbtClassTreeParams& params) {
  std::unique_ptr<PbtMSampleSet> dump(set->clone());
  dump->resampleToSizes(VectorQo<int>(LabelCount(dump.get()), params.samplesToSave));
  dump->saveSamples(params.topPath.c_str());
}

// "Pseudo positive :(c ... )" and "Pseudo negative :(c ...)": the two sides of the
// class split.
void LogPseudoClasses(const std::string& log, PbtMSampleSet* capped) {
  std::string line = "Pseudo positive :(";
  for (int c : capped->classOfSlot) {
    if (capped->isPositiveClass(c)) AppendFormat(line, "%d ", c);
  }
  WriteLog(log, line + " )\n");
  line = "Pseudo negative :(";
  for (int c : capped->classOfSlot) {
    if (!capped->isPositiveClass(c)) AppendFormat(line, "%d ", c);
  }
  WriteLog(log, line + ")\n");
}

// A booster trained on the capped copy's classes split in two, through the two-class
// working set (which computes features with the node set's sample).
void TrainTwoClassNode(PbtClassifier& classifier, PbtMSampleSet* capped, PbtMSampleSet* set,
                       PbtSampleSet* twoClassSet, PbtAdaBoostParams* learner, const PbtClassTreeParams& params,
                       const VectorQo<double>& classPosterior) {
  capped->chooseClassSplit(classPosterior, false);
  LogPseudoClasses(params.logName, capped);
  capped->resampleFrom(twoClassSet, params.numToTrain, params.numToTrain);
  twoClassSet->setSample(set->getSampleObject());
  twoClassSet->balanceWeights(0.5f);
  classifier.train(twoClassSet, learner);
}

// "sub-tree %d:" and its class lines for every part of the split.
void LogSubTrees(const std::string& log, const std::vector<PbtMSampleSet*>& parts) {
  for (size_t i = 0; i < parts.size(); ++i) {
    const PbtMSampleSet* part = parts[i];
    if (part == nullptr) continue;
    WriteLog(log, FormatText("sub-tree %d:\n", static_cast<int>(i)));
    for (int c = 0; c < LabelCount(part); ++c) {
      if (CountOf(part, c) > 0) WriteLog(log, FormatText("   class %d: num of samples = %6i\n", c, CountOf(part, c)));
    }
  }
}

}  // namespace

float PbtMClassTree::trainNode(PbtMSampleSet* set, PbtSampleSet* twoClassSet, PbtClassTreeParams* params) {
  const double t0 = ProcessorMillis();
  const std::string& log = params->logName;
  WriteLog(log, kSeparator);
  WriteLog(log, FormatText("%s   Depth=%i;\n", params->nodeName.c_str(), params->depth));

  set->classWeightMasses(classPosterior);
  if (stopTest(set, params, false)) {
    WriteLog(log, FormatText("Stopping: fraction weight small (time=%.3f).\n", SecondsSince(t0)));
    LogClassLines(log, set, classPosterior);
    return 0.0f;
  }
  if (params->sampleSetParams != nullptr) PrepareNodeSamples(set, *params->sampleSetParams, *params);

  set->classWeightMasses(classPosterior);
  const float impurity = Impurity(classPosterior);
  LogClassLines(log, set, classPosterior);
  if (params->samplesToSave > 0) SaveSampleDump(set, *params);
  if (stopTest(set, params, true)) {
    WriteLog(log, FormatText("Stopping: fraction weight small (time=%.3f).\n", SecondsSince(t0)));
    return impurity;
  }

  // Only one feature cache per node: the node's own goes before the capped copy's.
  set->freeFeatures();
  std::unique_ptr<PbtMSampleSet> capped(resampleSize(set, params->numToTrain));
  if (capped->numClasses() <= 1) {
    capped.reset();
    WriteLog(log, FormatText("Too few samples (time=%.3f).\n", SecondsSince(t0)));
    return impurity;
  }
  capped->setClassTotals(classPosterior);
  if (nodeClassifier == nullptr && !trainNodeClassifier(capped.get(), set, twoClassSet, params, t0)) return impurity;

  std::vector<PbtMSampleSet*> parts;
  splitSampleSet(set, &parts);
  LogSubTrees(log, parts);
  capped.reset();
  trainChildren(parts, twoClassSet, params);

  std::string top = params->topPath;
  ToBackslashes(top);
  RunFolderCommand(FormatText("rmdir /s /q %s", top.c_str()));
  return 0.3f;
}

bool PbtMClassTree::trainNodeClassifier(PbtMSampleSet* capped, PbtMSampleSet* set, PbtSampleSet* twoClassSet,
                                        PbtClassTreeParams* params, double startMillis) {
  const std::string& log = params->logName;
  PbtAdaBoostParams* learner = dynamic_cast<PbtAdaBoostParams*>(params->learnerParams);
  const bool twoClassNode = capped->numClasses() == 2 || params->depth < params->deepestDepth - 1;
  const int code = twoClassNode ? PbtClassifierFactory::kNodeAdaBoost : PbtClassifierFactory::kNodeMEcoc;
  std::unique_ptr<PbtClassifier> classifier(createNodeClassifier(code));
  if (learner == nullptr) {
    WriteLog(log, FormatText("No booster parameters (time=%.3f).\n", SecondsSince(startMillis)));
    return false;
  }
  if (classifier == nullptr) {
    WriteLog(log, FormatText("No node classifier for code %d (time=%.3f).\n", code, SecondsSince(startMillis)));
    return false;
  }
  if (twoClassNode) {
    TrainTwoClassNode(*classifier, capped, set, twoClassSet, learner, *params, classPosterior);
  } else {
    // One booster per code column of the output code.
    PbtMEcoc* ecoc = dynamic_cast<PbtMEcoc*>(classifier.get());
    if (ecoc != nullptr) ecoc->trainColumns(capped, twoClassSet, learner, params->numToTrain);
  }
  nodeClassifierCode = code;
  nodeClassifier = classifier.release();
  return true;
}

void PbtMClassTree::trainChildren(std::vector<PbtMSampleSet*>& parts, PbtSampleSet* twoClassSet,
                                  PbtClassTreeParams* params) {
  const int n = static_cast<int>(parts.size());
  // A retrained tree keeps its children; it gains slots when the split has more parts.
  if (static_cast<int>(children.size()) < n) children.resize(static_cast<size_t>(n), nullptr);

  PbtSampleSetParams* sampleParams = params->sampleSetParams;
  PbtClassTreeParams childParams;
  for (int i = 0; i < n; ++i) {
    std::unique_ptr<PbtMSampleSet> part(parts[static_cast<size_t>(i)]);
    parts[static_cast<size_t>(i)] = nullptr;
    if (!part) continue;  // no set, no child
    childParams = *params;
    childParams.depth = params->depth + 1;
    childParams.topPath = FormatText("%s\\%d_%d", params->topPath.c_str(), i, n - 1);
    ToBackslashes(childParams.topPath);
    childParams.path.push_back(i);
    PbtMClassTree*& child = children[static_cast<size_t>(i)];
    if (child == nullptr) {
      std::unique_ptr<PbtClassifier> made(create());
      child = dynamic_cast<PbtMClassTree*>(made.get());
      if (child == nullptr) continue;
      made.release();
    }
    childParams.nodeName = FormatText("%s\\%d_%d", childParams.nodeName.c_str(), i, n - 1);
    ToBackslashes(childParams.nodeName);
    child->trainNode(part.get(), twoClassSet, &childParams);
    // The child's folder name dies with childParams: point the set back at this node's.
    if (sampleParams != nullptr) sampleParams->outFolder = params->topPath.c_str();
  }
}

bool PbtMClassTree::stopTest(PbtMSampleSet* set, PbtClassTreeParams* params, bool requireTwoClasses) const {
  // Trees are at most kMaxLevels deep, whatever the depth limit asks.
  if (params->depth >= params->deepestDepth || params->depth >= kMaxLevels - 1) return true;
  if (requireTwoClasses && set->numClasses() < 2) return true;
  VectorQo<double> w;
  set->classWeightMasses(w);
  const int m = w.ArgMax();
  const double fracToStop = params->fracToStop;
  // The reference fractions are the selectable voxels per class that the sample set's
  // first init recorded; without them (or for a class they do not cover) only the
  // class's own fraction counts.
  const VectorQo<double>* reference =
      params->sampleSetParams != nullptr ? &params->sampleSetParams->meanClassVoxels : nullptr;
  const int refCount = reference != nullptr ? reference->rows * reference->cols : 0;
  const int l = set->classMass.rows * set->classMass.cols;
  for (int i = 0; i < l; ++i) {
    if (i == m) continue;
    const double frac = set->classMass[i];
    if (fracToStop <= frac) return false;
    if (i < refCount && m >= 0 && m < refCount) {
      const double r = (*reference)[i] * frac / (*reference)[m];
      if (fracToStop <= r) return false;
    }
  }
  return true;
}

PbtMSampleSet* PbtMClassTree::resampleSize(PbtMSampleSet* set, int n) const {
  const int classes = std::max(set->numClasses(), 1);
  int q = static_cast<int>((5LL * n) / classes);
  if (q <= 200) q = 200;
  if (q >= n) q = n;
  PbtMSampleSet* copy = set->clone();
  VectorQo<int> sizes(LabelCount(copy), 1);
  for (int c : set->classOfSlot) {
    if (c < sizes.cols) sizes[c] = q;
  }
  const int saved = gMinClassSamples;
  if (saved >= q) gMinClassSamples = q;
  copy->resampleToSizes(sizes);
  gMinClassSamples = saved;
  return copy;
}

int PbtMClassTree::assignBranches(PbtMSampleSet* set, std::vector<int>* branchOfEntry) const {
  const int entries = set->numEntries();
  branchOfEntry->assign(static_cast<size_t>(entries), 0);
  // The entries are positioned here, in order (case loads and their draws); the node
  // classifier's posteriors, which draw nothing, are formed on the workers.
  std::vector<int> sizes(static_cast<size_t>(entries), 0);
  std::vector<VectorQo<double>> posteriors(static_cast<size_t>(std::max(1, WorkerCount())));
  PbtSampleBatch batch(
      4096,
      [&](PbtSample& sample, int, int e, int worker) {
        VectorQo<double>& p = posteriors[static_cast<size_t>(worker)];
        nodeClassifier->posterior(&sample, p);
        (*branchOfEntry)[static_cast<size_t>(e)] = p.ArgMax();
        sizes[static_cast<size_t>(e)] = p.rows * p.cols;
      },
      [](int, const int*) {});
  int e = 0, c = 0, i = 0;
  set->reset();
  while (set->next(c, i)) batch.add(set->current(), e++);
  batch.finish();
  return e > 0 ? sizes[static_cast<size_t>(e - 1)] : 0;
}

void PbtMClassTree::splitSampleSet(PbtMSampleSet* set, std::vector<PbtMSampleSet*>* parts) const {
  std::vector<int> branchOfEntry;
  const int branches = assignBranches(set, &branchOfEntry);
  set->splitByLabels(*parts, branchOfEntry, branches);
  const VectorQo<unsigned char> mask = set->getClassMask();
  for (PbtMSampleSet* part : *parts) {
    if (part != nullptr) part->setClassMask(mask);
  }
}

double PbtMClassTree::nodeStatistics(PbtMSampleSet* set, double* splitInformation, double* branchEntropy) const {
  std::vector<int> branchOfEntry;
  const int branches = assignBranches(set, &branchOfEntry);
  // The class histograms take one slot per class label: a branch beyond them (or an
  // entry without a branch) leaves nothing to compare.
  for (int b : branchOfEntry) {
    if (b < 0 || b >= set->numLabels()) {
      if (splitInformation != nullptr) *splitInformation = 0.0;
      if (branchEntropy != nullptr) *branchEntropy = 0.0;
      return 100.0;
    }
  }
  std::vector<RF> hists;
  const VectorQo<int> counts = set->childClassHistograms(hists, branchOfEntry);
  double total = 0.0;
  for (int b = 0; b < branches && b < counts.cols; ++b) total += counts[b];
  // The class entropy left after the split, negated: minus the branches' class
  // entropies weighted by their shares of the entries.
  double h = 0.0;
  for (int b = 0; b < branches && b < counts.cols; ++b) {
    if (total > 0.0) h -= counts[b] / total * hists[static_cast<size_t>(b)].Entropy();
  }
  RF branchHist;  // one draw
  branchHist.Init(0, branches - 1, 1.0);
  for (int b = 0; b < branches && b < counts.cols; ++b) branchHist.Set(b, counts[b]);
  branchHist.Normalize();
  const double e = branchHist.Entropy();
  if (splitInformation != nullptr) *splitInformation = h;
  if (branchEntropy != nullptr) *branchEntropy = e;
  return e > 0.0 ? h / e : 100.0;
}
