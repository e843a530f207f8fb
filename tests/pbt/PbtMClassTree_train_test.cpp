#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <unistd.h>

#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/TextFunctions.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMClassTree.h"
#include "pbt/PbtMEcoc.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "platform/SystemInfo.h"

namespace {

// "time=<number>" becomes "time=#", whatever unit follows.
std::string MaskTreeTimes(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, 5, "time=") == 0) {
      out += "time=#";
      i += 5;
      while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.' || text[i] == '-')) ++i;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// K blobs of n samples in two features on a grid 10 apart, jittered by up to +-1.5.
MVectorSampleSet::Rows Blobs(int k, int n) {
  MVectorSampleSet::Rows rows(static_cast<size_t>(k));
  unsigned state = 12345u;
  auto jitter = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<float>((state >> 8) % 3001u) / 1000.0f - 1.5f;
  };
  for (int c = 0; c < k; ++c) {
    const float x = static_cast<float>(10 * (c % 3)), y = static_cast<float>(10 * (c / 3));
    for (int i = 0; i < n; ++i) rows[static_cast<size_t>(c)].push_back({x + jitter(), y + jitter()});
  }
  return rows;
}

// Tree and booster parameters for small sets; the log goes to <folder>\logfile.txt.
struct TrainSetup {
  explicit TrainSetup(const std::string& folder, int deepest = 4) {
    booster.numWeak = 3;
    booster.codingMode = 1;
    booster.verbose = 0;
    tree.outputFolder = folder;
    tree.numToTrain = 40;
    tree.deepestDepth = deepest;
    tree.learnerParams = &booster;
  }
  PbtAdaBoostParams booster;
  PbtClassTreeParams tree;
};

std::string Backslashed(std::string path) { return ToBackslashes(path); }

std::string Log(const std::string& folder) { return ReadFileText(folder + "/logfile.txt"); }

std::vector<double> TreePosterior(const PbtMClassTree& tree, const std::vector<float>& row) {
  TableSample sample(static_cast<int>(row.size()));
  sample.setPosition(&row);
  VectorQo<double> out;
  tree.treePosterior(out, &sample);
  std::vector<double> v;
  for (int i = 0; i < out.rows * out.cols; ++i) v.push_back(out[i]);
  return v;
}

// A set that draws its samples from a fixed pool on every init, as the volume set
// does: all of them at first, later only those that reach the node being trained
// (the tree's path test through the parameters' classifier). The set and its clones
// record every init and bootstrap call with the node folder they were given.
class RedrawingSet : public MVectorSampleSet {
 public:
  struct Init {
    std::string folder;
    bool withTree;
    std::vector<int> counts;
  };
  struct Record {
    Rows pool;
    std::vector<Init> inits;
    std::vector<std::string> bootstraps;
    // With a tree folder: at every init and bootstrap, whether "clf" and "clf.partial"
    // exist there.
    std::string treeFolder;
    std::vector<std::pair<bool, bool>> treeFiles;
    void noteTreeFiles() {
      if (!treeFolder.empty())
        treeFiles.push_back({PathExists(treeFolder + "/clf"), PathExists(treeFolder + "/clf.partial")});
    }
  };

  explicit RedrawingSet(Rows pool) : record(std::make_shared<Record>()) {
    record->pool = std::move(pool);
    setSample(new TableSample(static_cast<int>(record->pool[0][0].size())));
    setOwnsSample(true);
  }
  RedrawingSet(const RedrawingSet& other) : MVectorSampleSet(), record(other.record) { *this = other; }
  RedrawingSet& operator=(const RedrawingSet& other) {
    MVectorSampleSet::operator=(other);
    record = other.record;
    return *this;
  }
  PbtMSampleSet* clone() const override { return new RedrawingSet(*this); }

