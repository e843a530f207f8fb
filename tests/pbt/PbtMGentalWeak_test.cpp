#include "pbt/PbtMGentalWeak.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "numerics/UniformRandom.h"

namespace {

// A learner whose function k has the table values[k] on the grid 0, 1, 2, ...
std::unique_ptr<PbtMGentalWeak> Learner(const std::vector<std::vector<double>>& values) {
  std::unique_ptr<PbtMGentalWeak> weak(new PbtMGentalWeak());
  weak->functions.resize(values.size());
  for (size_t k = 0; k < values.size(); ++k) {
    PbtMfFuncion& fn = weak->functions[k];
    fn.slot = static_cast<int16_t>(k);
    fn.label = static_cast<int16_t>(2 * k);
    fn.responseTable.Init(0.0, static_cast<double>(values[k].size() - 1), 1.0);
    for (size_t b = 0; b < values[k].size(); ++b) fn.responseTable.pdf[static_cast<int>(b)] = values[k][b];
  }
  weak->fid.setDescription("feature x");
  return weak;
}

// Three classes on one feature: class 0 near 0, class 1 (too small to be active)
// and class 2 near 5, class 3 near 10.
std::unique_ptr<MVectorSampleSet> ThreeClassSet() {
  return std::unique_ptr<MVectorSampleSet>(
      MVectorSampleSet::singleFeature({{0.0f, 0.5f, 1.0f}, {5.0f}, {4.5f, 5.0f, 5.5f}, {9.0f, 9.5f, 10.0f}}));
}

// ThreeClassSet with its features cached (classes need two samples to be active)
// and training parameters for its feature.
struct CachedThreeClassSet {
  CachedThreeClassSet() {
    set->calculateAllFeatures();
    q.featureIndex = 0;
    q.fid = set->tableSample()->featurePool[0];
  }
  ScopedMinClassSamples minimum{2};
  std::unique_ptr<MVectorSampleSet> set = ThreeClassSet();
  PbtMGentalWeakParams q;
};

}  // namespace

TEST(PbtMGentalWeakTest, ClassResponseIsCentredOnTheMean) {
  const auto weak = Learner({{1.0, 0.5, -1.0}, {0.0, 0.5, 1.0}, {-1.0, 0.5, 1.0}});
  VectorQo<double> out;
  struct Case {
    float value;
    std::vector<double> expected;
  } cases[] = {
      {0.0f, {1.0, 0.0, -1.0}},
      {2.2f, {-4.0 / 3, 2.0 / 3, 2.0 / 3}},  // mean 1/3
      {1.0f, {0.0, 0.0, 0.0}},
      {7.0f, {0.0, 0.0, 0.0}},  // outside every grid: each contributes 0
  };
  for (const Case& c : cases) {
    weak->classResponse(out, c.value);
    ASSERT_EQ(out.cols, 3) << c.value;
    for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(out[k], c.expected[static_cast<size_t>(k)]) << c.value << " " << k;
  }
  // A class no function names keeps -2 before centring.
  const auto twice = Learner({{1.0}, {0.5}});
  twice->functions[1].slot = 0;
  twice->classResponse(out, 0.0f);
  EXPECT_DOUBLE_EQ(out[0], 0.5 - 0.75);
  EXPECT_DOUBLE_EQ(out[1], -2.0 - 0.75);
  // Without functions the response is empty.
  PbtMGentalWeak none;
  none.classResponse(out, 0.0f);
  EXPECT_EQ(out.cols, 0);
}

