#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "pbt/PbtClassifier.h"

TEST(PbtClassifierMultiErrorTest, MaskedLabelsArePositiveTheOthersNegative) {
  ScopedMinClassSamples min(1);
  // The classifier's probability of a sample is its value; NaN is never an error.
  std::unique_ptr<MVectorSampleSet> set(
      MVectorSampleSet::singleFeature({{0.2f, 0.7f}, {0.5f, 0.4f}, {0.9f, NAN}}, {0.25f, 0.25f, 0.5f}));
  struct Case {
    const char* name;
    std::vector<bool> mask;
    bool weighted;
    float total, falsePos, falseNeg;
  };
  const Case cases[] = {
      {"weighted", {true, false, true}, true, 0.25f, 0.125f / 0.25f, 0.125f / 0.75f},
      {"counted totals are counts", {true, false, true}, false, 2.0f, 0.5f, 0.25f},
      {"labels past the mask are negative", {true, false}, false, 3.0f, 2.0f / 4, 0.5f},
  };
  ValueClassifier classifier;
  for (const Case& c : cases) {
    VectorQo<bool> mask(static_cast<int>(c.mask.size()));
    for (size_t k = 0; k < c.mask.size(); ++k) mask[static_cast<int>(k)] = c.mask[k];
    float fp = -1, fn = -1, total = -1;
    classifier.evaluateErrorMulti(set.get(), mask, &fp, &fn, &total, c.weighted);
    EXPECT_FLOAT_EQ(total, c.total) << c.name;
    EXPECT_FLOAT_EQ(fp, c.falsePos) << c.name;
    EXPECT_FLOAT_EQ(fn, c.falseNeg) << c.name;
  }

  // No positive label: the false-negative rate divides by 0.
  float fp = 0, fn = 0, total = 0;
  classifier.evaluateErrorMulti(set.get(), VectorQo<bool>(3, false), &fp, &fn, &total, false);
  EXPECT_FALSE(std::isfinite(fn));
  EXPECT_FLOAT_EQ(fp, 3.0f / 6);
}
