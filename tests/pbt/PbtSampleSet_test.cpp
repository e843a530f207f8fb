#include "pbt/PbtSampleSet.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <utility>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "platform/NativePath.h"

namespace {

std::vector<double> Weights(PbtSampleSet& set, bool positive) {
  VectorQo<double>& w = set.getWeights(positive);
  std::vector<double> out;
  for (int i = 0; i < w.rows * w.cols; ++i) out.push_back(w[i]);
  return out;
}

void SetWeights(PbtSampleSet& set, bool positive, const std::vector<double>& values) {
  VectorQo<double>& w = set.getWeights(positive);
  w.SetSize(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) w[static_cast<int>(i)] = values[i];
}

VectorQo<double> Factors(const std::vector<double>& values) {
  VectorQo<double> v(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) v[static_cast<int>(i)] = values[i];
  return v;
}

struct Visit {
  bool positive;
  float value;
  double weight;
};

std::vector<Visit> Walk(PbtSampleSet& set) {
  std::vector<Visit> out;
  set.reset();
  while (set.hasNext()) {
    const bool positive = set.next();
    PbtSample* s = set.current();
    out.push_back({positive, s->getFeatureValue(s->featurePool[0]), set.currentWeight()});
  }
  return out;
}

}  // namespace

TEST(PbtSampleSetTest, ClassOrderEntriesIterateWithTheirWeights) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3, 4, 5}));
  EXPECT_EQ(set->numSamples(true), 2);
  EXPECT_EQ(set->numSamples(false), 3);
  EXPECT_EQ(set->numFeatures(), 1);
  EXPECT_EQ(set->getClassMass(true), 1.0);
  EXPECT_EQ(set->getClassMass(false), 1.0);
  EXPECT_FLOAT_EQ(set->weightSum(), 0.5f);
  const std::vector<Visit> visits = Walk(*set);
  ASSERT_EQ(visits.size(), 5u);
  const float values[] = {1, 2, 3, 4, 5};
  for (size_t e = 0; e < 5; ++e) {
    EXPECT_EQ(visits[e].positive, e < 2);
    EXPECT_EQ(visits[e].value, values[e]);
    EXPECT_DOUBLE_EQ(visits[e].weight, e < 2 ? 0.25 : 0.5 / 3);
  }
  EXPECT_EQ(std::string(set->getText()), "SampleSet Parameters\n numFeatures=1\n");
  EXPECT_EQ(set->tableSample()->featurePool[0].poolIndex, 0);
}

TEST(PbtSampleSetTest, CacheIsFeatureMajorAndServedWithoutComputing) {
  VectorSampleSet set({{1, 10}, {2, 20}}, {{3, 30}, {4, 40}, {5, 50}});
  EXPECT_EQ(set.getFeatureTable(true), nullptr);
  set.calculateAllFeatures();
  EXPECT_EQ(set.tableSample()->computeCalls, 10);
  float** pos = set.getFeatureTable(true);
  float** neg = set.getFeatureTable(false);
  ASSERT_NE(pos, nullptr);
  EXPECT_EQ(pos[1][0], 10);
  EXPECT_EQ(pos[1][1], 20);
  EXPECT_EQ(neg[0][2], 5);
  EXPECT_EQ(neg[1][1], 40);

  set.reset();
  set.next();
  set.next();
  set.next();
  PbtSample* s = set.current();
  EXPECT_TRUE(s->isCached());
  EXPECT_EQ(s->getFeatureValue(s->featurePool[1]), 30);
  EXPECT_EQ(set.tableSample()->computeCalls, 10);

  set.freeFeatures();
  EXPECT_EQ(set.getFeatureTable(true), nullptr);
  EXPECT_FALSE(set.tableSample()->isCached());
}

TEST(PbtSampleSetTest, SetWithoutNegativesCachesOnlyPositives) {
  VectorSampleSet set({{1, 2}, {3, 4}}, {});
  set.calculateAllFeatures();
  EXPECT_EQ(set.getFeatureTable(true)[1][1], 4);
  ASSERT_NE(set.getFeatureTable(false), nullptr);
  EXPECT_EQ(set.numSamples(false), 0);
}

