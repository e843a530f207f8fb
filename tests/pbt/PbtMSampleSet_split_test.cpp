#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "PbtMTestSets.h"
#include "TestSupport.h"
#include "numerics/RF_uniform.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtMSampleSet.h"
#include "platform/Conversions.h"

namespace {

std::vector<int> Split(const PbtMSampleSet& set) {
  std::vector<int> out;
  for (int s = 0; s < set.classSplit.rows * set.classSplit.cols; ++s) out.push_back(set.classSplit[s]);
  return out;
}

std::vector<int> Bytes(const VectorQo<unsigned char>& v) {
  std::vector<int> out;
  for (int s = 0; s < v.rows * v.cols; ++s) out.push_back(v[s]);
  return out;
}

// Ten classes of whole numbers 0..4 in 24 features: many classes hold exactly half
// their values below a grid step (the coin's ties of the threshold scan). Classes 3 to
// 9 hold the values 0 and 4 in every feature, each as often, so any threshold between
// splits them evenly.
MVectorSampleSet::Rows TiedRows() {
  MVectorSampleSet::Rows rows(10);
  unsigned state = 2024u;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<float>((state >> 16) % 5u);
  };
  const int counts[3] = {8, 6, 10};
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < counts[c]; ++i) {
      std::vector<float> row;
      for (int f = 0; f < 24; ++f) row.push_back(f % 3 == 0 ? static_cast<float>((c + i) % 5) : next());
      rows[static_cast<size_t>(c)].push_back(row);
    }
  }
  for (int c = 3; c < 10; ++c) {
    for (int i = 0; i < c % 4 + 1; ++i) {
      rows[static_cast<size_t>(c)].push_back(std::vector<float>(24, 0.0f));
      rows[static_cast<size_t>(c)].push_back(std::vector<float>(24, 4.0f));
    }
  }
  return rows;
}

}  // namespace

TEST(PbtMSampleSetSplitTest, TwoActiveClassesOrOneVsRestGiveTheTrivialSplitWithoutFeatures) {
  ScopedMinClassSamples min(2);
  struct Case {
    const char* name;
    std::vector<std::vector<float>> values;
    bool oneVsRest;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {"two active of three", {{1, 2}, {3}, {4, 5, 6}}, false, {0, 1}},
      {"one-vs-rest", {{1, 2}, {3, 4}, {5, 6}, {7, 8}}, true, {0, 1, 1, 1}},
      {"one active", {{1, 2}, {3}}, false, {0}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<MVectorSampleSet> set(MVectorSampleSet::singleFeature(c.values));
    ResetUniformRandomForTesting();
    set->chooseClassSplit(VectorQo<double>(static_cast<int>(c.values.size()), 1.0), c.oneVsRest);
    EXPECT_EQ(Split(*set), c.expected) << c.name;
    EXPECT_EQ(set->tableSample()->computeCalls, 0) << c.name;
    EXPECT_EQ(UniformRandomDrawCountForTesting(), 0) << c.name;
  }
}

TEST(PbtMSampleSetSplitTest, HistogramsShareOneGridPerFeatureAndCountValues) {
  ScopedMinClassSamples min(1);
  MVectorSampleSet set({{{0, 7}, {2, 7}}, {{4, 7}, {2, 7}, {1, 7}}});
  VectorQo<double> prior(2);
  prior[0] = 0.3;
  prior[1] = 0.7;
  set.calculateAllFeatures();
  ResetUniformRandomForTesting();
  set.buildHistograms(prior);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4);  // one RF per class and feature
  const std::vector<PbtClassHistogram>& h = set.getHistograms();
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h[1].mass, 0.7);
  const RF& f0 = h[1].featureHist[0];
  EXPECT_EQ(f0.bins, 21);
  EXPECT_EQ(f0.min, 0.0);
  EXPECT_EQ(f0.width, 0.2);
  EXPECT_EQ(f0.Pdf(4.0), 1.0);
  EXPECT_EQ(f0.Pdf(2.0), 1.0);
  EXPECT_EQ(h[0].featureHist[0].Pdf(0.0), 1.0);
  // A constant feature: one bin of width 0 holding every value.
  const RF& f1 = h[0].featureHist[1];
  EXPECT_EQ(f1.bins, 1);
  EXPECT_EQ(f1.width, 0.0);
  EXPECT_EQ(f1.Pdf(7.0), 2.0);
  EXPECT_EQ(h[1].featureHist[1].Pdf(7.0), 3.0);
  set.deleteHistograms();
  EXPECT_TRUE(set.getHistograms().empty());
}

TEST(PbtMSampleSetSplitTest, BestSplitFindsTheFeatureThatSeparatesGroupsOfClasses) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(TwoGroupSet());
  const VectorQo<double> prior(4, 0.25);
  set->calculateAllFeatures();
  set->buildHistograms(prior);

  double score1 = 0, below = 0, above = 0;
  VectorQo<unsigned char> grouping;
  const double t1 = set->bestSplit(1, &score1, &below, &above, &grouping);
  EXPECT_EQ(Bytes(grouping), (std::vector<int>{0, 1, 0, 1}));
  // The first threshold past the low group that no class's values touch: x = 12.
  EXPECT_DOUBLE_EQ(t1, 12.0 + 2.0 / 2.1);
  EXPECT_NEAR(score1, std::log(2.0), 1e-12);
  EXPECT_DOUBLE_EQ(below, 0.5);
  EXPECT_DOUBLE_EQ(above, 0.5);

  double score0 = 0;
  set->bestSplit(0, &score0, &below, &above, nullptr);
  EXPECT_GT(score0, score1);

  set->chooseClassSplit(prior, false);
  EXPECT_EQ(Split(*set), (std::vector<int>{0, 1, 0, 1}));
  EXPECT_FALSE(set->featuresAreCached());
  EXPECT_TRUE(set->getHistograms().empty());
}

