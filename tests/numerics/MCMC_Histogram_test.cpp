#include "numerics/MCMC_Histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "TestSupport.h"

namespace {

MCMC_Histogram WithMasses(std::initializer_list<double> masses, double min = 0.0, double width = 1.0) {
  MCMC_Histogram h;
  h.Resize(static_cast<int>(masses.size()));
  int i = 0;
  for (double m : masses) h.bins[i++] = m;
  h.min = min;
  h.width = width;
  return h;
}

}  // namespace

TEST(MCMC_HistogramTest, SetRangeSizesAndZeroes) {
  struct Case {
    double min, max, width;
    int count;
  } cases[] = {{0, 10, 1, 11}, {0, 10, 3, 4}, {-1, -1, 0.5, 1}, {2.5, 3.0, 0.25, 3}};
  for (const Case& c : cases) {
    MCMC_Histogram h;
    h.SetRange(c.min, c.max, c.width);
    EXPECT_EQ(h.count, c.count) << c.min << " " << c.max << " " << c.width;
    EXPECT_EQ(h.SerializedSize(), 2 * c.count + 8);
    for (double b : h.bins) EXPECT_EQ(b, 0.0);
  }
  // A range that gives fewer than one bin (or no finite count) keeps the old bins, zeroed.
  for (double width : {1.0, 0.0}) {
    MCMC_Histogram h = WithMasses({4, 5, 6});
    h.below = 1.0;
    h.SetRange(10, width == 0.0 ? 12 : 5, width);
    EXPECT_EQ(h.count, 3);
    EXPECT_EQ(h.bins[0] + h.bins[1] + h.bins[2] + h.below, 0.0);
    EXPECT_EQ(h.min, 10);
  }
  EXPECT_EQ(MCMC_Histogram().SerializedSize(), 8);
}

TEST(MCMC_HistogramTest, NormalizeIncludesOutOfRangeMassUnlessBare) {
  MCMC_Histogram h = WithMasses({1, 1});
  h.below = 2;
  h.Normalize();
  EXPECT_EQ(h.bins[0], 0.25);
  EXPECT_EQ(h.bins[1], 0.25);
  EXPECT_EQ(h.below, 0.5);

  MCMC_Histogram bare = WithMasses({1, 1});
  bare.below = 2;
  bare.bareNormalize = 1;
  bare.Normalize();
  EXPECT_EQ(bare.bins[0], 0.5);
  EXPECT_EQ(bare.bins[1], 0.5);
  EXPECT_EQ(bare.below, 2);

  MCMC_Histogram empty = WithMasses({0, 0});
  empty.Normalize();
  EXPECT_EQ(empty.bins[0], 0.0);
}

TEST(MCMC_HistogramTest, MomentsAndEntropy) {
  MCMC_Histogram h = WithMasses({0.5, 0.5}, 0.0, 2.0);
  EXPECT_EQ(h.Moment(1), 1.0);
  EXPECT_EQ(h.Moment(2), 1.0);
  // Masses 0.75 at 0 and 0.25 at 4: mean 1, third central moment 6, signed cube root.
  MCMC_Histogram skewed = WithMasses({0.75, 0.25}, 0.0, 4.0);
  EXPECT_NEAR(skewed.Moment(3), std::cbrt(6.0), 1e-12);
  MCMC_Histogram mirrored = WithMasses({0.25, 0.75}, 0.0, 4.0);
  EXPECT_NEAR(mirrored.Moment(3), -std::cbrt(6.0), 1e-12);

  // Natural logarithm, masses as they are, empty bins skipped.
  EXPECT_NEAR(WithMasses({0.5, 0.0, 0.5}).Entropy(), std::log(2.0), 1e-15);
  EXPECT_NEAR(WithMasses({2.0}).Entropy(), -2.0 * std::log(2.0), 1e-15);
}