// Whatever the entry order and whatever samples a filter drops, an entry's cached
// value is the value its sample computes, and its weight is its sample's weight.
TEST(PbtSampleSetTest, CachedValuesAndWeightsFollowTheirSamplesUnderReorderingAndFiltering) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    const int nPos = 1 + static_cast<int>(rng() % 9), nNeg = 1 + static_cast<int>(rng() % 9);
    std::vector<std::vector<float>> pos, neg;
    std::map<float, double> weightOf;  // raw weight by sample identity (feature 0)
    for (int i = 0; i < nPos; ++i) pos.push_back({100.0f + i, 0.5f * i});
    for (int j = 0; j < nNeg; ++j) neg.push_back({200.0f + j, -0.5f * j});
    VectorSampleSet set(pos, neg);
    std::vector<double> pw, nw;
    for (int i = 0; i < nPos; ++i) pw.push_back(weightOf[100.0f + i] = 1.0 + i);
    for (int j = 0; j < nNeg; ++j) nw.push_back(weightOf[200.0f + j] = 0.5 + 2 * j);
    SetWeights(set, true, pw);
    SetWeights(set, false, nw);

    auto shuffle = [&] {
      std::vector<std::pair<int, bool>> entries;
      for (int e = 0; e < set.numEntries(); ++e) entries.push_back({set.entrySampleAt(e), set.entryIsPositive(e)});
      std::shuffle(entries.begin(), entries.end(), rng);
      for (size_t e = 0; e < entries.size(); ++e) set.setEntry(static_cast<int>(e), entries[e].first, entries[e].second);
    };
    shuffle();
    if (round % 2 == 1) {
      // Random factors, some dropping their sample (0, negative, NaN).
      const double choices[] = {0.0, -1.0, std::nan(""), 0.5, 1.0, 2.0, 3.0};
      auto draw = [&](int n, float base) {
        std::vector<double> f;
        for (int i = 0; i < n; ++i) {
          f.push_back(choices[rng() % 7]);
          weightOf[base + i] *= f.back() > 0 ? f.back() : 0.0;
        }
        return Factors(f);
      };
      const VectorQo<double> pf = draw(nPos, 100.0f), nf = draw(nNeg, 200.0f);
      set.filterByWeights(pf, nf);
    }
    shuffle();
    set.calculateAllFeatures();
    shuffle();

    double total = 0.0;
    for (const auto& [id, w] : weightOf) total += w;
    const std::vector<Visit> visits = Walk(set);
    ASSERT_EQ(static_cast<int>(visits.size()), set.numSamples(true) + set.numSamples(false));
    for (const Visit& v : visits) {
      EXPECT_EQ(v.positive, v.value < 200.0f);
      const double expected = weightOf[v.value] / (round % 2 == 1 ? total : 1.0);
      EXPECT_NEAR(v.weight, expected, 1e-6 * expected) << "round " << round;
    }
    // The same samples computed directly, in compute mode.
    set.freeFeatures();
    const std::vector<Visit> computed = Walk(set);
    for (size_t e = 0; e < visits.size(); ++e) EXPECT_EQ(visits[e].value, computed[e].value);
  }
}

TEST(PbtSampleSetTest, FilterWithPositiveFactorsKeepsOrderScalesMassesAndNormalises) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3, 4, 5}));
  set->filterByWeights(Factors({2, 1}), Factors({1, 1, 3}));
  const std::vector<Visit> visits = Walk(*set);
  ASSERT_EQ(visits.size(), 5u);
  const double raw[] = {0.5, 0.25, 1.0 / 6, 1.0 / 6, 0.5};
  const double total = 0.75 + 5.0 / 6;
  for (size_t e = 0; e < 5; ++e) {
    EXPECT_EQ(visits[e].value, static_cast<float>(e + 1));
    EXPECT_NEAR(visits[e].weight, raw[e] / total, 1e-7);
  }
  EXPECT_NEAR(set->getClassMass(true), 1.5, 1e-7);
  EXPECT_NEAR(set->getClassMass(false), 5.0 / 3, 1e-7);
}

TEST(PbtSampleSetTest, FilterDropsSamplesRenumbersAndCompactsTheCache) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2, 3}, {4, 5}));
  SetWeights(*set, false, {0.0, 0.0});
  set->calculateAllFeatures();
  // Factor 0 drops positive 0; a missing factor drops negative 1.
  set->filterByWeights(Factors({0, 1, 1}), Factors({1}));
  EXPECT_EQ(set->numSamples(true), 2);
  EXPECT_EQ(set->numSamples(false), 1);
  EXPECT_EQ(set->getClassMass(false), 0.0);  // its old weights summed to 0
  float** pos = set->getFeatureTable(true);
  EXPECT_EQ(pos[0][0], 2);
  EXPECT_EQ(pos[0][1], 3);
  EXPECT_EQ(set->getFeatureTable(false)[0][0], 4);
  const std::vector<Visit> visits = Walk(*set);
  ASSERT_EQ(visits.size(), 3u);
  EXPECT_EQ(visits[0].value, 2);
  EXPECT_EQ(visits[2].value, 4);
}