TEST(PbtMGentalWeakTest, BestClassTakesTheFirstOfEqualValues) {
  const auto weak = Learner({{0.5, -1e60}, {0.5, -1e60}, {0.25, -1e60}});
  EXPECT_EQ(weak->bestClassForValue(0.0f), 0);
  EXPECT_EQ(weak->bestClassForBin(0), 0);
  // Every value at or below -1e50: no class.
  EXPECT_EQ(weak->bestClassForValue(1.0f), -1);
  EXPECT_EQ(weak->bestClassForBin(1), -1);
  // Outside the grid every table reads 0: the first function.
  EXPECT_EQ(weak->bestClassForValue(5.0f), 0);
  EXPECT_EQ(weak->bestClassForBin(7), 0);
  EXPECT_EQ(weak->bestClassForBin(-1), 0);
  EXPECT_EQ(Learner({{0.1}, {0.2}, {0.3}})->bestClassForValue(0.0f), 2);
}

TEST(PbtMGentalWeakTest, TrainingFitsOneFunctionPerActiveClass) {
  CachedThreeClassSet f;
  PbtMGentalWeak weak;
  // The classes do not overlap: no error.
  EXPECT_EQ(weak.trainMulti(*f.set, f.q), 0.0f);
  EXPECT_STREQ(weak.getName(), "test feature 0");
  ASSERT_EQ(weak.functions.size(), 3u);
  const int labels[3] = {0, 2, 3};
  for (int k = 0; k < 3; ++k) {
    const PbtMfFuncion& fn = weak.functions[static_cast<size_t>(k)];
    EXPECT_EQ(fn.slot, k);
    EXPECT_EQ(fn.label, labels[k]);
    // Grid over 0..10 in 30 steps, widened by one step on each side.
    EXPECT_EQ(fn.responseTable.bins, 35);
    EXPECT_DOUBLE_EQ(fn.responseTable.min, -1.0 / 3);
    EXPECT_DOUBLE_EQ(fn.responseTable.width, 10.0 / 32);
    // Training data is released.
    EXPECT_EQ(fn.featureRow, nullptr);
    EXPECT_EQ(fn.classWeights, nullptr);
    EXPECT_EQ(fn.count, 0);
  }
  // Each class's values favour its own function; with equal class weights and three
  // samples per class every sample bin holds 2/9 of the in-class weight: the largest
  // difference, so the table reads 1 there.
  for (float v : {0.0f, 0.5f, 1.0f}) EXPECT_EQ(weak.bestClassForValue(v), 0) << v;
  for (float v : {4.5f, 5.5f}) EXPECT_EQ(weak.bestClassForValue(v), 1) << v;
  for (float v : {9.0f, 10.0f}) EXPECT_EQ(weak.bestClassForValue(v), 2) << v;
  EXPECT_DOUBLE_EQ(weak.functions[0].valueAt(0.0f), 1.0);
  EXPECT_DOUBLE_EQ(weak.functions[1].valueAt(0.0f), -1.0);

  // Overlapping classes: the error is the weight of the samples whose bin favours
  // another class. Class 0 gets a sample at 5, among class 2's.
  ScopedMinClassSamples none(1);
  std::unique_ptr<MVectorSampleSet> mixed(MVectorSampleSet::singleFeature({{0.0f, 5.0f}, {5.0f, 5.0f, 5.0f}}));
  mixed->calculateAllFeatures();
  PbtMGentalWeak other;
  // Bin of 5: class 0 has 2 x 1/4, class 1 2 x 1/2: it favours class 1; class 0's sample
  // there (weight 1/4) is the error.
  EXPECT_EQ(other.trainMulti(*mixed, f.q), 0.25f);
}

TEST(PbtMGentalWeakTest, ConstructionAndFunctionsTakeTheirDraws) {
  CachedThreeClassSet f;
  auto draws = [] { return UniformRandomDrawCountForTesting(); };
  ResetUniformRandomForTesting();
  PbtMGentalWeak weak;
  EXPECT_EQ(draws(), 2);
  weak.trainMulti(*f.set, f.q);
  EXPECT_EQ(draws(), 2 + 3);  // one function per active class
  weak.trainMulti(*f.set, f.q);
  EXPECT_EQ(draws(), 5);  // retraining keeps them
  std::unique_ptr<PbtClassifier> copy(weak.clone());
  EXPECT_EQ(draws(), 5 + 2 + 3);
  PbtMGentalWeak loaded;
  EXPECT_EQ(draws(), 12);
  ASSERT_TRUE(ReadRecord(loaded, RecordBytes(weak)));
  EXPECT_EQ(draws(), 12 + 3);
  loaded = weak;  // has its functions already
  EXPECT_EQ(draws(), 15);
}