  void init(PbtSampleSetParams& params) override {
    PbtMSampleSet::init(params);
    const Rows& pool = record->pool;
    TableSample probe(static_cast<int>(pool[0][0].size()));
    rows.assign(pool.size(), {});
    for (size_t c = 0; c < pool.size(); ++c) {
      for (const auto& row : pool[c]) {
        probe.setPosition(&row);
        if (params.classifier == nullptr || params.classifier->probability(&probe) > 0.0f) rows[c].push_back(row);
      }
    }
    const int k = static_cast<int>(pool.size());
    VectorQo<int> counts(k);
    VectorQo<float> weight(k, 1.0f / static_cast<float>(k));
    for (int c = 0; c < k; ++c) counts[c] = static_cast<int>(rows[static_cast<size_t>(c)].size());
    setClassCounts(counts, weight);
    buildEntries();
    maskRareClasses(10);
    record->inits.push_back({params.outFolder != nullptr ? params.outFolder : "(null)", params.classifier != nullptr,
                             std::vector<int>(counts.data, counts.data + k)});
    record->noteTreeFiles();
  }
  void saveBootstrap(PbtSampleSetParams& params) override {
    record->bootstraps.push_back(params.outFolder != nullptr ? params.outFolder : "(null)");
    record->noteTreeFiles();
  }

  std::shared_ptr<Record> record;
};

// A node classifier whose branch probabilities are the sample's two features.
class PosteriorOfFeatures : public ValueClassifier {
 public:
  void posterior(PbtSample* sample, VectorQo<double>& out) override {
    out.SetSize(2);
    for (int i = 0; i < 2; ++i) out[i] = sample->getFeatureValue(sample->featurePool[static_cast<size_t>(i)]);
  }
};

}  // namespace