TEST(PbtMSampleSetSplitTest, AllClassesOnOneSideGetOneClassMovedOver) {
  ScopedMinClassSamples min(1);
  struct Case {
    const char* name;
    std::vector<std::vector<float>> values;
    int expectedPositives;
    double expectedScore;
  };
  const double ln3 = std::log(3.0);
  const Case cases[] = {
      // Constant feature: the one threshold is the value itself, every value lies
      // above it, every class goes positive, one is moved back.
      {"constant feature", {{5, 5}, {5, 5, 5}, {5}}, 2, ln3 + 0.25 + 0.65},
      // Three quarters of every class below the best threshold: all negative, one moved.
      {"mostly low", {{0, 0, 0, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}}, 1, ln3 + 0.65},
  };
  for (const Case& c : cases) {
    std::unique_ptr<MVectorSampleSet> set(MVectorSampleSet::singleFeature(c.values));
    const VectorQo<double> prior(3, 1.0 / 3);
    set->calculateAllFeatures();
    set->buildHistograms(prior);
    double score = 0, below = 0, above = 0;
    set->bestSplit(0, &score, &below, &above, nullptr);
    EXPECT_NEAR(score, c.expectedScore, 1e-12) << c.name;

    ResetUniformRandomForTesting();
    set->chooseClassSplit(prior, false);
    // 3 histograms, the split search's coin, the tie coin, the mover and its draw.
    EXPECT_EQ(UniformRandomDrawCountForTesting(), 7) << c.name;
    int positives = 0;
    for (int f : Split(*set)) positives += f;
    EXPECT_EQ(positives, c.expectedPositives) << c.name;
  }
}

TEST(PbtMSampleSetSplitTest, NoScorableStepLeavesADefinedLosingResult) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(MVectorSampleSet::singleFeature({{1, 2}, {3, 4}, {5}}));
  set->calculateAllFeatures();
  set->buildHistograms(VectorQo<double>(3, 0.0));  // every class mass 0
  double score = 0, below = -1, above = -1;
  VectorQo<unsigned char> grouping(3, 7);
  const double t = set->bestSplit(0, &score, &below, &above, &grouping);
  EXPECT_EQ(score, 1e10);
  EXPECT_EQ(t, 1.0);
  EXPECT_EQ(below, 0.0);
  EXPECT_EQ(above, 0.0);
  EXPECT_EQ(Bytes(grouping), (std::vector<int>{0, 0, 0}));

  // Without histograms for the feature: the same losing result and no draw.
  ResetUniformRandomForTesting();
  set->bestSplit(5, &score, &below, &above, &grouping);
  EXPECT_EQ(score, 1e10);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
}

// The features are scored on the workers; the draws of their searches are taken after
// them. The grouping and the random sequence must be those of the drawing search in
// the documented order: the histograms, every feature's bestSplit, the coin of the
// classes split evenly, the mover.
TEST(PbtMSampleSetSplitTest, SeveralWorkersChooseTheSplitAndTakeTheDrawsOfTheSearchInOrder) {
  ScopedMinClassSamples min(1);
  const MVectorSampleSet::Rows rows = TiedRows();
  VectorQo<double> prior(10);
  for (int c = 0; c < 10; ++c) prior[c] = (c + 1) / 55.0;

  // The reference, from the drawing operations one by one.
  std::vector<int> expected;
  long long expectedDraws = 0;
  int evenClasses = 0;
  long long searchDraws = 0;
  {
    MVectorSampleSet set(rows);
    ResetUniformRandomForTesting();
    set.calculateAllFeatures();
    set.buildHistograms(prior);
    int best = -1;
    double bestScore = 0.0, threshold = 0.0;
    for (int f = 0; f < set.numFeatures(); ++f) {
      const long long before = UniformRandomDrawCountForTesting();
      double score = 0, below = 0, above = 0;
      const double t = set.bestSplit(f, &score, &below, &above, nullptr);
      searchDraws += UniformRandomDrawCountForTesting() - before;
      if (best < 0 || score < bestScore) {
        best = f;
        bestScore = score;
        threshold = t;
      }
    }
    RF_uniform coin;
    coin.Init(0.0, 1.0, 1.0);
    for (const auto& cls : rows) {
      int below = 0, above = 0;
      for (const auto& row : cls) (row[static_cast<size_t>(best)] < threshold ? below : above) += 1;
      if (below == above) ++evenClasses;
      expected.push_back(below > above ? 0 : (below < above ? 1 : (coin.Draw() != 0.0 ? 1 : 0)));
    }
    RF_uniform pick;
    pick.Init(0.0, 9.0, 1.0);
    const int r = TruncToInt32(pick.Draw());
    int positives = 0;
    for (int v : expected) positives += v;
    if (positives == 0) expected[static_cast<size_t>(r)] = 1;
    if (positives == 10) expected[static_cast<size_t>(r)] = 0;
    expectedDraws = UniformRandomDrawCountForTesting();
  }
  // The case exercises what it should: ties in the scans and even classes at the end.
  EXPECT_GT(searchDraws, 24);
  EXPECT_EQ(evenClasses, 7);

  for (int workers : {1, 3, 8}) {
    ScopedWorkerCount count(workers);
    MVectorSampleSet set(rows);
    ResetUniformRandomForTesting();
    set.chooseClassSplit(prior, false);
    EXPECT_EQ(Split(set), expected) << workers << " workers";

    EXPECT_EQ(UniformRandomDrawCountForTesting(), expectedDraws) << workers << " workers";
  }
}
