#include "features/Edg3DSampleSet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <memory>
#include <utility>
#include <vector>

#include "features/Edg3DSample.h"
#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "FeatureTestSupport.h"

namespace {

// A voxel sample that records where it is sent and answers one feature: the record's
// column + 1000 x case, so cached values show which record they came from.
class RecordingSample : public Edg3DSample {
 public:
  RecordingSample() {
    PbtFid fid;
    fid.kind = 'L';
    featurePool.push_back(fid);
  }
  void setPosition(const VoxelSampleRecord& r) override {
    last = r;
    ++moves;
  }
  float computeFeature(const PbtFid&) override { return static_cast<float>(last.x + 1000 * last.caseNumber); }

  VoxelSampleRecord last;
  int moves = 0;
};

// Entries alternate positive (even entries) and negative; entry e is sample e / 2 of its class.
void Fill(Edg3DSampleSet& set, const std::vector<int>& posCases, const std::vector<int>& negCases) {
  for (size_t i = 0; i < posCases.size(); ++i) set.posRecords.push_back(Record(posCases[i], 1, 2, static_cast<int>(i)));
  for (size_t i = 0; i < negCases.size(); ++i) set.negRecords.push_back(Record(negCases[i], 3, 4, static_cast<int>(i)));
  const int P = static_cast<int>(posCases.size()), N = static_cast<int>(negCases.size());
  set.allocate(1, P, N);
  set.initWeights(P, N, 0.5f);
  int p = 0, n = 0;
  for (int e = 0; e < P + N; ++e) {
    const bool positive = (e % 2 == 0 && p < P) || n >= N;
    set.setEntry(e, positive ? p++ : n++, positive ? 1 : 0);
  }
}

std::vector<std::pair<int, int>> Entries(Edg3DSampleSet& set) {
  std::vector<std::pair<int, int>> out;
  set.reset();
  while (set.hasNext()) {
    set.next();
    int s = 0;
    uint16_t positive = 0;
    set.getCurrentEntry(s, positive);
    out.emplace_back(s, positive);
  }
  return out;
}

TEST(Edg3DSampleSetTest, DrawSamplesFollowsTheMinHeapNotAStableSort) {
  const struct {
    const char* name;
    std::vector<int> pos, neg;
    std::vector<std::pair<int, int>> want;  // (sample, positive) in entry order
  } cases[] = {
      // Entry cases 0, 2, 2, 0, 1, 2, 1, 2: a stable sort would give entries
      // 0 3 4 6 1 2 5 7; the heap gives 0 3 4 6 7 1 5 2.
      {"MixedCases", {0, 2, 1, 1}, {2, 0, 2, 2}, {{0, 1}, {1, 0}, {2, 1}, {3, 1}, {3, 0}, {0, 0}, {2, 0}, {1, 1}}},
      // One case: the entries stay together in the heap's order 0 4 3 2 1.
      {"OneCase", {3, 3, 3}, {3, 3}, {{0, 1}, {2, 1}, {1, 0}, {1, 1}, {0, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Edg3DSampleSet set;
    Fill(set, c.pos, c.neg);
    const std::vector<VoxelSampleRecord> pos = set.posRecords, neg = set.negRecords;
    set.drawSamples();
    EXPECT_EQ(Entries(set), c.want);
    ASSERT_EQ(set.posRecords.size(), pos.size());
    for (size_t i = 0; i < pos.size(); ++i) EXPECT_EQ(set.posRecords[i].x, pos[i].x);
  }
}

TEST(Edg3DSampleSetTest, GetSampleUnpacksTheRecordWithoutSignSpill) {
  Edg3DSampleSet set;
  auto* s = new RecordingSample();
  set.setSample(s);
  set.setOwnsSample(true);
  set.posRecords = {Record(-1, 7, 300, 12)};  // case 65535: keep the loaded volumes
  set.negRecords = {Record(4, -2, 0, -1)};
  EXPECT_EQ(set.getSample(0, true), s);
  EXPECT_EQ(s->last.caseNumber, -1);
  EXPECT_EQ(s->last.z, 7);
  EXPECT_EQ(s->last.y, 300);
  EXPECT_EQ(s->last.x, 12);
  set.getSample(0, false);
  EXPECT_EQ(s->last.caseNumber, 4);
  EXPECT_EQ(s->last.z, -2);
  EXPECT_EQ(s->last.y, 0);
  EXPECT_EQ(s->last.x, -1);
  // The packed words themselves.
  set.setSamplePosition(0x0007FFFFu, 0x000C012Cu);
  EXPECT_EQ(s->last.caseNumber, -1);
  EXPECT_EQ(s->last.z, 7);
  EXPECT_EQ(s->last.y, 300);
  EXPECT_EQ(s->last.x, 12);
}

TEST(Edg3DSampleSetTest, GetSampleMovesARealVoxelSampleWithoutLoading) {
  Edg3DSampleSet set;
  Edg3DSample* s = new Edg3DSample();
  set.setSample(s);
  set.setOwnsSample(true);
  s->invalidateCase();
  set.posRecords = {Record(-1, 5, 6, 7)};
  set.getSample(0, true);
  EXPECT_EQ(s->loadedCase, -1);
  EXPECT_EQ(s->z, 5);
  EXPECT_EQ(s->y, 6);
  EXPECT_EQ(s->x, 7);
}

TEST(Edg3DSampleSetTest, FilterByWeightsKeepsRecordsPairedWithSamplesAndCache) {
  Edg3DSampleSet set;
  auto* s = new RecordingSample();
  set.setSample(s);
  set.setOwnsSample(true);
  EdgSampleSetParams params;
  set.init(params);
  Fill(set, {0, 1, 2, 3}, {5, 6, 7});
  set.calculateAllFeatures();

  VectorQo<double> pos(4), neg(3);
  pos[0] = 1.0, pos[1] = 0.0, pos[2] = 2.0, pos[3] = NAN;
  neg[0] = 1.0, neg[1] = 1.0, neg[2] = 1.0;
  set.filterByWeights(pos, neg);
  ASSERT_EQ(set.numSamples(true), 2);
  ASSERT_EQ(set.posRecords.size(), 2u);
  EXPECT_EQ(set.posRecords[0].caseNumber, 0);
  EXPECT_EQ(set.posRecords[1].caseNumber, 2);
  EXPECT_EQ(set.negRecords.size(), 3u);  // every factor positive: unchanged
  EXPECT_EQ(set.negRecords[2].caseNumber, 7);

  // Cached values, recomputed values and records agree sample by sample.
  float** table = set.getFeatureTable(true);
  ASSERT_NE(table, nullptr);
  for (int i = 0; i < 2; ++i) {
    const VoxelSampleRecord& r = set.posRecords[static_cast<size_t>(i)];
    EXPECT_EQ(table[0][i], r.x + 1000.0f * r.caseNumber);
  }
  set.freeFeatures();
  set.reset();
  while (set.hasNext()) {
    const bool positive = set.next();
    int idx = 0;
    uint16_t p = 0;
    set.getCurrentEntry(idx, p);
    const VoxelSampleRecord& r = (positive ? set.posRecords : set.negRecords)[static_cast<size_t>(idx)];
    EXPECT_EQ(set.current()->getFeatureValue(s->featurePool[0]), r.x + 1000.0f * r.caseNumber);
  }
}

TEST(Edg3DSampleSetTest, CloneCopiesRecordsAndClearEmptiesThem) {
  Edg3DSampleSet set;
  RecordingSample sample;
  set.setSample(&sample);
  Fill(set, {1, 0}, {2});
  set.drawSamples();
  std::unique_ptr<PbtSampleSet> copy(set.clone());
  auto* c = dynamic_cast<Edg3DSampleSet*>(copy.get());
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->posRecords.size(), 2u);
  EXPECT_EQ(c->negRecords.size(), 1u);
  EXPECT_EQ(Entries(*c), Entries(set));
  EXPECT_EQ(c->getSampleObject(), &sample);
  c->getSample(1, true);
  EXPECT_EQ(sample.last.caseNumber, 0);

  std::unique_ptr<PbtSampleSet> fresh(set.create());
  EXPECT_EQ(fresh->numEntries(), 0);

  set.clear();
  EXPECT_TRUE(set.posRecords.empty());
  EXPECT_TRUE(set.negRecords.empty());
  EXPECT_EQ(set.numEntries(), 0);
  set.setSample(nullptr);
}

// The feature cache of a set whose entries visit two cases (with context maps for
// one of them), in runs and alternating: the table and the random sequence.
struct CacheRun {
  std::vector<std::vector<float>> pos, neg;
  long long draws = 0;
};

CacheRun FillCache(const std::string& folder, int workers) {
  ScopedWorkerCount count(workers);
  ResetUniformRandomForTesting();
  Edg3DSampleSet set;
  auto* sample = new Object3DSample(2, 2);
  sample->setDirectory(folder.c_str());
  set.setSample(sample);
  set.setOwnsSample(true);
  EdgSampleSetParams params;
  set.init(params);
  const int nPos = 60, nNeg = 50;
  for (int i = 0; i < nPos; ++i) set.posRecords.push_back(Record(i < 25 || i % 7 == 0 ? 0 : 1, i % 9, 2 + i % 5, i % 11));
  for (int i = 0; i < nNeg; ++i) set.negRecords.push_back(Record(i % 3 == 0 ? 1 : 0, 8 - i % 9, i % 10, 3));
  const int features = sample->numFeatures();
  set.allocate(features, nPos, nNeg);
  set.initWeights(nPos, nNeg, 0.5f);
  for (int e = 0, p = 0, n = 0; e < nPos + nNeg; ++e) {
    const bool positive = (e % 3 != 2 && p < nPos) || n >= nNeg;
    set.setEntry(e, positive ? p++ : n++, positive ? 1 : 0);
  }
  set.calculateAllFeatures();
  CacheRun run;
  for (int positive = 0; positive < 2; ++positive) {
    float** table = set.getFeatureTable(positive == 1);
    const int n = positive ? nPos : nNeg;
    std::vector<std::vector<float>>& out = positive ? run.pos : run.neg;
    for (int f = 0; f < features; ++f) out.emplace_back(table[f], table[f] + n);
  }
  run.draws = UniformRandomDrawCountForTesting();
  return run;
}

TEST(Edg3DSampleSetTest, FeatureCacheOfSeveralWorkersIsThatOfOne) {
  const int savedVersion = gFeatureVersion, savedContext = gContextAvailable;
  gFeatureVersion = 0;
  gContextAvailable = 1;
  TempFolder tmp;
  for (int c = 0; c < 2; ++c) {
    HeapMatrix3D<unsigned char> v;
    v.SetSize(9, 10, 11);
    for (int z = 0; z < 9; ++z)
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 11; ++x) v(z, y, x) = static_cast<unsigned char>((z * 37 + y * y * 5 + x * 11 + c * 90) % 251);
    char name[32];
    std::snprintf(name, sizeof name, "I%05d.3dm", c);
    ASSERT_TRUE(v.Save(tmp.file(name)));
    for (int m = 0; c == 1 && m < 2; ++m) {
      std::snprintf(name, sizeof name, "I%05d_%d_prob.3dm", c, m);
      ASSERT_TRUE(v.Save(tmp.file(name)));
    }
  }
  const CacheRun one = FillCache(tmp.path(), 1);
  const CacheRun several = FillCache(tmp.path(), 4);
  gFeatureVersion = savedVersion;
  gContextAvailable = savedContext;
  ASSERT_GT(one.pos.size(), 50u);
  EXPECT_EQ(several.draws, one.draws);
  EXPECT_GT(one.draws, 2);  // the cases were loaded more than once
  for (size_t f = 0; f < one.pos.size(); ++f) {
    // Bytes, so that NaN and signed zeros compare too.
    ASSERT_EQ(0, std::memcmp(one.pos[f].data(), several.pos[f].data(), one.pos[f].size() * sizeof(float))) << f;
    ASSERT_EQ(0, std::memcmp(one.neg[f].data(), several.neg[f].data(), one.neg[f].size() * sizeof(float))) << f;
  }
}

}  // namespace
