#include "features/Brain3DSampleSet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "features/Edg3DSampleSet.h"
#include "features/FeatureFlags.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMClassTree.h"
#include "features/Object3DSample.h"
#include "volume/AnalyzeVolume.h"
#include "FeatureTestSupport.h"

namespace {

using Bytes = HeapMatrix3D<unsigned char>;

Bytes Cube(int d0, int d1, int d2, unsigned char fill) {
  Bytes v;
  v.SetSize(d0, d1, d2);
  v.Fill(fill);
  return v;
}

std::vector<int> ValuesOf(const Bytes& v) {
  std::vector<int> out;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) out.push_back(v[z][y][x]);
  return out;
}

bool SameRecord(const VoxelSampleRecord& a, const VoxelSampleRecord& b) {
  return a.caseNumber == b.caseNumber && a.z == b.z && a.y == b.y && a.x == b.x;
}

// A training data set of `labels.size()` cases: "I%05i.3dm" (intensity 100), its label
// volume and the atlas pair the voxel sample loads with a case.
void WriteCases(const std::string& folder, const std::vector<Bytes>& labels) {
  for (size_t i = 0; i < labels.size(); ++i) {
    const Bytes& l = labels[i];
    Bytes volume = Cube(l.dim0(), l.dim1(), l.dim2(), 100);
    char name[64];
    std::snprintf(name, sizeof name, "/I%05i", static_cast<int>(i));
    ASSERT_TRUE(volume.Save(folder + name + ".3dm"));
    ASSERT_TRUE(l.Save(folder + name + "_label.3dm"));
    ASSERT_EQ(WriteAnalyzeVolume(folder + name + "_atlas.img", l), 1);
  }
}

// Flags as the training sets them, restored afterwards.
class FlagScope {
 public:
  FlagScope() : version(gFeatureVersion), context(gContextAvailable), minClass(gMinClassSamples) {
    gFeatureVersion = 1;
    gContextAvailable = 0;
  }
  ~FlagScope() {
    gFeatureVersion = version;
    gContextAvailable = context;
    gMinClassSamples = minClass;
  }
  int version, context, minClass;
};

struct Params {
  explicit Params(const std::string& folder, int K, int cases) : data(folder), out(folder + "/out") {
    p.numClasses = K;
    p.dataFolder = data.c_str();
    p.outFolder = out.c_str();
    p.numTrain = cases;
    p.numCases = cases;
    p.radius = 1;
    p.numTrainingSamples = 100;
    p.stopFactor = 500;
  }
  std::string data, out;
  EdgSampleSetParams p;
};

}  // namespace

TEST(Brain3DSampleSetTest, ClassVolumesKeepTheBorderOutAndCountInteriorLabels) {
  // 4 x 4 x 4 labels: value (z + y + x) % 4, border 1 leaves the 2 x 2 x 2 interior.
  Bytes labels;
  labels.SetSize(4, 4, 4);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) labels[z][y][x] = static_cast<unsigned char>((z + y + x) % 4);

  Bytes classes;
  std::vector<int64_t> counts(3, 0);
  Brain3DSampleSet::BuildLabelVolume(classes, 3, labels, 1, counts);
  // Interior (z, y, x) in {1, 2}^3: sums 3 (x1), 4 (x3), 5 (x3), 6 (x1) -> labels 3, 0, 1, 2.
  EXPECT_EQ(counts, (std::vector<int64_t>{3, 3, 1}));
  EXPECT_EQ(classes[0][0][0], 4);  // border: K + 1
  EXPECT_EQ(classes[1][1][1], 4);  // label 3 >= K
  EXPECT_EQ(classes[1][1][2], 0);
  EXPECT_EQ(classes[1][2][2], 1);
  EXPECT_EQ(classes[2][2][2], 2);

  // The sampling's class volume: -1 outside the interior and for labels >= K; with a
  // mask only the masked voxels are selected, but every interior voxel is counted.
  Bytes mask = Cube(4, 4, 4, 0);
  mask[1][1][2] = 1;  // label 0
  mask[2][2][2] = 1;  // label 2
  std::vector<int64_t> totals(3, 0), selected(3, 0);
  HeapMatrix3D<short> cls;
  Brain3DSampleSet::buildClassVolume(labels, &mask, 1, totals, selected, cls);
  EXPECT_EQ(totals, (std::vector<int64_t>{3, 3, 1}));
  EXPECT_EQ(selected, (std::vector<int64_t>{1, 0, 1}));
  EXPECT_EQ(cls[1][1][2], 0);
  EXPECT_EQ(cls[2][2][2], 2);
  EXPECT_EQ(cls[1][1][1], -1);
  EXPECT_EQ(cls[0][1][2], -1);

  std::vector<int64_t> totals2(3, 0), selected2(3, 0);
  Brain3DSampleSet::buildClassVolume(labels, nullptr, 1, totals2, selected2, cls);
  EXPECT_EQ(totals2, selected2);
  EXPECT_EQ(selected2, (std::vector<int64_t>{3, 3, 1}));
  EXPECT_EQ(cls[1][1][1], -1);  // label 3
  EXPECT_EQ(cls[2][2][2], 2);
}

