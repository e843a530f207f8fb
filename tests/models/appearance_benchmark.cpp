// Benchmark of the appearance model's hot loop (a program, not a test): trains a small
// multi-class tree on one example subject, writes a model folder with it and times
// the posterior evaluations of one pass over a volume. Prints figures only.
//
//   appearance_benchmark [training subject prefix] [segmented subject prefix]
// A prefix names "<prefix>.brain.img" and "<prefix>.label.img" (Analyze pairs).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "features/VoxelSampleRecord.h"
#include "models/Kro_AppearanceAll.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtBooster.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMClassTree.h"
#include "pbt/PbtMEcoc.h"
#include "platform/FolderCommands.h"
#include "platform/ParallelFor.h"
#include "volume/AnalyzeVolume.h"

namespace {

using Volume = HeapMatrix3D<unsigned char>;

bool ReadBytes(const std::string& name, Volume& out) {
  HeapMatrix3D<short> v;
  if (!ReadAnalyze(name, v)) {
    std::printf("cannot read %s\n", name.c_str());
    return false;
  }
  ConvertVolume(out, v);
  return true;
}

// The training table's features are numbered by their place in the voxel sample's
// pool; the trained tree gets the pool's identifiers back so that it evaluates on
// volumes.
void RenameFeatures(PbtClassifier* c, const std::vector<PbtFid>& pool) {
  if (c == nullptr) return;
  if (auto* weak = dynamic_cast<PbtAdaWeak*>(c)) {
    weak->fid = pool[static_cast<size_t>(weak->fid.params[0])];
  } else if (auto* booster = dynamic_cast<PbtBooster*>(c)) {
    for (PbtClassifier* m : booster->members) RenameFeatures(m, pool);
  } else if (auto* codes = dynamic_cast<PbtMEcoc*>(c)) {
    for (PbtClassifier* m : codes->classifiers) RenameFeatures(m, pool);
  }
}

void RenameTree(PbtMClassTree* node, const std::vector<PbtFid>& pool) {
  if (node == nullptr) return;
  RenameFeatures(node->nodeClassifier, pool);
  for (PbtMClassTree* child : node->children) RenameTree(child, pool);
}

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  const std::string data = "/work/shared/data/hippocampus";
  const std::string trainPrefix = argc > 1 ? argv[1] : data + "/train/hippocampus_001";
  const std::string segPrefix = argc > 2 ? argv[2] : data + "/train/hippocampus_003";
  Volume brain, labels;
  if (!ReadBytes(trainPrefix + ".brain.img", brain) || !ReadBytes(trainPrefix + ".label.img", labels)) return 1;
  const int classes = 3, radius = 5;

  gTypedClassifierFiles = 1;
  gTreeLayoutFlag = 1;
  gFeatureVersion = 1;
  gContextAvailable = 0;  // a first auto-context iteration: no context features
  ResetUniformRandomForTesting();

  // Training table: every 3rd voxel of each class inside the sample radius.
  Object3DSample sample(classes, radius);
  sample.setVolume(brain);
  sample.getAtlasVolume().SetSize(brain.dim0(), brain.dim1(), brain.dim2());  // an uninformative atlas
  MVectorSampleSet::Rows rows(classes);
  int seen = 0;
  for (int z = radius; z < brain.dim0() - radius; ++z)
    for (int y = radius; y < brain.dim1() - radius; ++y)
      for (int x = radius; x < brain.dim2() - radius; ++x) {
        const int c = labels(z, y, x);
        if (c >= classes || (seen++ % 3) != 0 || rows[c].size() >= 400) continue;
        VoxelSampleRecord r;
        r.caseNumber = -1;
        r.z = static_cast<int16_t>(z);
        r.y = static_cast<int16_t>(y);
        r.x = static_cast<int16_t>(x);
        sample.setPosition(r);
        VectorQo<float> values;
        sample.computeAllFeatures(values);
        // Location features would separate the labels of one subject at once; hold them
        // constant so that the tree learns from the image as it must across subjects.
        for (int f = 0; f < values.cols; ++f)
          if (sample.featurePool[static_cast<size_t>(f)].kind == 'L') values[f] = 0.0f;
        rows[c].emplace_back(values.data, values.data + values.cols);
      }
  std::printf("training subject %s: %d x %d x %d, samples %zu / %zu / %zu, pool %d features\n", trainPrefix.c_str(),
              brain.dim2(), brain.dim1(), brain.dim0(), rows[0].size(), rows[1].size(), rows[2].size(),
              sample.numFeatures());