TEST(PbtMClassTreeTrainTest, SixBlobsTrainSaveAndReloadReproducibly) {
  ScopedMinClassSamples minimum(10);
  TempFolder tmp;
  const MVectorSampleSet::Rows blobs = Blobs(6, 60);
  std::vector<std::string> files;
  std::vector<long long> draws;
  for (int run = 0; run < 2; ++run) {
    ResetUniformRandomForTesting();
    const std::string folder = tmp.file("run" + std::to_string(run));
    MVectorSampleSet set(blobs);
    VectorSampleSet twoClass;
    TrainSetup setup(folder, 2);  // boosters at the root, output codes below
    PbtMClassTree tree;
    testing::internal::CaptureStdout();
    EXPECT_EQ(tree.trainTree(&set, &twoClass, &setup.tree), 0.0f);
    testing::internal::GetCapturedStdout();
    draws.push_back(UniformRandomDrawCountForTesting());

    const std::string clf = folder + "/clf";
    const std::vector<uint8_t> bytes = ReadFileBytes(clf);
    files.push_back(std::string(bytes.begin(), bytes.end()));
    PbtMClassTree loaded;
    std::string error;
    ASSERT_TRUE(loaded.load(clf.c_str(), &error)) << error;
    EXPECT_FALSE(PathExists(folder + "/top"));  // the node folders are removed again

    // The loaded tree answers exactly as the tree in memory, and it separates the blobs.
    int correct = 0, total = 0;
    for (uint8_t soft : {0, 1}) {
      tree.setSoftDescent(soft);
      loaded.setSoftDescent(soft);
      for (int c = 0; c < 6; ++c) {
        for (const auto& row : blobs[static_cast<size_t>(c)]) {
          const std::vector<double> want = TreePosterior(tree, row);
          const std::vector<double> got = TreePosterior(loaded, row);
          ASSERT_EQ(got.size(), 6u);
          for (size_t i = 0; i < 6; ++i) ASSERT_NEAR(got[i], want[i], 1e-6);
          int best = 0;
          for (int i = 1; i < 6; ++i) {
            if (got[static_cast<size_t>(i)] > got[static_cast<size_t>(best)]) best = i;
          }
          correct += best == c ? 1 : 0;
          ++total;
        }
      }
    }
    EXPECT_GE(correct, total * 95 / 100);

    // Boosters and output codes evaluate from several threads at once as they do alone.
    std::vector<std::vector<double>> serial;
    for (const auto& cls : blobs) {
      for (const auto& row : cls) serial.push_back(TreePosterior(loaded, row));
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> workers;
    for (size_t t = 0; t < mismatches.size(); ++t) {
      workers.emplace_back([&, t] {
        size_t k = 0;
        for (const auto& cls : blobs) {
          for (const auto& row : cls) mismatches[t] += TreePosterior(loaded, row) != serial[k++] ? 1 : 0;
        }
      });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
    int levels = 0, nodes = 0, leaves = 0;
    tree.levelStatistics(&levels, &nodes, &leaves);
    EXPECT_GE(leaves, 6);
    // Both kinds of node classifier took part: boosters above, output codes at the last level.
    int codes[4] = {0, 0, 0, 0};
    std::vector<const PbtMClassTree*> stack = {&tree};
    while (!stack.empty()) {
      const PbtMClassTree* node = stack.back();
      stack.pop_back();
      if (node->nodeClassifier != nullptr) ++codes[node->nodeClassifierCode & 3];
      for (const PbtMClassTree* child : node->children) {
        if (child != nullptr) stack.push_back(child);
      }
    }
    EXPECT_GT(codes[0], 0);
    EXPECT_GT(codes[3], 0);
  }
  EXPECT_EQ(files[0], files[1]);
  EXPECT_EQ(draws[0], draws[1]);
  std::printf("six blobs: %lld draws, %zu bytes\n", draws[0], files[0].size());
}

TEST(PbtMClassTreeTrainTest, NodeThatStopsAtOnceLogsItsSkeleton) {
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  MVectorSampleSet set(MVectorSampleSet::Rows{{{1}, {2}, {3}}, {{4}, {5}, {6}}});
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 0);
  PbtMClassTree tree;
  testing::internal::CaptureStdout();
  EXPECT_EQ(tree.trainTree(&set, &twoClass, &setup.tree), 0.0f);
  const std::string out = testing::internal::GetCapturedStdout();
  std::string log = MaskTreeTimes(Log(folder));
  for (size_t at = log.find("-nan"); at != std::string::npos; at = log.find("-nan")) log.erase(at, 1);
  const std::string sep = std::string(112, '-') + "\n";
  EXPECT_EQ(log,
            "SampleSet Parameters\n numFeatures=1\n\n"
            "BoostedTreeParams:\n numToTrain=40\n deepestDepth=0\n cascaseLevels=0\n samplesToSave=0\n"
            " epsilon=0.100000\n relErrorToStop=0.010000\n fracToStop=0.005000\n TwoClassClassifier: AdaBoost\n"
            "AdaBoostParams:\n numWeak=3\n coding mode=1\n\n" +
                sep +
                "TOP   Depth=0;\n"
                "Stopping: fraction weight small (time=#).\n"
                " class 0: num of samples =      3 prior:0.50000 frac:1.00000\n"
                " class 1: num of samples =      3 prior:0.50000 frac:1.00000\n" +
                sep +
                "Done Training.  Training error (deterministic)=0.00000  (time=# minutes).\n"
                "Number of levels = 1\n"
                "Number of leaf nodes = 1\n"
                "Number of nodes = 1\n"
                " level 0 nodes =   1\n"
                "PBT training error (prob)=0.000000  fp=0.000000  fn=nan\n"
                "PBT training error (deter)=0.000000  fp=0.000000  fn=nan\n" +
                sep);
  EXPECT_NE(MaskTreeTimes(out).find("Done Training.  Training error (deterministic)=0.00000  (time=# minutes).\n"),
            std::string::npos);
  EXPECT_EQ(setup.booster.logName, Backslashed(folder) + "\\logfile.txt");
  EXPECT_EQ(setup.tree.modelPath, Backslashed(folder) + "\\clf");
  EXPECT_TRUE(PathExists(folder + "/clf"));
}

TEST(PbtMClassTreeTrainTest, TwoClassNodesNameTheirChildrenAndUseTheBooster) {
  ScopedMinClassSamples minimum(10);
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  MVectorSampleSet set(Blobs(2, 30));
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 2);
  setup.tree.twoClassClassifier = 1;  // only the root's code before training
  PbtMClassTree tree;
  testing::internal::CaptureStdout();
  tree.trainTree(&set, &twoClass, &setup.tree);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(tree.nodeClassifierCode, 0);
  EXPECT_NE(dynamic_cast<PbtAdaBoost*>(tree.nodeClassifier), nullptr);
  ASSERT_EQ(tree.children.size(), 2u);
  const std::string log = Log(folder);
  for (const char* line : {"Pseudo positive :(1  )\n", "Pseudo negative :(0 )\n", "sub-tree 0:\n",
                           "   class 0: num of samples =     30\n", "TOP\\0_1   Depth=1;\n", "TOP\\1_1   Depth=1;\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  // Children of one class stop; their class lines follow the stop line.
  EXPECT_EQ(tree.children[1]->nodeClassifier, nullptr);
}

TEST(PbtMClassTreeTrainTest, LastLevelWithMoreThanTwoClassesUsesAnOutputCode) {
  ScopedMinClassSamples minimum(10);
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  const MVectorSampleSet::Rows blobs = Blobs(3, 30);
  MVectorSampleSet set(blobs);
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 1);
  PbtMClassTree tree;
  testing::internal::CaptureStdout();
  tree.trainTree(&set, &twoClass, &setup.tree);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(tree.nodeClassifierCode, 3);
  PbtMEcoc* ecoc = dynamic_cast<PbtMEcoc*>(tree.nodeClassifier);
  ASSERT_NE(ecoc, nullptr);
  // One branch per codeword; every child stops at the depth limit.
  EXPECT_EQ(tree.children.size(), ecoc->codewords.size());
  EXPECT_EQ(Log(folder).find("Pseudo positive"), std::string::npos);

  // The versioned output-code record carries the class index; a forged one does not load.
  struct Version {
    explicit Version(int v) : saved(gClassifierVersion) { gClassifierVersion = v; }
    ~Version() { gClassifierVersion = saved; }
    int saved;
  } version(1);
  const std::string file = tmp.file("clf1");
  ASSERT_TRUE(tree.save(file.c_str()));
  PbtMClassTree loaded;
  std::string error;
  ASSERT_TRUE(loaded.load(file.c_str(), &error)) << error;
  tree.setSoftDescent(1);
  loaded.setSoftDescent(1);
  for (const auto& cls : blobs) {
    for (const auto& row : cls) EXPECT_EQ(TreePosterior(loaded, row), TreePosterior(tree, row));
  }
  const std::string ecocBytes = RecordBytes(*ecoc);
  std::vector<uint8_t> bytes = ReadFileBytes(file);
  const size_t lastIndex = 5 + ecocBytes.size() - 4;  // after the code and the has-classifier byte
  bytes[lastIndex] = 99;
  WriteFileBytes(file, bytes);
  PbtMClassTree forged;
  EXPECT_FALSE(forged.load(file.c_str(), &error));
  EXPECT_EQ(error, "Truncated or corrupt classifier file: " + file);
  EXPECT_EQ(forged.nodeClassifier, nullptr);
}

TEST(PbtMClassTreeTrainTest, StopTestTable) {
  ScopedMinClassSamples minimum(10);
  struct Case {
    const char* name;
    int depth, deepest;
    std::vector<int> counts;
    std::vector<float> weights;
    std::vector<double> masses;
    std::vector<double> reference;  // per-class selectable voxels; empty: no sample-set parameters
    bool requireTwo;
    bool stop;
  } cases[] = {
      {"at the depth limit", 2, 2, {50, 50}, {0.5f, 0.5f}, {1, 1}, {0.5, 0.5}, false, true},
      {"one active class, two required", 0, 5, {50, 5}, {0.5f, 0.5f}, {1, 1}, {0.5, 0.5}, true, true},
      {"one active class, fractions decide", 0, 5, {50, 5}, {0.5f, 0.5f}, {1, 1}, {0.5, 0.5}, false, false},
      {"rare in the set and by reference", 0, 5, {50, 50}, {0.9f, 0.1f}, {1, 0.001}, {0.5, 0.5}, false, true},
      {"rare in the set, common by reference", 0, 5, {50, 50}, {0.9f, 0.1f}, {1, 0.001}, {0.1, 0.9}, false, false},
      {"the dominant class is not tested", 0, 5, {50, 50}, {0.9f, 0.1f}, {0.001, 0.001}, {0.5, 0.5}, false, true},
      {"no sample-set parameters", 0, 5, {50, 50}, {0.9f, 0.1f}, {1, 0.001}, {}, false, true},
      {"reference shorter than the classes", 0, 5, {50, 50, 50}, {0.8f, 0.1f, 0.1f}, {1, 0.001, 0.001}, {0.5}, false, true},
      {"NaN ratio keeps nothing splitting", 0, 5, {50, 50}, {0.9f, 0.1f}, {1, 0.001}, {0.0, 0.0}, false, true},
  };
  for (const Case& c : cases) {
    MVectorSampleSet::Rows rows;
    for (int n : c.counts) rows.push_back(std::vector<std::vector<float>>(static_cast<size_t>(n), {1.0f}));
    MVectorSampleSet set(rows, c.weights);
    for (size_t i = 0; i < c.masses.size(); ++i) set.setClassMass(static_cast<int>(i), c.masses[i]);
    PbtClassTreeParams params;
    PbtSampleSetParams sampleParams;
    params.depth = c.depth;
    params.deepestDepth = c.deepest;
    if (!c.reference.empty()) {
      const int k = static_cast<int>(c.reference.size());
      sampleParams.meanClassVoxels.SetSize(k);
      sampleParams.classFrequencies.SetSize(k);
      for (int i = 0; i < k; ++i) {
        sampleParams.meanClassVoxels[i] = c.reference[static_cast<size_t>(i)];
        // The voxel frequencies are a decoy: reversed, they would flip the common/rare cases.
        sampleParams.classFrequencies[i] = static_cast<float>(c.reference[static_cast<size_t>(k - 1 - i)]);
      }
      params.sampleSetParams = &sampleParams;
    }
    PbtMClassTree tree;
    EXPECT_EQ(tree.stopTest(&set, &params, c.requireTwo), c.stop) << c.name;
  }
}

TEST(PbtMClassTreeTrainTest, ResampleSizeTable) {
  struct Case {
    const char* name;
    int n, classes, perClass, minimum;
    int kept;  // samples kept per class
  } cases[] = {
      {"two classes: 5n/2 capped at n", 500, 2, 600, 50, 500},
      {"twenty classes: raised to 200", 500, 20, 250, 50, 200},
      {"n below 200", 150, 2, 300, 50, 150},
      {"the minimum is lowered while resampling", 500, 20, 250, 250, 200},
  };
  for (const Case& c : cases) {
    ScopedMinClassSamples minimum(c.minimum);
    MVectorSampleSet::Rows rows(static_cast<size_t>(c.classes),
                                std::vector<std::vector<float>>(static_cast<size_t>(c.perClass), {1.0f}));
    rows.push_back(std::vector<std::vector<float>>(5, {1.0f}));  // a class without a slot
    MVectorSampleSet set(rows);
    PbtMClassTree tree;
    std::unique_ptr<PbtMSampleSet> copy(tree.resampleSize(&set, c.n));
    EXPECT_EQ(gMinClassSamples, c.minimum) << c.name;
    ASSERT_EQ(copy->numLabels(), c.classes + 1) << c.name;
    for (int k = 0; k < c.classes; ++k) EXPECT_EQ(copy->classCount[k], c.kept) << c.name;
    EXPECT_EQ(copy->classCount[c.classes], 1) << c.name;
    EXPECT_EQ(copy->numClasses(), c.classes) << c.name;
    EXPECT_EQ(set.classCount[0], c.perClass) << c.name;  // the set itself is untouched
  }
}

TEST(PbtMClassTreeTrainTest, ImpurityOfANodeThatStopsForWantOfClasses) {
  ScopedMinClassSamples minimum(10);
  struct Case {
    std::vector<float> weights;
    float impurity;
  } cases[] = {{{0.5f, 0.5f}, 1.0f}, {{0.8f, 0.2f}, 0.64f}, {{1.0f, 0.0f}, 0.0f}};
  for (const Case& c : cases) {
    // The second class has too few samples for a slot but keeps its weight.
    MVectorSampleSet set(MVectorSampleSet::Rows{std::vector<std::vector<float>>(20, {1.0f}),
                                                std::vector<std::vector<float>>(5, {2.0f})},
                         c.weights);
    VectorSampleSet twoClass;
    TempFolder tmp;
    PbtClassTreeParams params;
    params.deepestDepth = 3;
    params.logName = tmp.file("log.txt");
    params.topPath = tmp.file("top");
    params.samplesToSave = 3;  // the node dumps its samples into one folder per class
    PbtMClassTree tree;
    EXPECT_FLOAT_EQ(tree.trainNode(&set, &twoClass, &params), c.impurity);
    EXPECT_EQ(tree.nodeClassifier, nullptr);
    EXPECT_TRUE(PathExists(tmp.file("top/0")));
    EXPECT_TRUE(PathExists(tmp.file("top/1")));
  }
}

TEST(PbtMClassTreeTrainTest, NodeStatisticsCompareClassAndBranchEntropy) {
  ScopedMinClassSamples minimum(1);
  struct Case {
    const char* name;
    MVectorSampleSet::Rows rows;  // features 0 and 1 are the branch probabilities
    double split, branch, ratio;
  } cases[] = {
      {"pure branches", {{{0.9f, 0.1f}, {0.8f, 0.2f}}, {{0.1f, 0.9f}, {0.3f, 0.7f}}}, 0.0, 1.0, 0.0},
      {"one branch takes all", {{{0.9f, 0.1f}, {0.8f, 0.2f}}, {{0.7f, 0.3f}, {0.6f, 0.4f}}}, -1.0, 0.0, 100.0},
      {"both branches mixed", {{{0.9f, 0.1f}, {0.2f, 0.8f}}, {{0.7f, 0.3f}, {0.4f, 0.6f}}}, -1.0, 1.0, -1.0},
  };
  for (const Case& c : cases) {
    MVectorSampleSet set(c.rows);
    PbtMClassTree tree;
    tree.nodeClassifier = new PosteriorOfFeatures();
    double split = -1, branch = -1;
    EXPECT_NEAR(tree.nodeStatistics(&set, &split, &branch), c.ratio, 1e-12) << c.name;
    EXPECT_NEAR(split, c.split, 1e-12) << c.name;
    EXPECT_NEAR(branch, c.branch, 1e-12) << c.name;
  }
}

namespace {

// Trains `tree` into `folder` on `set` (depth 4) with sample-set parameters, so that
// every node redraws its samples.
void TrainOnRedrawingSet(PbtMClassTree& tree, RedrawingSet& set, PbtSampleSetParams& sampleParams,
                         const std::string& folder) {
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 4);
  setup.tree.sampleSetParams = &sampleParams;
  testing::internal::CaptureStdout();
  EXPECT_EQ(tree.trainTree(&set, &twoClass, &setup.tree), 0.0f);
  testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(PbtMClassTreeTrainTest, NodesRedrawTheirSamplesAlongTheirPath) {
  ScopedMinClassSamples minimum(10);
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  const MVectorSampleSet::Rows pool = Blobs(5, 60);
  RedrawingSet set(pool);
  PbtSampleSetParams sampleParams;
  PbtMClassTree tree;
  TrainOnRedrawingSet(tree, set, sampleParams, folder);

  // The first draw is the root's, before the tree exists; later draws consult it.
  ASSERT_GE(set.record->inits.size(), 2u);
  EXPECT_EQ(set.record->inits[0].folder, Backslashed(folder) + "\\top");
  EXPECT_FALSE(set.record->inits[0].withTree);
  EXPECT_EQ(sampleParams.classifier, &tree);
  EXPECT_EQ(sampleParams.outFolder, nullptr);  // the caller's value, not a dead node name

  // Each later draw took exactly the pool samples that the finished tree routes to
  // that node (the node folder names its path: top\<b>_<n>\<b>_<n>...).
  size_t longestPath = 0;
  for (size_t k = 1; k < set.record->inits.size(); ++k) {
    const RedrawingSet::Init& init = set.record->inits[k];
    EXPECT_TRUE(init.withTree);
    std::vector<int> path;
    for (size_t at = init.folder.find("\\", folder.size() + 4); at != std::string::npos;
         at = init.folder.find("\\", at + 1)) {
      path.push_back(std::stoi(init.folder.substr(at + 1)));
    }
    ASSERT_FALSE(path.empty()) << init.folder;
    longestPath = std::max(longestPath, path.size());
    std::vector<int> counts(5, 0);
    for (size_t c = 0; c < 5; ++c) {
      for (const auto& row : pool[c]) {
        TableSample probe(2);
        probe.setPosition(&row);
        const PbtMClassTree* node = &tree;
        bool reaches = true;
        for (int b : path) {
          VectorQo<double> p;
          node->nodeClassifier->posterior(&probe, p);
          if (p.ArgMax() != b) {
            reaches = false;
            break;
          }
          node = node->children[static_cast<size_t>(b)];
        }
        counts[c] += reaches ? 1 : 0;
      }
    }
    EXPECT_EQ(init.counts, counts) << init.folder;
  }
  EXPECT_GE(longestPath, 2u);  // a path of two branches: the list's order matters
  // Nodes that keep their parent's samples carry its bootstrap data instead.
  EXPECT_FALSE(set.record->bootstraps.empty());
  // No node is left marked.
  std::vector<const PbtMClassTree*> stack = {&tree};
  while (!stack.empty()) {
    const PbtMClassTree* node = stack.back();
    stack.pop_back();
    EXPECT_EQ(node->pathMark, 0);
    for (const PbtMClassTree* child : node->children) {
      if (child != nullptr) stack.push_back(child);
    }
  }
  EXPECT_NE(Log(folder).find("Re-sampled  (time="), std::string::npos);
}

TEST(PbtMClassTreeTrainTest, EmptyOutputFolderIsRefused) {
  TempFolder tmp;
  const std::string here = CurrentFolder();
  ASSERT_EQ(chdir(NativePath(tmp.path()).c_str()), 0);
  // What a removal of "<empty>\top" or a write of "<empty>\clf" could hit nearby.
  MakeFolder("top");
  WriteFileText("clf", "keep");
  for (const char* name : {"", "   "}) {
    MVectorSampleSet set(Blobs(2, 20));
    VectorSampleSet twoClass;
    TrainSetup setup(name);
    PbtMClassTree tree;
    testing::internal::CaptureStderr();
    EXPECT_EQ(tree.trainTree(&set, &twoClass, &setup.tree), -1.0f);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "trainTree: empty output folder, nothing trained\n");
    EXPECT_EQ(tree.nodeClassifier, nullptr);
  }
  EXPECT_TRUE(PathExists("top"));
  EXPECT_EQ(ReadFileText("clf"), "keep");
  EXPECT_FALSE(PathExists("logfile.txt"));
  ASSERT_EQ(chdir(NativePath(here).c_str()), 0);
}

TEST(PbtMClassTreeTrainTest, UnwritableModelFileIsReported) {
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  MakeFolder(folder + "/clf");  // a folder where the model file should go
  MVectorSampleSet set(MVectorSampleSet::Rows{{{1}, {2}}, {{3}, {4}}});
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 0);
  PbtMClassTree tree;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(tree.trainTree(&set, &twoClass, &setup.tree), -1.0f);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to write classifier file: " + Backslashed(folder) + "\\clf\n");
  testing::internal::GetCapturedStdout();
}