TEST(Brain3DSampleSetTest, ReservoirKeepsEveryVoxelUpToCapacityThenReplacesWithTheRealGenerator) {
  ResetUniformRandomForTesting();
  Brain3DSampleSet set;  // two draws
  set.samples.assign(1, {});
  set.setupDraws(3);  // two draws
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);

  // Fewer than the capacity: all kept in visiting order, no draw.
  for (int i = 0; i < 3; ++i) set.reservoirAdd(0, 3, i, Record(0, i, 0, 0));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);
  ASSERT_EQ(set.samples[0].size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SameRecord(set.samples[0][static_cast<size_t>(i)], Record(0, i, 0, 0)));

  // The fourth voxel (seen = n) always replaces: accept draw, then the position draw.
  set.reservoirAdd(0, 3, 3, Record(0, 9, 9, 9));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);
  int replaced = 0;
  for (const VoxelSampleRecord& r : set.samples[0]) replaced += SameRecord(r, Record(0, 9, 9, 9)) ? 1 : 0;
  EXPECT_EQ(replaced, 1);
  EXPECT_EQ(set.samples[0].size(), 3u);

  // Later voxels are taken with probability n / seen: over many offers about that share.
  int accepted = 0;
  const int offers = 4000;
  for (int i = 0; i < offers; ++i) {
    const long long before = UniformRandomDrawCountForTesting();
    set.reservoirAdd(0, 3, 30, Record(1, 1, 1, 1));
    accepted += UniformRandomDrawCountForTesting() - before >= 2 ? 1 : 0;
  }
  EXPECT_NEAR(static_cast<double>(accepted) / offers, 0.1, 0.02);
}

TEST(Brain3DSampleSetTest, SortSamplesFollowsTheMinHeapOrder) {
  Brain3DSampleSet set;
  // Entry e is sample e of class e % 2; its case number is keys[e].
  const std::vector<int> keys = {1, 0, 1, 0, 1, 0, 2, 0};
  set.samples.assign(2, {});
  for (size_t e = 0; e < keys.size(); ++e) {
    set.samples[e % 2].push_back(Record(keys[e], static_cast<int>(e), 0, 0));
    set.entryClass.push_back(static_cast<int>(e % 2));
    set.entryIndex.push_back(static_cast<int>(set.samples[e % 2].size() - 1));
  }
  set.sortSamples();
  // The heap's own order: equal keys leave in the order sifting gives them.
  const std::vector<int> expected = {1, 3, 7, 5, 4, 0, 2, 6};
  ASSERT_EQ(set.entryClass.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k) {
    const int e = expected[k];
    EXPECT_EQ(set.entryClass[k], e % 2) << k;
    EXPECT_EQ(set.entryIndex[k], e / 2) << k;
  }
}

