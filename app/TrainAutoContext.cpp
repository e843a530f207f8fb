#include "app/TrainAutoContext.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "features/Brain3DSampleSet.h"
#include "features/Edg3DSampleSet.h"
#include "features/EdgSampleSetParams.h"
#include "features/FeatureFlags.h"
#include "numerics/TextFunctions.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMClassTree.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

namespace {

// Sample-set settings of the training.
constexpr int kRadius = 5;
constexpr int kSamplesPerClass = 8100;
constexpr int kStopFactor = 500;
// Tree and booster settings.
constexpr int kNumToTrain = 2000;
constexpr int kNumWeak = 60;
constexpr int kWeakTreeDepth = 2;
constexpr int kCodeBits = 9;
constexpr int kCodingMode = 1;

std::string Backslashed(std::string path) { return ToBackslashes(path); }

bool gSkipTreeReadBack = false;

// The maps and every later iteration rest on the stored tree, so it must read back.
// Reading a tree constructs its weak classifiers, whose histograms draw; the generator
// is put back afterwards so that the next iteration trains on the same sequence as
// without the check.
bool TreeReadsBack(const std::string& clf, int iteration) {
  const UniformRandomState state = SaveUniformRandomState();
  bool ok = true;
  {
    PbtMClassTree check;
    std::string error;
    if (!check.load(clf.c_str(), &error)) {
      std::printf("Training of iteration %d left no usable classifier %s: %s\n", iteration, clf.c_str(),
                  error.c_str());
      ok = false;
    }
  }
  RestoreUniformRandomState(state);
  return ok;
}

// An iteration whose tree does not finish leaves neither the tree's side file nor its
// node folders: both go when the iteration fails, when an exception passes through and
// (as a fatal cleanup) when the run ends on the fatal path or is interrupted meanwhile.
class UnfinishedTree {
 public:
  UnfinishedTree(const std::string& clf, const std::string& iterationFolder)
      : partial_(PbtMClassTree::InProgressPath(clf)),
        nodes_(layout::InFolder(iterationFolder, layout::kNodeFolder)),
        cleanup_([this] { Remove(); }) {}
  ~UnfinishedTree() {
    if (!finished_) Remove();
  }
  UnfinishedTree(const UnfinishedTree&) = delete;
  UnfinishedTree& operator=(const UnfinishedTree&) = delete;
  void Finished() { finished_ = true; }

 private:
  void Remove() const {
    DeleteFileAt(partial_);
    RemoveFolderTree(nodes_);
  }

  const std::string partial_;
  const std::string nodes_;
  bool finished_ = false;
  FatalCleanup cleanup_;  // last: unregistered before the members it reads go
};

// The last file of a training: tells the model script that every iteration finished.
bool MarkTrainingDone(const std::string& target, int iterations) {
  const std::string name = layout::InFolder(target, layout::kTrainingDone);
  const std::string line = FormatText(layout::kTrainingDoneLine, iterations);
  std::FILE* f = OpenFile(name, "wt");
  bool ok = f != nullptr && std::fwrite(line.data(), 1, line.size(), f) == line.size();
  if (f != nullptr && std::fclose(f) != 0) ok = false;
  if (!ok) std::printf("Unable to write %s\n", name.c_str());
  return ok;
}

}  // namespace

void SkipTreeReadBackForTesting(bool skip) { gSkipTreeReadBack = skip; }

int TreeDepthFor(int numClasses) {
  const float L = static_cast<float>(std::log(static_cast<double>(numClasses)));
  const double bits = std::ceil(static_cast<double>(L) / std::log(2.0));
  const double pairs = std::ceil(static_cast<double>(L) / std::log(4.0));
  return static_cast<int>(std::max(7.0, bits + std::max(3.0, pairs)));
}

int SampleCapFor(int numVolumes) { return std::min(1500, 100 * std::max(0, std::min(numVolumes, 1000))); }

int MinClassSamplesFor(int numVolumes) { return std::min(2000, SampleCapFor(numVolumes)); }

