#include "pbt/PbtClassifier.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtClassifierFactory.h"

namespace {

// A classifier with a fixed probability and a 4-byte record (that probability).
class FixedClassifier : public PbtClassifier {
 public:
  explicit FixedClassifier(float p = 0.0f) : p_(p) {}
  PbtClassifier* create() const override { return new FixedClassifier(); }
  void write(BinaryWriter& out) const override { out.f32(p_); }
  bool read(BinaryReader& in) override {
    float p;
    if (!in.f32(p)) return false;
    p_ = p;
    return true;
  }
  float probability(PbtSample*) override { return p_; }
  void collectFeatures(std::vector<PbtFid>&) const override {}
  float p() const { return p_; }

 private:
  float p_;
};

}  // namespace

TEST(PbtClassifierTest, BaseBehaviour) {
  FixedClassifier c(0.75f);
  EXPECT_EQ(c.response(nullptr), 0.5f);
  EXPECT_EQ(FixedClassifier(0.5f).response(nullptr), 0.0f);
  VectorQo<double> post;
  FixedClassifier(1.0f).posterior(nullptr, post);
  ASSERT_EQ(post.cols, 2);
  EXPECT_EQ(post[0], 0.0);
  EXPECT_EQ(post[1], 1.0);
  EXPECT_EQ(c.train(nullptr, nullptr), 0.0f);
  EXPECT_EQ(c.probabilityInSet(nullptr, 1, 0), 0.5f);
  EXPECT_EQ(c.classifyInSet(nullptr, 0, 0), 1.0f);
  EXPECT_EQ(c.score(nullptr), 0.0f);
  EXPECT_STREQ(c.getName(), "Classifier");
  EXPECT_EQ(c.typeCode(), 0);
  EXPECT_EQ(c.clone(), nullptr);
}

TEST(PbtClassifierDeathTest, ThresholdChangesAreNotImplementedInTheBase) {
  FixedClassifier c;
  EXPECT_EXIT(c.changeToHaveFalseNeg(nullptr, 0.1f), testing::ExitedWithCode(1),
              "^changeToHaveFalseNeg: Not implemented!\n$");
  EXPECT_EXIT(c.changeToHaveFalsePos(nullptr, 0.1f), testing::ExitedWithCode(1),
              "^changeToHaveFalseNeg: Not implemented!\n$");
}

TEST(PbtClassifierTest, SaveAndLoadFiles) {
  TempFolder tmp;
  const std::string file = tmp.file("clf");
  std::string error;
  ASSERT_TRUE(FixedClassifier(0.25f).save(file.c_str(), &error));
  EXPECT_EQ(ReadFileBytes(file).size(), 4u);
  FixedClassifier loaded(0.9f);
  ASSERT_TRUE(loaded.load(file.c_str(), &error));
  EXPECT_EQ(loaded.p(), 0.25f);

  const std::string missingFolder = tmp.file("none/clf");
  EXPECT_FALSE(loaded.save(missingFolder.c_str(), &error));
  EXPECT_EQ(error, "Unable to write classifier file: " + missingFolder);
  EXPECT_FALSE(std::filesystem::exists(tmp.file("none")));

  const std::string missing = tmp.file("absent");
  EXPECT_FALSE(loaded.load(missing.c_str(), &error));
  EXPECT_EQ(error, "Unable to open classifier file: " + missing);
  EXPECT_EQ(loaded.p(), 0.25f);
}

TEST(PbtClassifierTest, EvaluateErrorWeightedAndCounted) {
  // The probability of a sample is its value: positives 0.9, 0.2 (a false negative),
  // NaN (counts as correct); negatives 0.5 (a false positive: 0.5 calls positive), 0.1.
  std::unique_ptr<VectorSampleSet> set(
      VectorSampleSet::singleFeature({0.9f, 0.2f, std::nanf("")}, {0.5f, 0.1f}));
  VectorQo<double>& pw = set->getWeights(true);
  pw[0] = 0.1;
  pw[1] = 0.2;
  pw[2] = 0.1;
  VectorQo<double>& nw = set->getWeights(false);
  nw[0] = 0.3;
  nw[1] = 0.3;
  ValueClassifier c;
  float fp = -1, fn = -1, total = -1;
  c.evaluateError(set.get(), &fp, &fn, &total, true);
  EXPECT_FLOAT_EQ(total, 0.5f);
  EXPECT_FLOAT_EQ(fn, 0.5f);
  EXPECT_FLOAT_EQ(fp, 0.5f);
  c.evaluateError(set.get(), &fp, &fn, &total, false);
  EXPECT_FLOAT_EQ(total, 2.0f / 5);
  EXPECT_FLOAT_EQ(fn, 1.0f / 3);
  EXPECT_FLOAT_EQ(fp, 0.5f);

  // Every sample at exactly 0.5: every negative is a false positive, no positive a
  // false negative. An empty class gives a non-finite rate, not a failure.
  std::unique_ptr<VectorSampleSet> half(VectorSampleSet::singleFeature({0.5f, 0.5f}, {0.5f}));
  c.evaluateError(half.get(), &fp, &fn, &total, false);
  EXPECT_EQ(fp, 1.0f);
  EXPECT_EQ(fn, 0.0f);
  std::unique_ptr<VectorSampleSet> noNeg(VectorSampleSet::singleFeature({0.7f}, {}));
  c.evaluateError(noNeg.get(), &fp, &fn, &total, false);
  EXPECT_TRUE(std::isnan(fp));
  EXPECT_EQ(total, 0.0f);
}

TEST(PbtClassifierFactoryTest, CodesCreateTheirClassesOrNothing) {
  struct Case {
    int code;
    bool node;
    bool created;
  } cases[] = {
      {1, false, true},  {2, false, true},  {3, false, true},  {4, false, true},
      {5, false, true},  {0, false, false}, {6, false, false}, {255, false, false},
      {0, true, true},   {1, true, true},   {2, true, true},   {3, true, true},
      {4, true, false},  {-1, true, false},
  };
  for (const Case& c : cases) {
    std::unique_ptr<PbtClassifier> made(c.node ? PbtClassifierFactory::createNodeClassifier(c.code)
                                               : PbtClassifierFactory::createForTypeCode(c.code));
    EXPECT_EQ(made != nullptr, c.created) << (c.node ? "node code " : "type code ") << c.code;
    if (made && !c.node) {
      EXPECT_EQ(made->typeCode(), c.code);
    }
  }
}

TEST(PbtClassifierFactoryTest, TypedMembersRoundTripAndUnknownCodesFailCleanly) {
  PbtAdaWeak stump;
  stump.threshold = 2.5f;
  stump.polarity = 1;
  std::ostringstream out;
  BinaryWriter w(out);
  PbtClassifierFactory::writeTypedMember(w, stump);
  const std::string bytes = out.str();
  ASSERT_EQ(bytes.size(), 154u);
  EXPECT_EQ(bytes[0], 1);
  {
    std::istringstream in(bytes);
    BinaryReader r(in);
    std::unique_ptr<PbtClassifier> back(PbtClassifierFactory::readTypedMember(r));
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(RecordBytes(*back), bytes.substr(1));
  }
  for (const std::string& bad : {std::string("\x04") + bytes.substr(1), std::string("\x00", 1) + bytes.substr(1),
                                 bytes.substr(0, 100), std::string()}) {
    std::istringstream in(bad);
    BinaryReader r(in);
    EXPECT_EQ(PbtClassifierFactory::readTypedMember(r), nullptr);
    EXPECT_FALSE(r.ok());
  }
}
