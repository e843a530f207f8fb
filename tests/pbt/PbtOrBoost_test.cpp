#include "pbt/PbtOrBoost.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "PbtBoosterContract.h"
#include "PbtTestSets.h"
#include "TestSupport.h"
#include "pbt/PbtAndBoost.h"

namespace {

// Positives are high on feature 0 or on feature 1; negatives are low on both.
VectorSampleSet* EitherSet() {
  return new VectorSampleSet({{0, 5}, {1, 6}, {5, 0}, {6, 1}}, {{0, 0}, {1, 1}, {0, 1}, {1, 0}});
}

struct OrBoostKind {
  using Booster = PbtOrBoost;
  using Set = VectorSampleSet;
  struct Scope {};
  static std::unique_ptr<Set> TrainingSet() { return std::unique_ptr<Set>(EitherSet()); }
  static constexpr int kRounds = 5;
  static constexpr int kKept = 2;
  static std::unique_ptr<Set> Separable() { return std::unique_ptr<Set>(Set::singleFeature({1, 2}, {3, 4})); }
  static std::unique_ptr<Set> WithoutFeatures() { return std::unique_ptr<Set>(new Set({{}, {}}, {{}, {}})); }
  static double Train(Booster& disjunction, Set& set, int rounds, const std::string& logName) {
    set.calculateAllFeatures();
    PbtAdaWeakParams params = CascadeParams(rounds, logName);
    return disjunction.train(&set, &params);
  }
  static int DrawsPerMember(const Booster&) { return 2; }  // a stump
  static constexpr size_t kTrailerBytes = 0;
};

}  // namespace

// Draws, round limits that train nothing and records that do not read.
INSTANTIATE_TYPED_TEST_SUITE_P(OrBoost, PbtBoosterContractTest, OrBoostKind);

TEST(PbtOrBoostTest, GreedyRoundsFormADisjunction) {
  std::unique_ptr<VectorSampleSet> set(EitherSet());
  set->calculateAllFeatures();
  const VectorQo<double> before = set->getWeights(false);
  TempFolder tmp;
  PbtAdaWeakParams params = CascadeParams(5, tmp.file("log.txt"));
  PbtOrBoost disjunction;
  EXPECT_EQ(disjunction.train(set.get(), &params), 0.0f);
  // Round 1 only has to accept the positives round 0 left: every positive is then
  // accepted and training ends.
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)),
            "    or: i= 0  best=    0 e=0.250 test feature 0 (time=#s)\n"
            "    or: i= 1  best=    1 e=0.000 test feature 1 (time=#s)\n");
  ASSERT_EQ(disjunction.numWeak(), 2);
  EXPECT_TRUE(disjunction.alphas.empty());
  for (int i = 0; i < 4; ++i) EXPECT_EQ(set->getWeights(false)[i], before[i]);
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(disjunction.classifyInSet(set.get(), positive, i), positive ? 1.0f : -1.0f);
    }
  }
  set->freeFeatures();
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < 4; ++i) {
      PbtSample* s = set->getSample(i, positive);
      EXPECT_EQ(disjunction.probability(s), positive ? 1.0f : 0.0f);
      EXPECT_EQ(disjunction.ensembleScore(s), positive ? 1.0f : -1.0f);
    }
  }
}

TEST(PbtOrBoostTest, RoundsStopEarly) {
  // The second round's best is the first round's feature again.
  std::unique_ptr<VectorSampleSet> again(VectorSampleSet::singleFeature({1, 5}, {3}));
  again->calculateAllFeatures();
  PbtAdaWeakParams params = CascadeParams(5);
  params.verbose = 0;
  PbtOrBoost disjunction;
  EXPECT_FLOAT_EQ(disjunction.train(again.get(), &params), 0.25f);
  EXPECT_EQ(disjunction.numWeak(), 1);

  // Without members everything is rejected.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1}, {2}));
  PbtOrBoost empty;
  EXPECT_EQ(empty.ensembleScore(set->getSample(0, true)), -1.0f);
  EXPECT_EQ(empty.probability(set->getSample(0, true)), 0.0f);
  set->calculateAllFeatures();
  EXPECT_EQ(empty.classifyInSet(set.get(), 1, 0), -1.0f);
}

TEST(PbtOrBoostTest, RecordIsTheCascadeRecord) {
  std::unique_ptr<VectorSampleSet> set(EitherSet());
  set->calculateAllFeatures();
  PbtAdaWeakParams params = CascadeParams(5);
  params.verbose = 0;
  PbtOrBoost disjunction;
  disjunction.train(set.get(), &params);
  disjunction.offset = 1.5f;
  const std::string rec = RecordBytes(disjunction);
  ASSERT_EQ(rec.size(), 8u + 2 * 153);
  // The same bytes as a cascade holding the same stumps.
  PbtAndBoost cascade;
  for (PbtClassifier* m : disjunction.members) cascade.members.push_back(m->clone());
  cascade.offset = 1.5f;
  EXPECT_EQ(RecordBytes(cascade), rec);

  std::istringstream in(rec);
  BinaryReader r(in);
  PbtOrBoost back;
  ASSERT_TRUE(back.read(r));
  EXPECT_EQ(back.numWeak(), 2);
  EXPECT_EQ(back.alphas, std::vector<float>(2, 0.0f));
  EXPECT_EQ(back.offset, 1.5f);
  std::unique_ptr<PbtClassifier> copy(back.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  set->freeFeatures();
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.probability(set->getSample(i, true)), 1.0f);
  EXPECT_STREQ(back.getName(), "OrBoost");
  EXPECT_EQ(back.typeCode(), 2);
}