bool TrainAutoContextIteration(EdgSampleSetParams& sp, PbtClassTreeParams& tp, int loadFlag, int iteration) {
  const std::string data = sp.dataFolder != nullptr ? sp.dataFolder : "";
  std::unique_ptr<Brain3DSampleSet> set(new Brain3DSampleSet());  // two draws: its distributions
  std::unique_ptr<Edg3DSampleSet> twoClassSet(new Edg3DSampleSet());

  const std::string iterationPath = layout::InFolder(data, FormatText(layout::kIterationFolder, iteration));
  const std::string labelsFolder = Backslashed(layout::InFolder(iterationPath, layout::kLabelsFolder));
  const std::string iterationFolder = Backslashed(iterationPath);
  sp.labelsFolder = labelsFolder.c_str();
  tp.outputFolder = iterationFolder;

  std::unique_ptr<PbtMClassTree> tree(new PbtMClassTree());
  const std::string clf = Backslashed(layout::InFolder(iterationPath, layout::kClassifier));
  bool ok = true;
  if (loadFlag) {
    std::string error;
    if (!tree->load(clf.c_str(), &error)) {
      std::printf("Unable to load the classifier %s: %s\n", clf.c_str(), error.c_str());
      ok = false;
    }
  } else {
    UnfinishedTree unfinished(clf, iterationFolder);
    set->prepareTrainingData(sp);
    tp.sampleSetParams = &sp;
    tree->trainTree(set.get(), twoClassSet.get(), &tp);
    if (!gSkipTreeReadBack) ok = TreeReadsBack(clf, iteration);
    if (ok) unfinished.Finished();
  }
  if (ok) {
    sp.outFolder = iterationFolder.c_str();
    sp.classifier = tree.get();
    tree->setSoftDescent(1);
    if (loadFlag && iteration == 1) set->prepareTrainingData(sp);
    sp.loaded = 0;
    set->applyClassifier(sp, "_class.3dm");
  }
  // The record must not keep addresses of this iteration's objects.
  sp.classifier = nullptr;
  sp.outFolder = nullptr;
  sp.labelsFolder = nullptr;
  tp.sampleSetParams = nullptr;
  return ok;
}

bool TrainAutoContext(const std::string& target, int numVolumes, int numStructures, int iterations, int trainFlag) {
  EdgSampleSetParams sp;
  PbtClassTreeParams tp;
  PbtAdaBoostParams bp;
  gTypedClassifierFiles = 1;
  const std::string dataFolder = target;  // the records point at this copy for the whole training
  const std::string atlas = Backslashed(layout::InFolder(target, layout::kAtlas));
  if (static_cast<int>(atlas.size()) > kMaxAtlasPath) {
    std::printf("Atlas path %s is longer than %d characters\n", atlas.c_str(), kMaxAtlasPath);
    return false;
  }
  gAtlasPath = atlas;

  const int K = numStructures + 1;
  const int sampleCap = SampleCapFor(numVolumes);
  sp.numClasses = K;
  sp.dataFolder = dataFolder.c_str();
  sp.dirTestData = dataFolder.c_str();
  sp.numTrain = numVolumes;
  sp.numCases = numVolumes;
  sp.radius = kRadius;
  sp.numTrainingSamples = kSamplesPerClass;
  sp.stopFactor = kStopFactor;
  sp.sampleCap = sampleCap;
  sp.numVolumes1 = numVolumes;
  sp.numVolumes2 = numVolumes;

  tp.numToTrain = kNumToTrain;
  tp.deepestDepth = TreeDepthFor(K);
  tp.cascaseLevels = 0;
  tp.samplesToSave = 0;
  tp.epsilon = 0.1f;
  tp.fracToStop = numStructures <= 20 ? 0.03f : 0.04f;
  tp.twoClassClassifier = 0;
  bp.numWeak = kNumWeak;
  bp.treeDepth = kWeakTreeDepth;
  bp.codeBits = kCodeBits;
  bp.codingMode = kCodingMode;
  bp.flag = 1;
  tp.learnerParams = &bp;

  gMinClassSamples = MinClassSamplesFor(numVolumes);
  gTreeLayoutFlag = 1;
  gFeatureVersion = 1;

  for (int i = 1; i <= iterations; ++i) {
    gContextAvailable = i == 1 ? 0 : 1;
    if (!TrainAutoContextIteration(sp, tp, trainFlag == 0 ? 1 : 0, i)) return false;
  }
  sp.dataFolder = nullptr;
  sp.dirTestData = nullptr;
  return iterations < 1 || MarkTrainingDone(target, iterations);
}