TEST(Brain3DSampleSetTest, InitDrawsPerClassWeighsAndStopsOfferingFullClasses) {
  FlagScope flags;
  TempFolder tmp;
  // Two cases of 5^3 with border 1: 27 interior voxels; case 0 has 9 of class 1 (slice
  // 1) and 18 of class 0, case 1 the same. Class 2 never occurs; label 7 is ignored.
  std::vector<Bytes> labels;
  for (int c = 0; c < 2; ++c) {
    Bytes l = Cube(5, 5, 5, 7);
    for (int z = 1; z < 4; ++z)
      for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x) l[z][y][x] = z == 1 ? 1 : 0;
    labels.push_back(l);
  }
  WriteCases(tmp.path(), labels);
  Params P(tmp.path(), 3, 2);
  P.p.numTrainingSamples = 10;
  P.p.stopFactor = 1;  // a class is off once 10 voxels were selectable
  gMinClassSamples = 1;

  Brain3DSampleSet set;
  set.init(P.p);
  // Class 0 (18 in case 0) is off for case 1: all from case 0; class 1 (9) takes both.
  ASSERT_EQ(set.classCount[0], 10);
  ASSERT_EQ(set.classCount[1], 10);
  EXPECT_EQ(set.classCount[2], 0);
  for (const VoxelSampleRecord& r : set.samples[0]) EXPECT_EQ(r.caseNumber, 0);
  int fromCase1 = 0;
  for (const VoxelSampleRecord& r : set.samples[1]) fromCase1 += r.caseNumber == 1 ? 1 : 0;
  EXPECT_GE(fromCase1, 1);
  // Switching a class off stops the offers, not the counting: 36 and 18 selectable.
  // Masses: selectable / total; class 2 has no voxel and gets 0, not NaN.
  EXPECT_DOUBLE_EQ(set.classMass[0], 1.0);
  EXPECT_DOUBLE_EQ(set.classMass[1], 1.0);
  EXPECT_EQ(set.classMass[2], 0.0);
  // First init: class voxel weights W[k] / total[k], W the sample shares.
  ASSERT_EQ(P.p.classVoxelWeights.cols, 3);
  EXPECT_DOUBLE_EQ(P.p.classVoxelWeights[0], 0.5f / 36.0);
  EXPECT_DOUBLE_EQ(P.p.classVoxelWeights[1], 0.5f / 18.0);
  EXPECT_EQ(P.p.classVoxelWeights[2], 0.0);
  EXPECT_DOUBLE_EQ(P.p.meanClassVoxels[0], 18.0);
  EXPECT_DOUBLE_EQ(P.p.meanClassVoxels[1], 9.0);
  // Entries ordered by case.
  int last = -1;
  for (int e = 0; e < set.numEntries(); ++e) {
    const VoxelSampleRecord& r =
        set.samples[static_cast<size_t>(set.entryClass[static_cast<size_t>(e)])]
                   [static_cast<size_t>(set.entryIndex[static_cast<size_t>(e)])];
    EXPECT_GE(r.caseNumber, last);
    last = r.caseNumber;
  }
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() + "/out"));
}

TEST(Brain3DSampleSetTest, PrepareTrainingDataWritesClassVolumesAndFrequencies) {
  TempFolder tmp;
  Bytes l = Cube(4, 4, 4, 0);
  l[1][1][1] = 1;
  l[2][2][2] = 5;  // >= K: K + 1
  WriteCases(tmp.path(), {l});
  Params P(tmp.path(), 2, 1);
  const std::string labelsFolder = tmp.path() + "/1/labels";
  P.p.labelsFolder = labelsFolder.c_str();
  Brain3DSampleSet set;
  set.prepareTrainingData(P.p);
  EXPECT_EQ(P.p.loaded, 1);
  Bytes classes;
  ASSERT_TRUE(classes.Load(labelsFolder + "/I00000_label.3dm"));
  EXPECT_EQ(classes[0][0][0], 3);
  EXPECT_EQ(classes[1][1][1], 1);
  EXPECT_EQ(classes[1][1][2], 0);
  EXPECT_EQ(classes[2][2][2], 3);
  EXPECT_TRUE(std::filesystem::exists(labelsFolder + "/I00000.3dm"));
  // 8 interior voxels: 6 of class 0, 1 of class 1 (and one label 5).
  ASSERT_EQ(P.p.classFrequencies.cols, 2);
  EXPECT_FLOAT_EQ(P.p.classFrequencies[0], 6.0f / 7.0f);
  EXPECT_FLOAT_EQ(P.p.classFrequencies[1], 1.0f / 7.0f);

  // No interior voxel at all: frequencies 0, not NaN.
  P.p.radius = 2;
  set.prepareTrainingData(P.p);
  EXPECT_EQ(P.p.classFrequencies[0], 0.0f);
  EXPECT_EQ(P.p.classFrequencies[1], 0.0f);
}

