#include "pbt/PbtAndBoost.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "PbtBoosterContract.h"
#include "PbtTestSets.h"
#include "TestSupport.h"

namespace {

// Level 0 (feature 1 <= t) rejects the last positive and four negatives; level 1
// (feature 0 >= t) rejects the remaining negative.
VectorSampleSet* TwoLevelSet() {
  return new VectorSampleSet({{1, 1}, {1, 1}, {1, 2}, {2, 1}, {1, 9}}, {{1, 9}, {2, 9}, {1, 8}, {2, 8}, {-7, 1}});
}

struct AndBoostKind {
  using Booster = PbtAndBoost;
  using Set = VectorSampleSet;
  struct Scope {};
  static std::unique_ptr<Set> TrainingSet() { return std::unique_ptr<Set>(TwoLevelSet()); }
  static constexpr int kRounds = 5;
  static constexpr int kKept = 2;
  static std::unique_ptr<Set> Separable() { return std::unique_ptr<Set>(Set::singleFeature({1, 2}, {3, 4})); }
  static std::unique_ptr<Set> WithoutFeatures() { return std::unique_ptr<Set>(new Set({{}, {}}, {{}, {}})); }
  static double Train(Booster& cascade, Set& set, int rounds, const std::string& logName) {
    set.calculateAllFeatures();
    PbtAdaWeakParams params = CascadeParams(rounds, logName);
    return cascade.train(&set, &params);
  }
  static int DrawsPerMember(const Booster&) { return 2; }  // a stump
  static constexpr size_t kTrailerBytes = 0;
};

}  // namespace

// Draws, level limits that train nothing and records that do not read.
INSTANTIATE_TYPED_TEST_SUITE_P(AndBoost, PbtBoosterContractTest, AndBoostKind);

TEST(PbtAndBoostTest, GreedyLevelsFormAConjunction) {
  std::unique_ptr<VectorSampleSet> set(TwoLevelSet());
  set->calculateAllFeatures();
  const VectorQo<double> before = set->getWeights(true);
  TempFolder tmp;
  PbtAdaWeakParams params = CascadeParams(5, tmp.file("log.txt"));
  PbtAndBoost cascade;
  const float error = cascade.train(set.get(), &params);
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
    int members;
  } cases[] = {
      // The first stump accepts every positive: nothing left to refine.
      {"no positive rejected", {1, 2, 3}, {5, 6}, 1},
      // The second level's best is the first level's feature again.
      {"same feature again", {1, 2, 3, 9}, {8, 9.5f, 10}, 1},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature(c.pos, c.neg));
    set->calculateAllFeatures();
    PbtAdaWeakParams params = CascadeParams(5);
    params.verbose = 0;
    PbtAndBoost cascade;
    cascade.train(set.get(), &params);
    EXPECT_EQ(cascade.numWeak(), c.members) << c.name;
  }
  // Without levels the cascade accepts everything.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3, 4}));
  PbtAndBoost empty;
  EXPECT_EQ(empty.ensembleScore(set->getSample(0, false)), 1.0f);
  EXPECT_EQ(empty.probability(set->getSample(1, false)), 1.0f);
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
  ASSERT_TRUE(back.read(r));
  EXPECT_EQ(r.remaining(), 0);
  EXPECT_EQ(RecordBytes(back), rec);
  EXPECT_EQ(back.alphas, std::vector<float>(3, 0.0f));
  EXPECT_EQ(back.offset, 0.25f);
  std::unique_ptr<PbtClassifier> copy(back.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  EXPECT_STREQ(back.getName(), "AndBoost");
  EXPECT_EQ(back.typeCode(), 3);
}
