#include "pbt/PbtMfFuncion.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "numerics/UniformRandom.h"

namespace {

RF Histogram(const std::vector<double>& masses) {
  RF h;
  h.Init(1.0, masses.size(), 1.0);
  for (size_t i = 0; i < masses.size(); ++i) h.pdf[static_cast<int>(i)] = masses[i];
  return h;
}

}  // namespace

TEST(PbtMfFuncionTest, FitScalesTheDifferencesByTheLargest) {
  struct Case {
    const char* name;
    std::vector<double> pos, neg, expected;
  } cases[] = {
      {"largest difference 0.5", {0.5, 0.1, 0.0}, {0.0, 0.3, 0.0}, {1.0, -0.4, 0.0}},
      {"largest difference negative", {0.0, 0.2}, {0.8, 0.2}, {-1.0, 0.0}},
      {"differences within 1e-5 stay raw", {1e-6, 0.0}, {0.0, 3e-6}, {1e-6, -3e-6}},
      {"no difference", {0.25, 0.25}, {0.25, 0.25}, {0.0, 0.0}},
  };
  for (const Case& c : cases) {
    PbtMfFuncion fn;
    fn.fit(Histogram(c.pos), Histogram(c.neg));
    ASSERT_EQ(fn.responseTable.bins, static_cast<int>(c.expected.size())) << c.name;
    EXPECT_EQ(fn.responseTable.min, 1.0) << c.name;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_DOUBLE_EQ(fn.responseTable.pdf[static_cast<int>(i)], c.expected[i]) << c.name << " bin " << i;
    }
  }
}

TEST(PbtMfFuncionTest, ValuesOutsideTheGridAreZero) {
  PbtMfFuncion fn;
  fn.fit(Histogram({0.5, 0.0, 0.25}), Histogram({0.0, 0.5, 0.0}));
  // Grid 1, 2, 3: a value belongs to the bin whose centre is nearest.
  EXPECT_EQ(fn.valueAt(0.6f), 1.0);
  EXPECT_EQ(fn.valueAt(2.4f), -1.0);
  EXPECT_EQ(fn.valueAt(3.4f), 0.5);
  EXPECT_EQ(fn.valueAt(3.6f), 0.0);
  EXPECT_EQ(fn.valueAt(-1.0f), 0.0);
  EXPECT_EQ(fn.valueOfBin(2), 0.5);
  EXPECT_EQ(fn.valueOfBin(3), 0.0);
  EXPECT_EQ(fn.valueOfBin(-1), 0.0);
}

TEST(PbtMfFuncionTest, ConstructionTakesOneDrawAndCopiesNone) {
  ResetUniformRandomForTesting();
  PbtMfFuncion fn;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  PbtMfFuncion copy(fn);
  copy = fn;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
}
