#include "pbt/PbtRealWeak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>

#include "PbtTestSets.h"
#include "PbtWeakLearnerContract.h"

namespace {

// A single-feature set with cached features and the learner's record for it.
struct Fixture {
  Fixture(const std::vector<float>& pos, const std::vector<float>& neg)
      : set(VectorSampleSet::singleFeature(pos, neg)) {
    set->calculateAllFeatures();
    params.featureIndex = 0;
    params.fid = set->tableSample()->featurePool[0];
  }
  std::unique_ptr<VectorSampleSet> set;
  PbtRealWeakParams params;
};

const double kStrongPos = 0.5 * std::log(0.95 / 0.05);

struct RealWeakKind {
  using Learner = PbtRealWeak;
  using Params = PbtRealWeakParams;
  using OtherParams = PbtAdaWeakParams;
  static constexpr const char* kName = "PbtRealWeak";
  static constexpr const char* kCountName = "numBins";
  static constexpr int Params::*kCount = &PbtRealWeakParams::numBins;
  static constexpr int kMaxCount = 124;  // every bin index fits in a signed byte
  static constexpr int kDrawsPerConstruction = 3;  // responseTable, posHist and negHist
};

}  // namespace

// The parameter checks and the draws of every construction.
INSTANTIATE_TYPED_TEST_SUITE_P(RealWeak, PbtWeakLearnerContractTest, RealWeakKind);
INSTANTIATE_TYPED_TEST_SUITE_P(RealWeak, PbtWeakLearnerContractDeathTest, RealWeakKind);

// Two clusters far apart: the bins between them have no mass after smoothing, so
// their responses come from the distances to the two class means.
TEST(PbtRealWeakTest, ResponsesOfFullAndEmptyBins) {
  Fixture f({0.0f, 0.1f}, {9.9f, 10.0f});
  PbtRealWeak weak;
  // Each class puts its whole mass where the other has none: 0.05 of each half is lost.
  EXPECT_NEAR(weak.train(f.set.get(), &f.params), 0.05, 1e-7);
  EXPECT_EQ(weak.invalid, 0);
  EXPECT_EQ(weak.binned, 1);
  EXPECT_STREQ(weak.getName(), "test feature 0");
  // Grid of the histograms: 35 bins from -1/3 in steps of 10/32; the table has one more.
  EXPECT_EQ(weak.posHist.bins, 35);
  EXPECT_EQ(weak.responseTable.bins, 36);
  EXPECT_DOUBLE_EQ(weak.responseTable.min, -10.0 / 30);
  EXPECT_DOUBLE_EQ(weak.responseTable.width, 10.0 / 32);

  struct Case {
    float value;
    double response;
  } cases[] = {
      {0.05f, kStrongPos},                // positives only
      {10.0f, -kStrongPos},               // negatives only
      {2.0f, 0.5 * std::log(1.5)},        // empty, nearer the positive mean
      {5.0f, 0.0},                        // empty, within a bin of the middle
      {8.0f, 0.5 * std::log(2.0 / 3.0)},  // empty, nearer the negative mean
      {10.6f, 0.5 * std::log(2.0 / 3.0)},  // the table's extra top bin
      {-5.0f, 0.0},                       // outside the grid
      {100.0f, 0.0},
      {std::nanf(""), 0.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(weak.responseForValue(c.value), c.response, 1e-7) << c.value;
  }
  // Every stored response lies within the clamped log-odds.
  for (int i = 0; i < weak.responseTable.bins; ++i) {
    EXPECT_LE(std::fabs(weak.responseTable.pdf[i]), kStrongPos + 1e-12) << i;
  }
  // The response of a sample is that of its value of the feature.
  EXPECT_EQ(weak.response(f.set->getSample(0, true)), weak.responseForValue(0.0f));
  EXPECT_EQ(weak.probability(f.set->getSample(0, true)), 0.0f);
}

TEST(PbtRealWeakTest, WeightsShiftTheClassShare) {
  // Overlapping classes: where both have mass, q follows the weighted share.
  Fixture f({1, 2, 3}, {2, 3, 4});
  PbtRealWeak even, leaning;
  even.train(f.set.get(), &f.params);
  VectorQo<double>& pw = f.set->getWeights(true);
  for (int i = 0; i < 3; ++i) pw[i] *= 3;
  leaning.train(f.set.get(), &f.params);
  // At 2 both classes hold the same share of their mass: q is the class share c.
  EXPECT_NEAR(even.responseForValue(2.0f), 0.0, 1e-12);
  EXPECT_NEAR(leaning.responseForValue(2.0f), 0.5 * std::log(3.0), 1e-7);

  // Retraining reuses the bins and refills the histograms from the new weights.
  even.train(f.set.get(), &f.params);
  EXPECT_EQ(RecordBytes(even), RecordBytes(leaning));
}

TEST(PbtRealWeakTest, UnusableFeaturesMakeTheLearnerInvalid) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::vector<float> pos, neg;
  } cases[] = {
      {"all equal", {5, 5}, {5}},
      {"infinite value", {1, inf}, {2}},
      {"only NaN", {std::nanf("")}, {std::nanf("")}},
      {"no samples", {}, {}},
      // The grid step is below the float resolution at 1e6: the walk would not move.
      {"range below float resolution", {1e6f}, {1e6f + 0.0625f}},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(c.pos.empty() && c.neg.empty() ? new VectorSampleSet({}, {{0.0f}})
                                                                         : VectorSampleSet::singleFeature(c.pos, c.neg));
    if (c.pos.empty() && c.neg.empty()) {
      set->initWeights(0, 0, 0.5f);
      set->buildOrder();
    }
    set->calculateAllFeatures();
    PbtRealWeakParams params;
    params.featureIndex = 0;
    PbtRealWeak weak;
    EXPECT_EQ(weak.train(set.get(), &params), 0.5f) << c.name;
    EXPECT_EQ(weak.invalid, 1) << c.name;
    EXPECT_EQ(weak.responseForValue(1e6f), 0.0f) << c.name;
    EXPECT_EQ(weak.train(set.get(), &params), 0.5f) << c.name;
  }
}

