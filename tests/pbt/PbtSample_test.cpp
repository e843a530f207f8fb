#include "pbt/PbtSample.h"

#include <gtest/gtest.h>

#include "PbtTestSets.h"

TEST(PbtSampleTest, ComputesEveryPoolFeatureInPoolOrder) {
  TableSample s(3);
  const std::vector<float> row = {1.5f, -2.0f, 7.25f};
  s.setPosition(&row);
  VectorQo<float> out;
  EXPECT_EQ(s.computeAllFeatures(out), 3);
  ASSERT_EQ(out.cols, 3);
  EXPECT_EQ(out[0], 1.5f);
  EXPECT_EQ(out[1], -2.0f);
  EXPECT_EQ(out[2], 7.25f);

  TableSample empty(0);
  EXPECT_EQ(empty.computeAllFeatures(out), 0);
  EXPECT_EQ(out.rows * out.cols, 0);
}

TEST(PbtSampleTest, CacheModeReadsTheTableInsteadOfComputing) {
  TableSample s(2);
  const std::vector<float> row = {1.0f, 2.0f};
  s.setPosition(&row);
  float row0[] = {10.0f, 11.0f, 12.0f};
  float row1[] = {20.0f, 21.0f, 22.0f};
  float* table[] = {row0, row1};
  s.featurePool[0].poolIndex = 1;  // the cache row follows poolIndex, not the pool position
  s.setCacheMode(table, 2);
  EXPECT_EQ(s.getFeatureValue(s.featurePool[0]), 22.0f);
  EXPECT_EQ(s.computeCalls, 0);
  s.clearCacheMode();
  EXPECT_EQ(s.getFeatureValue(s.featurePool[0]), 1.0f);
  EXPECT_EQ(s.computeCalls, 1);
}
