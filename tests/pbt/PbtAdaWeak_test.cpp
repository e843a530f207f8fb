#include "pbt/PbtAdaWeak.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "PbtTestSets.h"
#include "PbtWeakLearnerContract.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtLog.h"

namespace {

// A single-feature set with cached features and the weak-learner record for it.
struct Fixture {
  Fixture(const std::vector<float>& pos, const std::vector<float>& neg, int thresholds = 30)
      : set(VectorSampleSet::singleFeature(pos, neg)) {
    set->calculateAllFeatures();
    params.numThresholds = thresholds;
    params.featureIndex = 0;
    params.fid = set->tableSample()->featurePool[0];
  }
  std::unique_ptr<VectorSampleSet> set;
  PbtAdaWeakParams params;
};

Matrix<short> Flags(const std::vector<short>& values) {
  VectorQo<short> v(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) v[static_cast<int>(i)] = values[i];
  return v;
}

struct AdaWeakKind {
  using Learner = PbtAdaWeak;
  using Params = PbtAdaWeakParams;
  using OtherParams = PbtAdaBoostParams;
  static constexpr const char* kName = "PbtAdaWeak";
  static constexpr const char* kCountName = "numThresholds";
  static constexpr int Params::*kCount = &PbtAdaWeakParams::numThresholds;
  static constexpr int kMaxCount = 124;  // every bin index fits in a signed byte
  static constexpr int kDrawsPerConstruction = 2;  // posHist and negHist
};

}  // namespace

// The parameter checks and the draws of every construction.
INSTANTIATE_TYPED_TEST_SUITE_P(AdaWeak, PbtWeakLearnerContractTest, AdaWeakKind);
INSTANTIATE_TYPED_TEST_SUITE_P(AdaWeak, PbtWeakLearnerContractDeathTest, AdaWeakKind);

TEST(PbtAdaWeakTest, SplitsTwoSeparatedClasses) {
  Fixture f({1, 2}, {3, 4});
  PbtAdaWeak stump;
  EXPECT_EQ(stump.train(f.set.get(), &f.params), 0.0f);
  EXPECT_EQ(stump.polarity, 0);
  EXPECT_EQ(FormatText("%.7f", stump.threshold), "2.1633930");
  EXPECT_EQ(stump.posHist.bins, 35);
  EXPECT_EQ(stump.negHist.bins, 35);
  EXPECT_FLOAT_EQ(stump.alpha, std::log(10.0f));
  EXPECT_STREQ(stump.getName(), "test feature 0");
  EXPECT_EQ(stump.classifyInSet(f.set.get(), 1, 1), 1.0f);
  EXPECT_EQ(stump.classifyInSet(f.set.get(), 0, 0), -1.0f);

  // Positives above: the flipped polarity wins.
  Fixture g({3, 4}, {1, 2});
  PbtAdaWeak flipped;
  EXPECT_EQ(flipped.train(g.set.get(), &g.params), 0.0f);
  EXPECT_EQ(flipped.polarity, 1);
}

TEST(PbtAdaWeakTest, UnsplittableFeaturesMakeTheStumpDegenerate) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::vector<float> pos, neg;
  } cases[] = {
      {"all equal", {5, 5}, {5}},
      {"infinite value", {1, inf}, {2}},
      {"only NaN", {std::nanf("")}, {std::nanf("")}},
  };
  for (const Case& c : cases) {
    Fixture f(c.pos, c.neg);
    PbtAdaWeak stump;
    EXPECT_EQ(stump.train(f.set.get(), &f.params), 0.5f) << c.name;
    EXPECT_EQ(stump.degenerate, 1) << c.name;
    EXPECT_EQ(stump.threshold, -1.0f) << c.name;
    EXPECT_EQ(stump.polarity, 0) << c.name;
    EXPECT_EQ(stump.train(f.set.get(), &f.params), 0.5f) << c.name;
  }
}

TEST(PbtAdaWeakTest, NotANumberValuesGetNoBin) {
  Fixture f({1, std::nanf(""), 2}, {3, 4});
  PbtAdaWeak stump;
  const float e = stump.train(f.set.get(), &f.params);
  EXPECT_NEAR(e, 0.0, 1e-7);
  EXPECT_GT(stump.threshold, 2.0f);
  EXPECT_LT(stump.threshold, 3.0f);
  EXPECT_EQ(stump.posBins[1], -1);
}

