#include "models/Kro_AppearDiscrmModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ModelFolderFixture.h"
#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "numerics/UniformRandom.h"
#include "models/Kro_AppearanceAll.h"
#include "models/ProbabilityByte.h"
#include "numerics/TextFunctions.h"

namespace {

using namespace model_fixture;
using Volume = HeapMatrix3D<unsigned char>;

constexpr int kSize = 7;

Volume Cube(int size, unsigned char value) {
  Volume v;
  v.SetSize(size, size, size);
  v.Fill(value);
  return v;
}

// Loads the folder, works on the whole cube and runs the segmentation; the console
// output of the load and the passes goes to *out.
bool LoadAndSegment(Kro_AppearanceAll& all, const std::string& folder, std::vector<Volume>& probs, Volume& labels,
                    std::string* out) {
  testing::internal::CaptureStdout();
  bool ok = all.Load(folder.c_str(), nullptr);
  Volume source = Cube(kSize, 100);
  all.SetWholeVolumeBox(kSize, kSize, kSize);
  ok = ok && all.SetVolume(source, folder.c_str(), nullptr);
  probs.resize(all.NumClasses() > 0 ? all.NumClasses() : 1);
  ok = ok && all.Segment(nullptr, labels, 0.5f, probs.data());
  *out = testing::internal::GetCapturedStdout();
  return ok;
}

std::vector<int> BytesAt(const std::vector<Volume>& probs, int z, int y, int x) {
  std::vector<int> b;
  for (const auto& p : probs) b.push_back(p(z, y, x));
  return b;
}

TEST(ProbabilityByte, TruncatesKeepsLowByteAndZeroesNonFinite) {
  EXPECT_EQ(ProbabilityByte(0.999), 254);
  EXPECT_EQ(ProbabilityByte(1.0), 255);
  EXPECT_EQ(ProbabilityByte(0.0), 0);
  EXPECT_EQ(ProbabilityByte(2.0), 254);  // 510 keeps its low 8 bits
  EXPECT_EQ(ProbabilityByte(std::nan("")), 0);
  EXPECT_EQ(ProbabilityByte(HUGE_VAL), 0);
  EXPECT_EQ(ProbabilityByte(-HUGE_VAL), 0);
}

// Three passes from clf, clf1 and clf3 (no clf2). Pass 2's tree answers class 2 only
// where pass 1's map of class 1 is high, and pass 3's only where pass 2's map of class
// 2 is, so the final maps show that each pass read the previous pass's maps.
class ThreePassModel : public testing::Test {
 protected:
  void SetUp() override {
    gContextAvailable = 1;
    const std::string f = tmp.path();
    WriteFileText(tmp.file("setting.txt"), Settings(3, 3, 1, "0 0 0 6 6 6") + "IntensityType: 4\n");
    WriteLeafTree(tmp.file("clf"), {0.25, 0.65, 0.10});
    WriteContextStumpTree(tmp.file("clf1"), 1, 100.0f, {0.75, 0.15, 0.10}, {0.10, 0.15, 0.75});
    WriteContextStumpTree(tmp.file("clf3"), 2, 100.0f, {0.90, 0.05, 0.05}, {0.05, 0.05, 0.90});
    Volume known = Cube(kSize, 4);  // 4 = classes + 1: no voxel fixed ...
    known(3, 3, 4) = 1;             // ... but this one, known to be class 1
    ASSERT_TRUE(known.Save(tmp.file("known.3dm")));
  }
  TempFolder tmp;
};

TEST_F(ThreePassModel, RunsEveryPassInOrderWithThePreviousMapsAsContext) {
  Kro_AppearanceAll all;
  std::vector<Volume> probs;
  Volume labels;
  std::string out;
  ASSERT_TRUE(LoadAndSegment(all, tmp.path(), probs, labels, &out));
  ASSERT_NE(all.Model(), nullptr);
  EXPECT_EQ(all.Model()->NumPasses(), 3);
  std::string expectedOut = "setting file: " + tmp.path() + "/setting.txt\n";
  ToBackslashes(expectedOut);
  expectedOut += "context iteration 1\ncontext iteration 2\ncontext iteration 3\n";
  EXPECT_EQ(out, expectedOut);

  // Interior voxel: pass 3 took its high branch (soft descent leaves a trace of the
  // other leaf, hence the tolerance).
  const std::vector<int> inner = BytesAt(probs, 2, 3, 3);
  EXPECT_NEAR(inner[0], 12, 1);
  EXPECT_NEAR(inner[2], 229, 1);
  EXPECT_EQ(labels(3, 3, 3), 2);
  // A voxel within the radius of the border is class 0 with certainty.
  EXPECT_EQ(BytesAt(probs, 0, 3, 3), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(BytesAt(probs, 3, 6, 3), (std::vector<int>{255, 0, 0}));
  // The known voxel is one-hot in every pass, including the last.
  EXPECT_EQ(BytesAt(probs, 3, 3, 4), (std::vector<int>{0, 255, 0}));
}

TEST_F(ThreePassModel, FirstPassAloneGivesTheLeafBytes) {
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Load(tmp.path().c_str(), nullptr));
  Volume source = Cube(kSize, 100);
  all.SetWholeVolumeBox(kSize, kSize, kSize);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  std::vector<Volume> probs(3);
  all.ProbabilityMaps(probs.data());
  testing::internal::GetCapturedStdout();
  // 0.25 x 255 = 63.75, 0.65 x 255 = 165.75, 0.1 x 255 = 25.5 (stored as floats).
  EXPECT_EQ(BytesAt(probs, 3, 2, 2), (std::vector<int>{63, 165, 25}));
}

// Single-voxel bytes of one-leaf models of three classes (radius 1, voxel (3, 3, 3)).
TEST(DiscriminativeModel, SingleVoxelBytes) {
  struct Case {
    const char* name;
    std::vector<double> leaf;
    const char* lift;  // prob_lift.txt, or null
    std::vector<int> bytes;
  };
  // A lift file that does not read as pairs, and trees of another class count, fail
  // the load (ModelFolderLoad_test.cpp).
  const Case cases[] = {
      {"0.999 truncates to 254", {0.001, 0.999, 0.0}, nullptr, {0, 254, 0}},
      {"lift rescales before the normalisation", {0.25, 0.5, 0.25}, "7 9.0\n1 3.0\n", {31, 191, 31}},
      {"a class named twice keeps its last factor", {0.25, 0.5, 0.25}, "1 9.0\n1 3.0\n", {31, 191, 31}},
  };
  for (const auto& c : cases) {
    TempFolder tmp;
    WriteFileText(tmp.file("setting.txt"), Settings(3, 3, 1, "0 0 0 6 6 6"));
    WriteLeafTree(tmp.file("clf"), c.leaf);
    if (c.lift) WriteFileText(tmp.file("prob_lift.txt"), c.lift);
    Kro_AppearanceAll all;
    std::vector<Volume> probs;
    Volume labels;
    std::string out;
    ASSERT_TRUE(LoadAndSegment(all, tmp.path(), probs, labels, &out)) << c.name << out;
    EXPECT_EQ(BytesAt(probs, 3, 3, 3), c.bytes) << c.name;
  }
}

TEST(DiscriminativeModel, BoxIsCutToTheVolumeAndAnEmptyCutIsRefused) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "2 2 2 20 20 20"));
  WriteLeafTree(tmp.file("clf"), {0.25, 0.75});
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Load(tmp.path().c_str(), nullptr));
  Volume source = Cube(kSize, 50);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  const SubVolume& b = all.Model()->Box();
  EXPECT_EQ(b.x0, 2);
  EXPECT_EQ(b.z1, 6);
  std::vector<Volume> probs(2);
  Volume labels;
  ASSERT_TRUE(all.Segment(nullptr, labels, 0.5f, probs.data()));
  EXPECT_EQ(probs[0].dim0(), 5);
  // Volume coordinates: box voxel (1, 1, 1) is volume voxel (3, 3, 3), inside the inner box.
  EXPECT_EQ(BytesAt(probs, 1, 1, 1), (std::vector<int>{63, 191}));
  VectorQo<double> post;
  all.Posterior(post, 3, 3, 3);
  EXPECT_DOUBLE_EQ(post[1], 0.75);

  Kro_AppearanceAll outside;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "10 10 10 20 20 20"));
  ASSERT_TRUE(outside.Load(tmp.path().c_str(), nullptr));
  EXPECT_FALSE(outside.SetVolume(source, nullptr, nullptr));
  EXPECT_FALSE(outside.Segment(nullptr, labels, 0.5f, probs.data()));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("the box 10 10 10 20 20 20 does not overlap the volume of 7 x 7 x 7 voxels"),
            std::string::npos)
      << out;
}