TEST(PbtMClassTreeTrainDeathTest, NoDataWithoutSampleSetParametersEndsTheRun) {
  TempFolder tmp;
  MVectorSampleSet set(MVectorSampleSet::Rows{{}, {{1}}});
  VectorSampleSet twoClass;
  TrainSetup setup(tmp.file("out"));
  PbtMClassTree tree;
  EXPECT_EXIT(tree.trainTree(&set, &twoClass, &setup.tree), testing::ExitedWithCode(1), "ERROR:  No data, stopping.");
}

namespace {

// Trains the six-blob tree with the given learner set-up; the "clf" bytes and the
// generator's draw count afterwards. Every draw is the calling thread's.
std::pair<std::string, long long> TrainBlobs(const std::string& folder, const PbtAdaBoostParams& learner,
                                             int twoClassClassifier, int workers,
                                             const MVectorSampleSet::Rows& rows = Blobs(6, 60)) {
  ScopedWorkerCount count(workers);
  ScopedMinClassSamples minimum(10);
  ResetUniformRandomForTesting();
  const long long threadBefore = UniformRandomThreadDrawCountForTesting();
  MVectorSampleSet set(rows);
  VectorSampleSet twoClass;
  TrainSetup setup(folder, 3);
  setup.booster = learner;
  setup.tree.twoClassClassifier = twoClassClassifier;
  PbtMClassTree tree;
  testing::internal::CaptureStdout();
  tree.trainTree(&set, &twoClass, &setup.tree);
  testing::internal::GetCapturedStdout();
  const long long draws = UniformRandomDrawCountForTesting();
  EXPECT_EQ(UniformRandomThreadDrawCountForTesting() - threadBefore, draws)
      << "another thread drew, " << workers << " workers";
  const std::vector<uint8_t> bytes = ReadFileBytes(folder + "/clf");
  return {std::string(bytes.begin(), bytes.end()), draws};
}

// Seven classes of 30 samples in 40 features of whole numbers 0..6 (the low ones
// shared by several classes): the split search of every two-class node meets classes
// with exactly half their values below a step, and so draws its coins.
MVectorSampleSet::Rows ManyFeatureClasses() {
  MVectorSampleSet::Rows rows(7);
  unsigned state = 777u;
  const auto noise = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) % 3u);
  };
  for (int c = 0; c < 7; ++c) {
    for (int i = 0; i < 30; ++i) {
      std::vector<float> row;
      for (int f = 0; f < 40; ++f) row.push_back(static_cast<float>(((c * (f % 5 + 1)) / 3 + noise()) % 7));
      rows[static_cast<size_t>(c)].push_back(row);
    }
  }
  return rows;
}

}  // namespace

