// applyClassifier with one worker and with several: every output byte, the
// generator's position and the place of the set's shared sample afterwards must be
// the same.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "features/Brain3DSampleSet.h"
#include "features/FeatureFlags.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtClassifier.h"
#include "pbt/PbtSample.h"
#include "platform/FolderCommands.h"
#include "volume/AnalyzeVolume.h"

namespace {

using Bytes = HeapMatrix3D<unsigned char>;

// A probability that depends on every pool feature at the sample's voxel.
class FeatureMixClassifier : public PbtClassifier {
 public:
  PbtClassifier* create() const override { return new FeatureMixClassifier; }
  void write(BinaryWriter&) const override {}
  bool read(BinaryReader&) override { return true; }
  void collectFeatures(std::vector<PbtFid>&) const override {}
  float probability(PbtSample* s) override {
    double sum = 0.0;
    for (int i = 0; i < s->numFeatures(); ++i) sum += s->getFeatureValue(s->featurePool[static_cast<size_t>(i)]) * (i % 7 + 1);
    const double f = sum * 0.001 - static_cast<double>(static_cast<int64_t>(sum * 0.001));
    return static_cast<float>(f < 0 ? -f : f) - 0.3f;  // some voxels at or below 0
  }
};

Bytes Noise(int d0, int d1, int d2, uint32_t seed) {
  Bytes v;
  v.SetSize(d0, d1, d2);
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) {
        seed = seed * 1664525u + 1013904223u;
        v[z][y][x] = static_cast<unsigned char>(seed >> 24);
      }
  return v;
}

struct Outcome {
  std::vector<std::vector<uint8_t>> files;
  long long draws = 0;
  float next = 0.0f;
  std::string console;
  std::vector<int32_t> place;  // where the set's shared sample was left: x, y, z, case
};

// Three cases of noise; case 1 has no label below K, so bootstrap never loads it.
Outcome ApplyWith(int workers, bool mapMode) {
  const int savedVersion = gFeatureVersion, savedContext = gContextAvailable;
  gFeatureVersion = 1;
  gContextAvailable = 0;
  ScopedWorkerCount scoped(workers);
  TempFolder tmp;
  const std::string data = tmp.path(), out = tmp.path() + "/out";
  const int K = 2, cases = 3;
  for (int i = 0; i < cases; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/I%05i", i);
    Bytes labels = Noise(9, 8, 11, 7u + i);
    for (int z = 0; z < 9; ++z)
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 11; ++x) labels[z][y][x] = i == 1 ? 5 : labels[z][y][x] % 3;  // 2 is >= K
    EXPECT_TRUE(Noise(9, 8, 11, 100u + i).Save(data + name + ".3dm"));
    EXPECT_TRUE(labels.Save(data + name + "_label.3dm"));
    EXPECT_EQ(WriteAnalyzeVolume(data + name + "_atlas.img", Noise(9, 8, 11, 200u + i)), 1);
    // The parent's mask leaves a scattering of voxels out.
    Bytes mask = Noise(9, 8, 11, 300u + i);
    for (int z = 0; z < 9; ++z)
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 11; ++x) mask[z][y][x] = mask[z][y][x] % 4 != 0;
    EXPECT_TRUE(mask.Save(data + name + "_bstp.3dm"));
  }
  // Known voxels (values below K) spread over every case's box.
  Bytes known = Noise(9, 8, 11, 400u);
  for (int z = 0; z < 9; ++z)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 11; ++x) known[z][y][x] = known[z][y][x] % 5;
  // The walk (radius 2, every second voxel) starts on known voxels of class 1.
  for (int x = 2; x <= 6; x += 2) known[2][2][x] = 1;
  EXPECT_TRUE(known.Save(data + "/known.3dm"));
  MakeFolder(out);

  FeatureMixClassifier classifier;
  EdgSampleSetParams p;
  p.numClasses = K;
  p.dataFolder = data.c_str();
  p.outFolder = out.c_str();
  p.numTrain = cases;
  p.numCases = cases;
  p.radius = 2;
  p.classifier = &classifier;
  p.loaded = mapMode ? 0 : 1;

  ResetUniformRandomForTesting();
  Brain3DSampleSet set;
  testing::internal::CaptureStdout();
  set.applyClassifier(p, "_bstp.3dm");
  Outcome o;
  o.console = testing::internal::GetCapturedStdout();
  o.draws = UniformRandomDrawCountForTesting();
  o.next = UniformRandom(&gUniformRandomSeed);
  PbtSample::Place place;
  if (set.getSampleObject() != nullptr && set.getSampleObject()->getPlace(place))
    o.place.assign(place.words, place.words + 4);
  for (int i = 0; i < cases; ++i) {
    char name[64];
    const std::vector<std::string> tails =
        mapMode ? std::vector<std::string>{"_prob.3dm", "_0_prob.3dm", "_1_prob.3dm"} : std::vector<std::string>{"_bstp.3dm"};
    for (const std::string& tail : tails) {
      std::snprintf(name, sizeof name, "/I%05i%s", i, tail.c_str());
      o.files.push_back(ReadFileBytes(out + name));
    }
  }
  gFeatureVersion = savedVersion;
  gContextAvailable = savedContext;
  return o;
}

}  // namespace

TEST(Brain3DSampleSetApplyTest, SeveralWorkersGiveTheOneWorkerMapsMasksAndDraws) {
  for (const bool mapMode : {true, false}) {
    SCOPED_TRACE(mapMode ? "probability maps" : "bootstrap masks");
    const Outcome one = ApplyWith(1, mapMode);
    // The fixture has teeth: one draw per case loaded (bootstrap skips case 1) on top
    // of the set's own, and the outputs are not uniform.
    EXPECT_EQ(one.draws, mapMode ? 5 : 4);
    std::set<uint8_t> values(one.files[0].begin(), one.files[0].end());
    EXPECT_GT(values.size(), mapMode ? 10u : 2u);
    ASSERT_EQ(one.place.size(), 4u);
    EXPECT_EQ(one.place[3], 2);  // the last case
    for (const int workers : {3, 8}) {
      const Outcome many = ApplyWith(workers, mapMode);
      EXPECT_EQ(many.files, one.files) << workers;
      EXPECT_EQ(many.draws, one.draws) << workers;
      EXPECT_EQ(many.next, one.next) << workers;
      EXPECT_EQ(many.console, one.console) << workers;
      EXPECT_EQ(many.place, one.place) << workers;
    }
  }
}