TEST(PbtSampleSetTest, BalanceAndNormaliseWeights) {
  struct Case {
    const char* name;
    std::vector<double> pos, neg;
    float f;
    double posSum, negSum;
  } cases[] = {
      {"balanced", {0.1, 0.1}, {0.4, 0.4}, 0.5f, 0.5, 0.5},
      {"thirty percent", {0.2, 0.6}, {1.0}, 0.3f, 0.3, 0.7},
      {"empty negatives only normalise", {0.2, 0.6}, {0.0}, 0.3f, 1.0, 0.0},
      {"all zero stays zero", {0.0}, {0.0}, 0.5f, 0.0, 0.0},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature(std::vector<float>(c.pos.size(), 1),
                                                                       std::vector<float>(c.neg.size(), 2)));
    SetWeights(*set, true, c.pos);
    SetWeights(*set, false, c.neg);
    set->balanceWeights(c.f);
    double ps = 0, ns = 0;
    for (double w : Weights(*set, true)) ps += w;
    for (double w : Weights(*set, false)) ns += w;
    EXPECT_NEAR(ps, c.posSum, 1e-7) << c.name;
    EXPECT_NEAR(ns, c.negSum, 1e-7) << c.name;
  }
}

TEST(PbtSampleSetTest, CloneCopiesEntriesAndWeightsAndSharesTheSample) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3}));
  SetWeights(*set, true, {0.1, 0.7});
  set->setClassMass(false, 4.0);
  set->setEntry(0, 1, 1);
  set->setEntry(1, 0, 1);
  set->calculateAllFeatures();
  Walk(*set);  // leaves the shared sample in cache mode
  std::unique_ptr<PbtSampleSet> copy(set->clone());
  EXPECT_EQ(copy->getSampleObject(), set->getSampleObject());
  EXPECT_EQ(copy->getFeatureTable(true), nullptr);
  EXPECT_EQ(copy->getClassMass(false), 4.0);
  EXPECT_EQ(std::string(copy->getText()), "");
  // The copy computes through the shared sample although the original is cached.
  const std::vector<Visit> visits = Walk(*copy);
  ASSERT_EQ(visits.size(), 3u);
  EXPECT_EQ(visits[0].value, 2);
  EXPECT_EQ(visits[0].weight, 0.7);
  EXPECT_EQ(visits[1].value, 1);
  copy.reset();  // does not own the sample: the original still uses it
  EXPECT_EQ(Walk(*set)[0].value, 2);
}

TEST(PbtSampleSetTest, EntriesAreWrittenAndReadAtTheCursor) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3}));
  set->allocate(1, 2, 1);
  set->buildOrder();
  set->reset();
  set->next();
  set->next();
  set->setCurrentEntry(0, 1);
  int index = -1;
  uint16_t positive = 9;
  set->getCurrentEntry(index, positive);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(positive, 1);
  set->next();
  set->getCurrentEntry(index, positive);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(positive, 0);
  EXPECT_FALSE(set->hasNext());
  set->clear();
  EXPECT_EQ(set->getSampleObject(), nullptr);
  EXPECT_EQ(set->numEntries(), 0);
  set->reset();
  EXPECT_FALSE(set->hasNext());
}

TEST(PbtSampleSetTest, SaveSamplesCreatesBothFoldersAndWritesOnlyDrawnSamples) {
  TempFolder tmp;
  // Positives 1, 2, 3 and negatives 4, 5: the odd values draw.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2, 3}, {4, 5}));
  set->saveSamples(tmp.file("plain").c_str());  // the table sample draws nothing
  EXPECT_TRUE(PathExists(tmp.file("plain/pos")));
  EXPECT_TRUE(PathExists(tmp.file("plain/neg")));
  EXPECT_FALSE(PathExists(tmp.file("plain/pos/sample000000.tif")));
  set->saveSamples(nullptr);

  set->setSample(new DrawingSample());
  set->saveSamples(tmp.file("node").c_str());
  EXPECT_TRUE(PathExists(tmp.file("node/pos/sample000000.tif")));
  EXPECT_TRUE(PathExists(tmp.file("node/pos/sample000001.tif")));
  EXPECT_FALSE(PathExists(tmp.file("node/pos/sample000002.tif")));
  EXPECT_TRUE(PathExists(tmp.file("node/neg/sample000000.tif")));
  EXPECT_FALSE(PathExists(tmp.file("node/neg/sample000001.tif")));
  const ProcessResult py = RunPython(
      "import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
      "print(im.mode, im.size[0], im.size[1], im.getpixel((0, 0)))\n",
      {tmp.file("node/pos/sample000001.tif")});
  ASSERT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out, "L 3 2 3\n");  // the second drawn positive is the value 3
}

TEST(PbtSampleSetDeathTest, CacheAllocationFailureEndsTheRun) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1}, {2}));
  auto tooLarge = [&] {
    rlimit limit;
    limit.rlim_cur = limit.rlim_max = 1u << 30;
    setrlimit(RLIMIT_AS, &limit);
    set->allocate(1 << 28, 1, 0);
    set->calculateAllFeatures();
  };
  EXPECT_EXIT(tooLarge(), testing::ExitedWithCode(1), "^ERROR: out of memory \\(calculateAllFeatures\\)\n$");
#endif
}