  TempFolder tmp;
  const double trainStart = CpuSeconds();
  const auto trainWallStart = std::chrono::steady_clock::now();
  PbtMClassTree tree;
  {
    ScopedMinClassSamples minimum(10);
    MVectorSampleSet set(rows);
    VectorSampleSet twoClass;
    PbtAdaBoostParams booster;
    booster.numWeak = 20;
    booster.codingMode = 1;
    booster.verbose = 0;
    PbtClassTreeParams params;
    params.outputFolder = tmp.file("train");
    params.numToTrain = 1200;
    params.deepestDepth = 4;
    params.learnerParams = &booster;
    std::fflush(stdout);
    tree.trainTree(&set, &twoClass, &params);
  }
  const double trainSeconds = CpuSeconds() - trainStart;
  const double trainWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - trainWallStart).count();
  if (std::getenv("BENCH_LOG")) std::fprintf(stderr, "%s", ReadFileText(tmp.file("train/logfile.txt")).c_str());
  RenameTree(&tree, sample.featurePool);
  std::vector<PbtFid> used;
  tree.collectFeatures(used);
  int levels = 0, nodes = 0, leaves = 0;
  tree.levelStatistics(&levels, &nodes, &leaves);

  const std::string model = tmp.file("model");
  MakeFolder(model);
  std::string error;
  if (!tree.save((model + "/clf").c_str(), &error)) {
    std::printf("%s\n", error.c_str());
    return 1;
  }
  WriteFileText(model + "/setting.txt", "ModelType: 3\nNumberofClasses: 3\nRadius: 5\nSub-volume: 0 0 0 0 0 0\n");
  Volume zero;
  zero.SetSize(brain.dim0(), brain.dim1(), brain.dim2());
  zero.Save(model + "/atlas.3dm");

  Volume target;
  if (!ReadBytes(segPrefix + ".brain.img", target)) return 1;
  Kro_AppearanceAll all;
  std::fflush(stdout);
  if (!all.Load(model.c_str(), nullptr)) return 1;
  all.SetWholeVolumeBox(target.dim2(), target.dim1(), target.dim0());
  if (!all.SetVolume(target, nullptr, nullptr)) return 1;

  // Posterior evaluations over the inner box (where the tree is evaluated).
  const SubVolume inner = all.Model()->InnerBox();
  VectorQo<double> out;
  long evaluations = 0;
  const double evalStart = CpuSeconds();
  for (int z = inner.z0; z <= inner.z1; ++z)
    for (int y = inner.y0; y <= inner.y1; ++y)
      for (int x = inner.x0; x <= inner.x1; ++x) {
        all.Posterior(out, z, y, x);
        ++evaluations;
      }
  const double evalSeconds = CpuSeconds() - evalStart;

  std::vector<Volume> probs(classes);
  const auto wallStart = std::chrono::steady_clock::now();
  const double passStart = CpuSeconds();
  all.ProbabilityMaps(probs.data());
  const double passSeconds = CpuSeconds() - passStart;
  const double passWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

  std::printf("tree: %d levels, %d nodes, %d leaves, %zu feature uses; trained in %.2f s CPU, %.2f s wall\n", levels,
              nodes, leaves, used.size(), trainSeconds, trainWall);
  std::printf("segmented subject %s: %d x %d x %d voxels, inner box %ld voxels\n", segPrefix.c_str(), target.dim2(),
              target.dim1(), target.dim0(), evaluations);
  std::printf("posterior evaluations: %.0f per second (%.3f s CPU for %ld)\n", evaluations / evalSeconds,
              evalSeconds, evaluations);
  std::printf("one pass over the volume: %.3f s CPU, %.3f s wall, %d workers\n", passSeconds, passWall,
              WorkerCount());
  return 0;
}