TEST(DiscriminativeModel, EdgeVolumeIsReadByBaseName) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 6 6 6"));
  WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
  WriteUniformVolume(tmp.file("b_edge.3dm"), 2, 3, 4, 9);
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Load(tmp.path().c_str(), nullptr));
  Volume source = Cube(kSize, 50);
  ASSERT_TRUE(all.SetVolume(source, tmp.path().c_str(), "x"));
  EXPECT_EQ(all.Model()->EdgeVolumeRef().NumElements(), 0);
  ASSERT_TRUE(all.SetVolume(source, tmp.path().c_str(), "some/where/b.img"));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(all.Model()->EdgeVolumeRef().dim2(), 4);
}

}  // namespace

namespace {

TEST(DiscriminativeModel, FastLabelMapWorksAtHalfResolution) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 6 6 6"));
  WriteLeafTree(tmp.file("clf"), {0.25, 0.75});
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Load(tmp.path().c_str(), nullptr));
  testing::internal::GetCapturedStdout();
  Volume source = Cube(kSize, 50);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  Volume labels;
  all.FastLabelMap(labels);
  ASSERT_EQ(labels.dim0(), kSize);
  // Work voxel i reads volume voxel 2i: 0 lies on the border (class 0), 2 and 4 inside.
  EXPECT_EQ(labels(1, 1, 1), 0);
  EXPECT_EQ(labels(3, 3, 3), 1);
  EXPECT_EQ(labels(5, 5, 5), 1);
  EXPECT_EQ(labels(6, 6, 6), 0);  // beyond the 3 x 3 x 3 work volume
}