TEST(PbtRealWeakTest, ZeroWeightsDoNotDivideByZero) {
  Fixture f({1, 2}, {3, 4});
  f.set->getWeights(true).Fill(0.0);
  f.set->getWeights(false).Fill(0.0);
  PbtRealWeak weak;
  // Empty histograms: every bin is an empty bin, decided by the means (both 0).
  EXPECT_EQ(weak.train(f.set.get(), &f.params), 0.0f);
  for (int i = 0; i < weak.responseTable.bins; ++i) EXPECT_TRUE(std::isfinite(weak.responseTable.pdf[i])) << i;
}

TEST(PbtRealWeakTest, RecordRoundTripsByteForByte) {
  Fixture f({0.0f, 0.1f, 4.0f}, {9.9f, 10.0f, 3.0f});
  PbtRealWeak weak;
  weak.train(f.set.get(), &f.params);
  const std::string rec = RecordBytes(weak);
  // fid, flag, then the table: 1 x 36 masses, bin count, minimum, width.
  ASSERT_EQ(rec.size(), 143u + 1 + 28 + 8 * 36);
  EXPECT_EQ(rec[143], 0);
  std::ostringstream table;
  weak.responseTable.WriteBinary(table);
  EXPECT_EQ(rec.substr(144), table.str());

  PbtRealWeak loaded;
  ASSERT_TRUE(ReadRecord(loaded, rec));
  EXPECT_EQ(RecordBytes(loaded), rec);
  EXPECT_EQ(loaded.binned, 0);
  for (float v : {0.0f, 2.0f, 3.0f, 10.0f}) EXPECT_EQ(loaded.responseForValue(v), weak.responseForValue(v)) << v;
  std::unique_ptr<PbtClassifier> clone(weak.clone());
  EXPECT_EQ(RecordBytes(*clone), rec);
  EXPECT_EQ(static_cast<PbtRealWeak&>(*clone).binned, 0);
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  ASSERT_EQ(features.size(), 1u);
  EXPECT_STREQ(features[0].description, "test feature 0");

  // An invalid learner keeps its flag and answers 0 whatever its table holds.
  PbtRealWeak invalid;
  invalid.invalid = 1;
  invalid.responseTable = weak.responseTable;
  PbtRealWeak reread;
  ASSERT_TRUE(ReadRecord(reread, RecordBytes(invalid)));
  EXPECT_EQ(reread.invalid, 1);
  EXPECT_EQ(reread.responseForValue(0.0f), 0.0f);
}

TEST(PbtRealWeakTest, ForgedRecordsDoNotRead) {
  PbtRealWeak good;
  good.responseTable.Init(0.0, 3.0, 1.0);  // 4 masses
  good.responseTable.pdf[2] = 0.25;
  const std::string rec = RecordBytes(good);
  ASSERT_EQ(rec.size(), 143u + 1 + 28 + 32);
  auto withInt = [&](size_t at, int32_t v) {
    std::string r = rec;
    std::memcpy(&r[at], &v, 4);
    return r;
  };
  std::string unterminated = rec;
  std::memset(&unterminated[1], 'x', 100);
  std::string flag2 = rec;
  flag2[143] = 2;
  const size_t rows = 144, cols = 148, bins = 152 + 32;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"cut inside the feature record", rec.substr(0, 100)},
      {"cut inside the table", rec.substr(0, 160)},
      {"cut inside the width", rec.substr(0, rec.size() - 1)},
      {"unterminated description", unterminated},
      {"invalid flag 2", flag2},
      {"two rows of masses", withInt(rows, 2)},
      {"negative rows", withInt(rows, -1)},
      {"negative columns", withInt(cols, -4)},
      {"more masses than bytes", withInt(cols, 0x7fffffff)},
      {"more bins than masses", withInt(bins, 5)},
      {"negative bins", withInt(bins, -1)},
  };
  for (const Case& c : cases) {
    PbtRealWeak weak;
    weak.fid.setDescription("kept");
    const std::string before = RecordBytes(weak);
    EXPECT_FALSE(ReadRecord(weak, c.bytes)) << c.name;
    EXPECT_EQ(RecordBytes(weak), before) << c.name;
  }
  // A table without masses is a valid record and reads back to the same bytes.
  PbtRealWeak empty;
  PbtRealWeak reread;
  ASSERT_TRUE(ReadRecord(reread, RecordBytes(empty)));
  EXPECT_EQ(RecordBytes(reread), RecordBytes(empty));
}
