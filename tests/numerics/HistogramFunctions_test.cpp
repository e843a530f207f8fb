#include "numerics/HistogramFunctions.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "numerics/RF.h"

namespace {

RF WithMasses(const std::vector<double>& masses, double min = 0.0, double width = 1.0) {
  RF r;
  r.Init(min, min + width * (static_cast<double>(masses.size()) - 1), width);
  for (size_t i = 0; i < masses.size(); ++i) r.pdf[static_cast<int>(i)] = masses[i];
  return r;
}

}  // namespace

TEST(HistogramFunctionsTest, SignFunctions) {
  struct Case {
    double x;
    int sign;
  } cases[] = {{-2.5, -1}, {2.5, 1}, {0.0, 0}, {-0.0, 0}, {std::numeric_limits<double>::quiet_NaN(), 0}, {1e-30, 1}, {-1e30, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(c.x), c.sign) << c.x;
    EXPECT_EQ(SignOfFloat(static_cast<float>(c.x)), c.sign) << c.x;
  }
}

TEST(HistogramFunctionsTest, PeakSearches) {
  struct Case {
    const char* name;
    std::vector<double> masses;
    double top;
  } cases[] = {
      {"lower peak not higher", {0, 0.2, 0, 0.3, 0}, 3.5},
      {"higher peak two bins down", {0, 0.3, 0, 0.2, 0}, 1.5},
      {"higher peak nine bins down", {0, 0.3, 0, 0, 0, 0, 0, 0, 0, 0, 0.2, 0}, 10.5},
      {"higher peak seven bins down", {0, 0, 0, 0.3, 0, 0, 0, 0, 0, 0, 0.2, 0}, 3.5},
      {"no mass above 0.01", {0.005, 0.01, 0.002}, 0.5},
      {"top bin is never a peak", {0, 0, 0.5}, 0.5},
      {"empty", {}, 0.5},
  };
  for (const Case& c : cases) EXPECT_EQ(FindTopHistogramPeak(WithMasses(c.masses)), c.top) << c.name;

  EXPECT_EQ(HistogramPeakValue(WithMasses({1, 3, 3, 2}, 10.0, 2.0)), 13.0);  // first fullest bin
  RF empty;
  empty.min = 4.0;
  EXPECT_EQ(HistogramPeakValue(empty), 3.5);
}