// The edge tree answers entry 1 of its posterior inside the inner box, 0 outside; the
// edge volume holds its bytes.
TEST(DiscriminativeModel, EdgeProbabilityAndEdgeVolume) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 6 6 6"));
  WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
  WriteContextStumpTree(tmp.file("clf_edge"), 0, 100.0f, {0.3, 0.7}, {0.9, 0.1});
  Kro_AppearanceAll all;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Load(tmp.path().c_str(), nullptr));
  testing::internal::GetCapturedStdout();
  Volume source = Cube(kSize, 50);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  EXPECT_NEAR(all.Model()->EdgeProbability(3, 3, 3), 0.7, 1e-3);  // no context: low branch
  EXPECT_EQ(all.Model()->EdgeProbability(0, 3, 3), 0.0f);
  HeapMatrix3D<unsigned char>* edges = all.EdgeVolume();
  ASSERT_NE(edges, nullptr);
  EXPECT_NEAR(edges->operator()(3, 3, 3), 178, 1);
  EXPECT_EQ(edges->operator()(0, 0, 0), 0);
}

// A textured volume, a model whose passes read the atlas, a Haar feature and the
// previous pass's maps, and an edge tree: every output of the voxel loops, and the
// random sequence, with one worker and with several.
struct ModelRun {
  std::vector<Volume> probs;
  Volume labels, fast, edges;
  long long draws = 0;
};