// The search over features runs on every worker; the trained tree and the random
// sequence are those of one worker, for each kind of weak learner.
TEST(PbtMClassTreeTrainTest, SeveralWorkersTrainTheBytesAndDrawsOfOne) {
  struct Case {
    const char* name;
    int twoClassClassifier, orLevels, andLevels, treeDepth;
  } cases[] = {
      {"AdaBoost stumps", 0, 0, 0, 0},
      {"AdaBoost with OR and AND cascades", 0, 2, 2, 0},
      {"AdaBoost of depth-2 trees", 0, 0, 0, 2},
      {"RealBoost", 1, 0, 0, 0},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    PbtAdaBoostParams learner;
    learner.numWeak = 3;
    learner.codingMode = 1;
    learner.orLevels = c.orLevels;
    learner.andLevels = c.andLevels;
    learner.treeDepth = c.treeDepth;
    const auto one = TrainBlobs(tmp.file(std::string(c.name) + "1"), learner, c.twoClassClassifier, 1);
    ASSERT_FALSE(one.first.empty()) << c.name;
    for (int workers : {3, 8}) {
      const auto several = TrainBlobs(tmp.file(std::string(c.name) + std::to_string(workers)), learner,
                                      c.twoClassClassifier, workers);
      EXPECT_EQ(several.first, one.first) << c.name << ", " << workers << " workers";
      EXPECT_EQ(several.second, one.second) << c.name << ", " << workers << " workers";
    }
  }
}