TEST(PbtAdaWeakTest, DecideAtAndAroundTheThreshold) {
  PbtAdaWeak stump;
  stump.threshold = 2.0f;
  struct Case {
    uint8_t polarity;
    float value, vote;
  } cases[] = {
      {0, 1.0f, 1.0f},  {0, 2.0f, 1.0f},  {0, 3.0f, -1.0f}, {0, std::nanf(""), -1.0f},
      {1, 1.0f, -1.0f}, {1, 2.0f, 1.0f},  {1, 3.0f, 1.0f},  {1, std::nanf(""), -1.0f},
  };
  for (const Case& c : cases) {
    stump.polarity = c.polarity;
    EXPECT_EQ(stump.decide(c.value), c.vote) << int(c.polarity) << " " << c.value;
  }
}

TEST(PbtAdaWeakTest, RetrainsWithNewWeightsAndPreparesAgainForOtherCounts) {
  Fixture f({1, 2, 3}, {2.5f, 4});
  PbtAdaWeak stump;
  const float first = stump.train(f.set.get(), &f.params);
  EXPECT_GT(first, 0.0f);
  // Almost no weight on the positive 3: the overlap no longer costs anything.
  VectorQo<double>& pw = f.set->getWeights(true);
  pw[2] = 0.0;
  EXPECT_LT(stump.train(f.set.get(), &f.params), first);
  // Dropping samples changes the counts: the stump bins the set afresh.
  VectorQo<double> keepPos(3, 1.0), keepNeg(2, 1.0);
  keepPos[2] = 0.0;
  f.set->filterByWeights(keepPos, keepNeg);
  EXPECT_NEAR(stump.train(f.set.get(), &f.params), 0.0, 1e-7);
  EXPECT_EQ(stump.posBins.size(), 2u);
}

TEST(PbtAdaWeakTest, CascadeFormsLeaveDecidedSamplesOut) {
  Fixture f({1, 2, 3}, {4, 5});
  PbtAdaWeak orStump;
  // OR form: the positive with flag > 0 is left out; its weight leaves the share.
  EXPECT_NEAR(orStump.trainVariant1(f.set.get(), &f.params, Flags({0, 0, 1}), Flags({0, 0})), 1.0 / 6, 1e-6);
  EXPECT_FLOAT_EQ(orStump.posShare, 2.0f / 3);
  EXPECT_FLOAT_EQ(orStump.negShare, 1.0f);
  EXPECT_GT(orStump.threshold, 2.0f);
  EXPECT_LT(orStump.threshold, 4.0f);
  // AND form: samples with flag <= 0 are left out.
  PbtAdaWeak andStump;
  EXPECT_NEAR(andStump.trainVariant2(f.set.get(), &f.params, Flags({1, 1, 1}), Flags({0, 1})), 0.25, 1e-6);
  EXPECT_FLOAT_EQ(andStump.posShare, 1.0f);
  EXPECT_FLOAT_EQ(andStump.negShare, 0.5f);
  // Plain training resets the shares.
  EXPECT_EQ(andStump.train(f.set.get(), &f.params), 0.0f);
  EXPECT_EQ(andStump.negShare, 1.0f);
}

TEST(PbtAdaWeakTest, ScanEndsWhenTheStepIsBelowFloatResolution) {
  // Values near 250000 a 32nd of their float spacing apart: t + width == t in float.
  Fixture f({250000.0f}, {250000.03125f});
  PbtAdaWeak stump;
  const float e = stump.train(f.set.get(), &f.params);
  EXPECT_GE(e, 0.0f);
  EXPECT_LE(e, 0.5f);
}

TEST(PbtAdaWeakTest, LargestThresholdCountKeepsEveryBinIndexInAByte) {
  Fixture f({0, 1}, {99, 100}, PbtAdaWeak::kMaxThresholds);
  PbtAdaWeak stump;
  EXPECT_EQ(stump.train(f.set.get(), &f.params), 0.0f);
  EXPECT_EQ(stump.negBins[1], 127);
}