TEST(Brain3DSampleSetTest, MapModeWritesSparseMapsWithKnownVoxelsOneHotIntoBothFolders) {
  FlagScope flags;
  TempFolder tmp;
  Bytes l = Cube(6, 6, 6, 0);
  WriteCases(tmp.path(), {l});
  // Known: voxel (1, 1, 3) agreed class 1, everything else K + 1.
  Bytes known = Cube(6, 6, 6, 3);
  known[1][1][3] = 1;
  ASSERT_TRUE(known.Save(tmp.path() + "/known.3dm"));

  // A leaf tree answers its stored posterior [0.25, 0.75] everywhere.
  PbtMClassTree tree;
  tree.classPosterior = VectorQo<double>(2, 0.0);
  tree.classPosterior[0] = 0.25;
  tree.classPosterior[1] = 0.75;
  Params P(tmp.path(), 2, 1);
  std::filesystem::create_directories(P.out);
  P.p.classifier = &tree;
  P.p.loaded = 0;
  Brain3DSampleSet set;
  set.applyClassifier(P.p, "_class.3dm");

  for (const std::string& folder : {P.out, P.data}) {
    Bytes m0, m1;
    ASSERT_TRUE(m0.Load(folder + "/I00000_0_prob.3dm")) << folder;
    ASSERT_TRUE(m1.Load(folder + "/I00000_1_prob.3dm")) << folder;
    for (int z = 0; z < 6; ++z)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
          // Visited: 1 and 3 along each axis (radius 1, step 2, below 6 - 1).
          const bool visited = z % 2 == 1 && y % 2 == 1 && x % 2 == 1 && z < 5 && y < 5 && x < 5;
          int want0 = 255, want1 = 0;
          if (visited && z == 1 && y == 1 && x == 3) {
            want0 = 0;
            want1 = 255;
          } else if (visited) {
            want0 = 63;   // trunc(0.25 * 255)
            want1 = 191;  // trunc(0.75 * 255)
          }
          ASSERT_EQ(m0[z][y][x], want0) << z << y << x;
          ASSERT_EQ(m1[z][y][x], want1) << z << y << x;
        }
  }
  // K = 2: the class-1 map once more as "I%05i_prob.3dm" in the output folder only.
  Bytes extra, m1;
  ASSERT_TRUE(extra.Load(P.out + "/I00000_prob.3dm"));
  ASSERT_TRUE(m1.Load(P.out + "/I00000_1_prob.3dm"));
  EXPECT_EQ(ValuesOf(extra), ValuesOf(m1));
  EXPECT_FALSE(std::filesystem::exists(P.data + "/I00000_prob.3dm"));
}

namespace {

// Reaches the node at voxels whose x is odd.
class OddColumnClassifier : public PbtMClassTree {
 public:
  float probability(PbtSample* sample) override {
    return static_cast<Object3DSample*>(sample)->x % 2 == 1 ? 0.5f : 0.0f;
  }
};

}  // namespace

TEST(Brain3DSampleSetTest, BootstrapMasksMarkVoxelsThatReachTheNodeInsideTheParentsMask) {
  FlagScope flags;
  TempFolder tmp;
  Bytes l = Cube(5, 5, 5, 0);
  l[2][2][1] = 4;  // label >= K: never evaluated
  WriteCases(tmp.path(), {l});
  // Parent folder "<data>" holds the parent's mask: slice 3 is left out.
  Bytes parent = Cube(5, 5, 5, 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) parent[3][y][x] = 0;
  ASSERT_TRUE(parent.Save(tmp.path() + "/I00000_bstp.3dm"));

  OddColumnClassifier node;
  Params P(tmp.path(), 2, 1);
  const std::string out = tmp.path() + "\\node";
  P.out = out;
  P.p.outFolder = P.out.c_str();
  std::filesystem::create_directories(tmp.path() + "/node");
  P.p.classifier = &node;
  P.p.loaded = 1;
  Brain3DSampleSet set;
  set.applyClassifier(P.p, "_bstp.3dm");
  Bytes mask;
  ASSERT_TRUE(mask.Load(tmp.path() + "/node/I00000_bstp.3dm"));
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 5; ++x) {
        const bool inside = z >= 1 && z < 4 && y >= 1 && y < 4 && x >= 1 && x < 4;
        const bool want = inside && z != 3 && x % 2 == 1 && !(z == 2 && y == 2 && x == 1);
        ASSERT_EQ(mask[z][y][x], want ? 1 : 0) << z << y << x;
      }

  // saveBootstrap carries the parent's masks into a child's folder.
  const std::string child = out + "\\child";
  P.p.outFolder = child.c_str();
  set.saveBootstrap(P.p);
  Bytes copied;
  ASSERT_TRUE(copied.Load(tmp.path() + "/node/child/I00000_bstp.3dm"));
  EXPECT_EQ(ValuesOf(copied), ValuesOf(mask));
}