// The multi-class split search (histograms and scores of every feature on the workers,
// the coins' draws taken afterwards) trains the bytes of one worker and leaves the
// generator where one worker leaves it.
TEST(PbtMClassTreeTrainTest, SplitSearchOfSeveralWorkersTrainsTheBytesAndDrawsOfOne) {
  TempFolder tmp;
  PbtAdaBoostParams learner;
  learner.numWeak = 2;
  learner.codingMode = 1;
  learner.treeDepth = 2;
  const MVectorSampleSet::Rows rows = ManyFeatureClasses();
  const auto one = TrainBlobs(tmp.file("w1"), learner, 0, 1, rows);
  ASSERT_FALSE(one.first.empty());
  for (int workers : {3, 8}) {
    const auto several = TrainBlobs(tmp.file("w" + std::to_string(workers)), learner, 0, workers, rows);
    EXPECT_EQ(several.first, one.first) << workers << " workers";
    EXPECT_EQ(several.second, one.second) << workers << " workers";
  }
}

TEST(PbtMClassTreeTrainTest, ATreeIsSavedUnderItsNameOnlyWhenComplete) {
  // The saves at each node go to the side file; "clf" appears only at the end, so a
  // training stopped half-way leaves no "clf" that would load as a tree.
  ScopedMinClassSamples minimum(10);
  TempFolder tmp;
  const std::string folder = tmp.file("out");
  RedrawingSet set(Blobs(5, 60));
  set.record->treeFolder = folder;
  PbtSampleSetParams sampleParams;
  PbtMClassTree tree;
  TrainOnRedrawingSet(tree, set, sampleParams, folder);
  ASSERT_GE(set.record->treeFiles.size(), 3u);
  for (size_t k = 1; k < set.record->treeFiles.size(); ++k) {
    EXPECT_FALSE(set.record->treeFiles[k].first) << k;
    EXPECT_TRUE(set.record->treeFiles[k].second) << k;
  }
  EXPECT_TRUE(PathExists(folder + "/clf"));
  EXPECT_FALSE(PathExists(folder + "/clf.partial"));
  PbtMClassTree loaded;
  EXPECT_TRUE(loaded.load((folder + "/clf").c_str()));
}