TEST(MCMC_HistogramTest, AddSortsValuesIntoBinsAndOutOfRangeMasses) {
  MCMC_Histogram h;
  h.SetRange(0, 2, 1);  // bins for [0, 1), [1, 2), [2, 3)
  h.Add(0.99);
  h.Add(2.5, 2.0);
  h.Add(-0.01);
  h.Add(3.0);
  h.Add(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(h.bins[0], 1.0);
  EXPECT_EQ(h.bins[1], 0.0);
  EXPECT_EQ(h.bins[2], 2.0);
  EXPECT_EQ(h.below, 1.0);
  EXPECT_EQ(h.above, 1.0);

  MCMC_Histogram flat = WithMasses({0}, 5.0, 0.0);
  flat.Add(5.0);
  flat.Add(4.0);
  flat.Add(6.0);
  EXPECT_EQ(flat.bins[0], 1.0);
  EXPECT_EQ(flat.below, 1.0);
  EXPECT_EQ(flat.above, 1.0);
}

TEST(MCMC_HistogramTest, TextFormRoundTrips) {
  TempFolder tmp;
  std::string path = tmp.file("h.txt");
  MCMC_Histogram h = WithMasses({0.125, 3.0}, -1.5, 0.5);
  h.below = 0.25;
  h.above = 1.0 / 3.0;
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  h.WriteText(f);
  std::fclose(f);
  EXPECT_EQ(ReadFileText(path),
            "2\n-1.50000000000000\n0.50000000000000\n0.25000000000000\n0.33333333333333\n"
            "0.12500000000000\n3.00000000000000\n");

  MCMC_Histogram back = WithMasses({7, 7, 7});
  f = std::fopen(path.c_str(), "r");
  ASSERT_TRUE(back.ReadText(f));
  std::fclose(f);
  EXPECT_EQ(back.count, 2);
  EXPECT_EQ(back.min, -1.5);
  EXPECT_EQ(back.width, 0.5);
  EXPECT_EQ(back.bins[0], 0.125);
  EXPECT_EQ(back.bins[1], 3.0);
  EXPECT_NEAR(back.above, 1.0 / 3.0, 1e-14);

  // A count of 0 reads the fields and keeps the bins, as Resize(0) does.
  WriteFileText(path, "0\n2\n0.25\n1\n0\n");
  f = std::fopen(path.c_str(), "r");
  ASSERT_TRUE(back.ReadText(f));
  std::fclose(f);
  EXPECT_EQ(back.count, 2);
  ASSERT_EQ(back.bins.size(), 2u);
  EXPECT_EQ(back.bins[1], 3.0);
  EXPECT_EQ(back.min, 2.0);
  EXPECT_EQ(back.width, 0.25);
  EXPECT_EQ(back.below, 1.0);
}

TEST(MCMC_HistogramTest, ReadTextRejectsBadFilesAndKeepsTheHistogram) {
  struct Case {
    const char* name;
    const char* text;
  } cases[] = {
      {"empty file", ""},
      {"negative count", "-1\n0\n1\n0\n0\n"},
      {"missing field", "2\n0\n1\n0\n"},
      {"fewer masses than counted", "3\n0\n1\n0\n0\n0.5\n0.5\n"},
      {"count far beyond the file", "2000000000\n0\n1\n0\n0\n1\n"},
      {"malformed mass", "1\n0\n1\n0\n0\nabc\n"},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    std::string path = tmp.file("bad.txt");
    WriteFileText(path, c.text);
    MCMC_Histogram h = WithMasses({1, 2}, 3.0, 4.0);
    std::FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(h.ReadText(f)) << c.name;
    std::fclose(f);
    EXPECT_EQ(h.count, 2) << c.name;
    EXPECT_EQ(h.bins[1], 2.0) << c.name;
    EXPECT_EQ(h.min, 3.0) << c.name;
  }
}

TEST(MCMC_HistogramTest, ReleaseEmptiesButKeepsTheNormalisationMode) {
  MCMC_Histogram h = WithMasses({1, 2});
  h.below = 1;
  h.spare = 4;
  h.bareNormalize = 1;
  h.Release();
  EXPECT_EQ(h.count, 0);
  EXPECT_TRUE(h.bins.empty());
  EXPECT_EQ(h.below + h.spare + h.min + h.width, 0.0);
  EXPECT_EQ(h.bareNormalize, 1);
  h.Resize(0);
  EXPECT_EQ(h.count, 0);
}