TEST(PbtMGentalWeakTest, RecordRoundTripsByteForByte) {
  CachedThreeClassSet f;
  PbtMGentalWeak weak;
  weak.trainMulti(*f.set, f.q);
  const std::string rec = RecordBytes(weak);
  // fid, count, then per function slot, label and a 35-bin table.
  ASSERT_EQ(rec.size(), 143u + 4 + 3 * (4 + 28 + 8 * 35));
  int32_t n = 0;
  int16_t slot = 0, label = 0;
  std::memcpy(&n, &rec[143], 4);
  const size_t third = 147 + 2 * (4 + 28 + 8 * 35);
  std::memcpy(&slot, &rec[third], 2);
  std::memcpy(&label, &rec[third + 2], 2);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(slot, 2);
  EXPECT_EQ(label, 3);

  PbtMGentalWeak loaded;
  ASSERT_TRUE(ReadRecord(loaded, rec));
  EXPECT_EQ(RecordBytes(loaded), rec);
  std::unique_ptr<PbtClassifier> copy(weak.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  VectorQo<double> a, b;
  for (float v : {0.0f, 4.0f, 9.5f}) {
    weak.classResponse(a, v);
    loaded.classResponse(b, v);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a[k], b[k]) << v;
  }
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  ASSERT_EQ(features.size(), 1u);
  EXPECT_STREQ(features[0].description, "test feature 0");
}

TEST(PbtMGentalWeakTest, ForgedRecordsDoNotRead) {
  const std::string rec = RecordBytes(*Learner({{1.0, 0.5}, {0.0, 0.5}}));
  const size_t second = 147 + 4 + 28 + 16;
  ASSERT_EQ(rec.size(), second + 4 + 28 + 16);
  auto withInt = [&](size_t at, int32_t v) {
    std::string r = rec;
    std::memcpy(&r[at], &v, 4);
    return r;
  };
  auto withShort = [&](size_t at, int16_t v) {
    std::string r = rec;
    std::memcpy(&r[at], &v, 2);
    return r;
  };
  std::string unterminated = rec;
  std::memset(&unterminated[1], 'x', 100);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"cut before the count", rec.substr(0, 145)},
      {"cut inside a function", rec.substr(0, second + 10)},
      {"unterminated description", unterminated},
      {"negative count", withInt(143, -1)},
      {"more functions than bytes", withInt(143, 3)},
      {"more functions than int16 slots", withInt(143, 40000)},
      {"slot beyond the functions", withShort(second, 2)},
      {"negative slot", withShort(147, -1)},
      {"negative label", withShort(second + 2, -4)},
      {"more bins than masses", withInt(second + 4 + 8 + 16, 3)},
  };
  for (const Case& c : cases) {
    const auto weak = Learner({{0.25}});
    const std::string before = RecordBytes(*weak);
    EXPECT_FALSE(ReadRecord(*weak, c.bytes)) << c.name;
    EXPECT_EQ(RecordBytes(*weak), before) << c.name;
  }
}

TEST(PbtMGentalWeakDeathTest, TrainingOutsideItsContractEndsTheRun) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = ThreeClassSet();
  PbtMGentalWeakParams q;
  q.featureIndex = 0;
  PbtMGentalWeak weak;
  EXPECT_EXIT(weak.trainMulti(*set, q), testing::ExitedWithCode(1),
              "^PbtMGentalWeak: the sample set's features are not cached\n$");
  set->calculateAllFeatures();
  q.featureIndex = 1;
  EXPECT_EXIT(weak.trainMulti(*set, q), testing::ExitedWithCode(1),
              "^PbtMGentalWeak: feature row 1 is not among the set's 1 features\n$");
}