ModelRun RunTexturedModel(const std::string& folder, int workers) {
  ScopedWorkerCount count(workers);
  ResetUniformRandomForTesting();
  const int size = 17;
  Volume source;
  source.SetSize(size, size - 2, size + 3);
  for (int z = 0; z < source.dim0(); ++z)
    for (int y = 0; y < source.dim1(); ++y)
      for (int x = 0; x < source.dim2(); ++x)
        source(z, y, x) = static_cast<unsigned char>((z * z * 7 + y * 13 + x * x * 3 + x * y) % 241);
  Kro_AppearanceAll all;
  ModelRun run;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(all.Load(folder.c_str(), nullptr));
  all.SetWholeVolumeBox(source.dim2(), source.dim1(), source.dim0());
  EXPECT_TRUE(all.SetVolume(source, folder.c_str(), nullptr));
  run.probs.resize(3);
  EXPECT_TRUE(all.Segment(nullptr, run.labels, 0.5f, run.probs.data()));
  all.Model()->FastLabelMap(run.fast, true);
  all.Model()->ComputeEdgeVolume();
  testing::internal::GetCapturedStdout();
  run.edges = all.Model()->EdgeVolumeRef();
  run.draws = UniformRandomDrawCountForTesting();
  return run;
}

int DistinctBytes(const Volume& v) {
  std::vector<bool> seen(256, false);
  int n = 0;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x)
        if (!seen[v(z, y, x)]) seen[v(z, y, x)] = true, ++n;
  return n;
}

TEST(DiscriminativeModel, SeveralWorkersGiveTheBytesAndDrawsOfOne) {
  const int savedVersion = gFeatureVersion, savedContext = gContextAvailable;
  gFeatureVersion = 1;
  gContextAvailable = 1;
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 3, 2, "0 0 0 19 14 16") + "IntensityType: 4\n");
  // The pool's middle Haar feature.
  Object3DSample pool(3, 2);
  std::vector<PbtFid> haar;
  for (const PbtFid& f : pool.featurePool)
    if (f.kind == 'H') haar.push_back(f);
  ASSERT_FALSE(haar.empty());
  const PbtFid& h = haar[haar.size() / 2];
  WriteAtlasStumpTree(tmp.file("clf"), 1.5f, {0.2, 0.5, 0.3}, {0.5, 0.1, 0.4});
  WriteStumpTree(tmp.file("clf1"), h, 0.0f, {0.6, 0.3, 0.1}, {0.1, 0.3, 0.6});
  WriteContextStumpTree(tmp.file("clf2"), 2, 100.0f, {0.7, 0.2, 0.1}, {0.1, 0.2, 0.7});
  WriteStumpTree(tmp.file("clf_edge"), h, 0.0f, {0.8, 0.2}, {0.3, 0.7});
  Volume atlas;
  atlas.SetSize(17, 15, 20);
  for (int z = 0; z < 17; ++z)
    for (int y = 0; y < 15; ++y)
      for (int x = 0; x < 20; ++x) atlas(z, y, x) = static_cast<unsigned char>((x + y + z) % 4);
  ASSERT_TRUE(atlas.Save(tmp.file("atlas.3dm")));

  const ModelRun one = RunTexturedModel(tmp.path(), 1);
  ASSERT_EQ(one.probs.size(), 3u);
  EXPECT_GE(DistinctBytes(one.probs[2]), 3);  // border, and both sides of the last stump
  EXPECT_GE(DistinctBytes(one.labels), 2);
  EXPECT_GT(DistinctBytes(one.edges), 2);
  // The workers' samples read the provider's volumes, atlas and maps (the maps of each
  // pass set on the provider alone).
  for (int workers : {3, 8}) {
    const ModelRun several = RunTexturedModel(tmp.path(), workers);
    for (size_t c = 0; c < 3; ++c)
      EXPECT_TRUE(SameVoxels(one.probs[c], several.probs[c])) << "class " << c << ", " << workers << " workers";
    EXPECT_TRUE(SameVoxels(one.labels, several.labels)) << workers;
    EXPECT_TRUE(SameVoxels(one.fast, several.fast)) << workers;
    EXPECT_TRUE(SameVoxels(one.edges, several.edges)) << workers;
    EXPECT_EQ(several.draws, one.draws) << workers;
  }
  gFeatureVersion = savedVersion;
  gContextAvailable = savedContext;
}

}  // namespace
