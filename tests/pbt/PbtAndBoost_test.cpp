#include "pbt/PbtAndBoost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"

namespace {

// Level 0 (feature 1 <= t) rejects the last positive and four negatives; level 1
// (feature 0 >= t) rejects the remaining negative.
VectorSampleSet* TwoLevelSet() {
  return new VectorSampleSet({{1, 1}, {1, 1}, {1, 2}, {2, 1}, {1, 9}}, {{1, 9}, {2, 9}, {1, 8}, {2, 8}, {-7, 1}});
}

}  // namespace

TEST(PbtAndBoostTest, GreedyLevelsFormAConjunction) {
  std::unique_ptr<VectorSampleSet> set(TwoLevelSet());
  set->calculateAllFeatures();
  const VectorQo<double> before = set->getWeights(true);
  TempFolder tmp;
  PbtAdaWeakParams params = CascadeParams(5, tmp.file("log.txt"));
  PbtAndBoost cascade;
  ResetUniformRandomForTesting();
  const float error = cascade.train(set.get(), &params);
  // Two stump candidates, two kept levels: two draws each.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2 * 2 + 2 * 2);
  EXPECT_FLOAT_EQ(error, 0.1f);
  ASSERT_EQ(cascade.numWeak(), 2);
  EXPECT_TRUE(cascade.alphas.empty());
  EXPECT_EQ(cascade.offset, 0.0f);
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)),
            "    and: i= 0  best=    1 e=0.200 test feature 1 (time=#s)\n"
            "    and: i= 1  best=    0 e=0.100 test feature 0 (time=#s)\n");
  for (int i = 0; i < 5; ++i) EXPECT_EQ(set->getWeights(true)[i], before[i]);

  // Only the positives that pass both levels are accepted: all but the last.
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < 5; ++i) {
      const float vote = positive && i < 4 ? 1.0f : -1.0f;
      EXPECT_EQ(cascade.classifyInSet(set.get(), positive, i), vote) << positive << " " << i;
    }
  }
  set->freeFeatures();
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < 5; ++i) {
      const float p = positive && i < 4 ? 1.0f : 0.0f;
      PbtSample* s = set->getSample(i, positive);
      EXPECT_EQ(cascade.probability(s), p);
      EXPECT_EQ(cascade.response(s), 2 * p - 1);
      VectorQo<double> post;
      cascade.posterior(s, post);
      EXPECT_EQ(post[1], p);
      EXPECT_EQ(post[0], 1 - p);
    }
  }
}

TEST(PbtAndBoostTest, LevelsStopEarly) {
  struct Case {
    const char* name;
    std::vector<float> pos, neg;
    int numMembers;
    int members;
  } cases[] = {
      // The first stump accepts every positive: nothing left to refine.
      {"no positive rejected", {1, 2, 3}, {5, 6}, 5, 1},
      // The second level's best is the first level's feature again.
      {"same feature again", {1, 2, 3, 9}, {8, 9.5f, 10}, 5, 1},
      // No levels: the empty cascade accepts everything.
      {"no levels", {1, 2}, {3, 4}, 0, 0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature(c.pos, c.neg));
    set->calculateAllFeatures();
    PbtAdaWeakParams params = CascadeParams(c.numMembers);
    params.verbose = 0;
    PbtAndBoost cascade;
    const float error = cascade.train(set.get(), &params);
    EXPECT_EQ(cascade.numWeak(), c.members) << c.name;
    if (c.members == 0) {
      EXPECT_FLOAT_EQ(error, 0.5f) << c.name;  // every negative accepted
      EXPECT_EQ(cascade.ensembleScore(set->current()), 1.0f) << c.name;
    }
  }
  // A cached set with an empty pool: nothing to train, the empty cascade's error.
  VectorSampleSet noFeatures({{}, {}}, {{}, {}});
  noFeatures.calculateAllFeatures();
  PbtAdaWeakParams params = CascadeParams(3);
  params.verbose = 0;
  PbtAndBoost cascade;
  EXPECT_FLOAT_EQ(cascade.train(&noFeatures, &params), 0.5f);
  EXPECT_EQ(cascade.numWeak(), 0);
}

TEST(PbtAndBoostTest, ANotANumberVoteDoesNotReject) {
  PbtAndBoost cascade;
  cascade.members = {Stump(0, 1.0f, 0)};
  // A member that answers NaN everywhere.
  class NanVoter : public PbtClassifier {
   public:
    PbtClassifier* create() const override { return new NanVoter(); }
    void write(BinaryWriter&) const override {}
    bool read(BinaryReader&) override { return true; }
    float probability(PbtSample*) override { return std::nanf(""); }
    float classifyInSet(PbtSampleSet*, int, int) override { return std::nanf(""); }
    void collectFeatures(std::vector<PbtFid>&) const override {}
  };
  cascade.members.push_back(new NanVoter());
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({0.5f}, {2.0f}));
  EXPECT_EQ(cascade.probability(set->getSample(0, true)), 1.0f);
  EXPECT_EQ(cascade.probability(set->getSample(0, false)), 0.0f);
  set->calculateAllFeatures();
  EXPECT_EQ(cascade.classifyInSet(set.get(), 1, 0), 1.0f);
}

TEST(PbtAndBoostTest, RecordOfThreeStumpsIs467Bytes) {
  PbtAndBoost cascade;
  cascade.members = {Stump(0, 1.0f, 0), Stump(1, 2.0f, 1), Stump(0, 3.0f, 1)};
  cascade.offset = 0.25f;
  const std::string rec = RecordBytes(cascade);
  ASSERT_EQ(rec.size(), 467u);
  std::istringstream in(rec);
  BinaryReader r(in);
  PbtAndBoost back;
  ResetUniformRandomForTesting();
  ASSERT_TRUE(back.read(r));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);
  EXPECT_EQ(r.remaining(), 0);
  EXPECT_EQ(RecordBytes(back), rec);
  EXPECT_EQ(back.alphas, std::vector<float>(3, 0.0f));
  EXPECT_EQ(back.offset, 0.25f);
  std::unique_ptr<PbtClassifier> copy(back.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  EXPECT_STREQ(back.getName(), "AndBoost");
  EXPECT_EQ(back.typeCode(), 3);

  auto withCount = [&](int32_t n) {
    std::string b = rec;
    std::memcpy(&b[4], &n, 4);
    return b;
  };
  for (const std::string& bad : {rec.substr(0, 5), rec.substr(0, 300), withCount(-1), withCount(4), withCount(1 << 30)}) {
    PbtAndBoost b;
    std::istringstream bin(bad);
    BinaryReader br(bin);
    EXPECT_FALSE(b.read(br));
    EXPECT_FALSE(br.ok());
    EXPECT_EQ(b.numWeak(), 0);
  }
}