TEST(Brain3DSampleSetTest, VolumesOfOtherExtentsThanTheCaseAreSkippedWithOneLine) {
  FlagScope flags;
  TempFolder tmp;
  WriteCases(tmp.path(), {Cube(5, 5, 5, 0)});
  ASSERT_TRUE(Cube(4, 5, 5, 3).Save(tmp.path() + "/known.3dm"));
  PbtMClassTree tree;
  tree.classPosterior = VectorQo<double>(2, 0.5);
  Params P(tmp.path(), 2, 1);
  std::filesystem::create_directories(P.out);
  P.p.classifier = &tree;
  P.p.loaded = 0;
  Brain3DSampleSet set;
  testing::internal::CaptureStdout();
  set.applyClassifier(P.p, "_class.3dm");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("known.3dm does not have the extents of case 0; case skipped"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(P.out + "/I00000_0_prob.3dm"));
}

TEST(Brain3DSampleSetTest, LiftFactorFavoursLowThresholdsOnly) {
  // The class at 0.2, the rest at 0.1: thresholds 0 and 0.05 score 0.5, 0.1 separates
  // them (recall and precision 1) and is the first best.
  RF a, b;
  a.Init(0.0, 1.0, 0.05);
  b.Init(0.0, 1.0, 0.05);
  a.Add(0.2, 10.0);
  b.Add(0.1, 10.0);
  EXPECT_DOUBLE_EQ(Brain3DSampleSet::liftFactor(a, b), 0.5 / (0.05 + 0.05) / 1.5);
  // Both at 0.9: no threshold below 0.5 wins.
  RF c, d;
  c.Init(0.0, 1.0, 0.05);
  d.Init(0.0, 1.0, 0.05);
  c.Add(0.9, 1.0);
  d.Add(0.0, 1.0);
  EXPECT_DOUBLE_EQ(Brain3DSampleSet::liftFactor(c, d), 1.0);
}

TEST(Brain3DSampleSetTest, RecordsFollowSelectionAndResamplingIntoTheTwoClassSet) {
  FlagScope flags;
  gMinClassSamples = 1;
  Brain3DSampleSet set;
  set.samples = {{Record(2, 0, 0, 0), Record(0, 1, 0, 0), Record(1, 2, 0, 0)}, {Record(1, 3, 0, 0), Record(0, 4, 0, 0)}};
  VectorQo<int> counts(2);
  counts[0] = 3;
  counts[1] = 2;
  set.setClassCounts(counts, VectorQo<float>(2, 0.5f));
  set.buildEntries();

  // Dropping sample 1 of class 0 compacts its records in order; entries sorted by case.
  std::vector<VectorQo<double>> sel = {VectorQo<double>(3, 1.0), VectorQo<double>(2, 1.0)};
  sel[0][1] = 0.0;
  set.selectSamples(sel);
  ASSERT_EQ(set.samples[0].size(), 2u);
  EXPECT_EQ(set.samples[0][0].z, 0);
  EXPECT_EQ(set.samples[0][1].z, 2);
  ASSERT_EQ(set.samples[1].size(), 2u);

  // Class 1 positive: the target's records are the classes' records, and every entry
  // names its record in the list of its side, ordered by case.
  VectorQo<unsigned char> split(2);
  split[0] = 0;
  split[1] = 1;
  set.setClassSplit(split);
  Edg3DSampleSet target;
  set.resampleFrom(&target, 100, 100);
  ASSERT_EQ(target.posRecords.size(), 2u);
  ASSERT_EQ(target.negRecords.size(), 2u);
  std::vector<int> positiveSlices, negativeSlices, cases;
  target.reset();
  while (target.hasNext()) {
    const bool positive = target.next();
    int j = 0;
    uint16_t flag = 0;
    target.getCurrentEntry(j, flag);
    const VoxelSampleRecord& r = positive ? target.posRecords[static_cast<size_t>(j)] : target.negRecords[static_cast<size_t>(j)];
    (positive ? positiveSlices : negativeSlices).push_back(r.z);
    cases.push_back(r.caseNumber);
  }
  std::sort(positiveSlices.begin(), positiveSlices.end());
  std::sort(negativeSlices.begin(), negativeSlices.end());
  EXPECT_EQ(positiveSlices, (std::vector<int>{3, 4}));
  EXPECT_EQ(negativeSlices, (std::vector<int>{0, 2}));
  EXPECT_TRUE(std::is_sorted(cases.begin(), cases.end()));
}