TEST(PbtAdaWeakTest, CandidateBuiltWithoutDrawsTrainsToTheSameStump) {
  Fixture f({1, 2, 5}, {3, 4, 0.5f});
  ResetUniformRandomForTesting();
  PbtAdaWeak drawing;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  PbtAdaWeak quiet{WithoutDraw{}};
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  EXPECT_EQ(quiet.train(f.set.get(), &f.params), drawing.train(f.set.get(), &f.params));
  // Training draws nothing.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  EXPECT_EQ(RecordBytes(quiet), RecordBytes(drawing));
  EXPECT_EQ(quiet.posHist.bins, drawing.posHist.bins);
}

TEST(PbtAdaWeakTest, RecordIs153BytesAndRoundTrips) {
  Fixture f({1, 2}, {3, 4});
  PbtAdaWeak stump;
  stump.train(f.set.get(), &f.params);
  stump.fid.poolIndex = 17;
  const std::string rec = RecordBytes(stump);
  ASSERT_EQ(rec.size(), 153u);
  EXPECT_EQ(rec[143], 0);  // degenerate
  EXPECT_EQ(rec[144], 0);  // polarity
  float threshold, alpha;
  std::memcpy(&threshold, &rec[145], 4);
  std::memcpy(&alpha, &rec[149], 4);
  EXPECT_EQ(threshold, stump.threshold);
  EXPECT_EQ(alpha, stump.alpha);

  // Cloning and reading both reproduce the record; the copies answer without training.
  std::unique_ptr<PbtClassifier> clone(stump.clone());
  EXPECT_EQ(RecordBytes(*clone), rec);
  TempFolder tmp;
  const std::string file = tmp.file("stump.clf");
  ASSERT_TRUE(stump.save(file.c_str()));
  PbtAdaWeak loaded;
  ASSERT_TRUE(loaded.load(file.c_str()));
  EXPECT_EQ(RecordBytes(loaded), rec);
  EXPECT_EQ(loaded.prepared, 0);
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  ASSERT_EQ(features.size(), 1u);
  EXPECT_EQ(features[0].poolIndex, 17);
  // Compute mode: the feature is computed by the sample at its position.
  PbtSample* s = f.set->getSample(1, false);
  EXPECT_EQ(loaded.response(s), -1.0f);
  EXPECT_EQ(loaded.response(f.set->getSample(0, true)), 1.0f);
  VectorQo<double> post;
  loaded.posterior(s, post);
  EXPECT_EQ(post[0], 1.0);
  EXPECT_EQ(post[1], 0.0);
}

TEST(PbtAdaWeakTest, CorruptFilesDoNotLoad) {
  PbtAdaWeak good;
  good.threshold = 1.5f;
  good.polarity = 1;
  const std::string rec = RecordBytes(good);
  auto edit = [&](size_t at, char byte) {
    std::string r = rec;
    r[at] = byte;
    return r;
  };
  std::string unterminated = rec;
  std::memset(&unterminated[1], 'x', 100);
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"empty file", "", "Truncated or corrupt classifier file: "},
      {"cut inside the feature record", rec.substr(0, 100), "Truncated or corrupt classifier file: "},
      {"cut after the feature record", rec.substr(0, 143), "Truncated or corrupt classifier file: "},
      {"cut inside alpha", rec.substr(0, 152), "Truncated or corrupt classifier file: "},
      {"degenerate flag 7", edit(143, 7), "Truncated or corrupt classifier file: "},
      {"polarity 2", edit(144, 2), "Truncated or corrupt classifier file: "},
      {"unterminated description", unterminated, "Truncated or corrupt classifier file: "},
      {"a byte after the record", rec + std::string(1, '\0'), "Unexpected bytes after the classifier record: "},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    const std::string file = tmp.file("bad.clf");
    WriteFileText(file, c.bytes);
    PbtAdaWeak stump;
    const std::string before = RecordBytes(stump);
    std::string error;
    EXPECT_FALSE(stump.load(file.c_str(), &error)) << c.name;
    EXPECT_EQ(error, c.message + file) << c.name;
    if (std::string(c.message).find("Truncated") == 0) {
      EXPECT_EQ(RecordBytes(stump), before) << c.name;
    }
  }
}
