#include "app/TrainAutoContext.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "pbt/PbtFlags.h"

TEST(TrainAutoContextTest, TreeDepthGrowsWithTheLogarithmOfTheClassCount) {
  // ln K is held in single precision, so at powers of two the ceiling takes the next
  // whole number.
  const struct {
    int first, last, depth;
  } rows[] = {{1, 15, 7}, {16, 31, 8}, {32, 63, 9}, {64, 127, 11}, {128, 255, 12}};
  for (const auto& row : rows) {
    for (int K = row.first; K <= row.last; ++K) EXPECT_EQ(TreeDepthFor(K), row.depth) << "K = " << K;
  }
}

TEST(TrainAutoContextTest, MinimumClassSizeFollowsTheNumberOfVolumes) {
  const struct {
    int volumes, cap;
  } rows[] = {{0, 0}, {1, 100}, {10, 1000}, {14, 1400}, {15, 1500}, {20, 1500}, {100000, 1500}};
  for (const auto& row : rows) {
    EXPECT_EQ(SampleCapFor(row.volumes), row.cap) << row.volumes;
    EXPECT_EQ(MinClassSamplesFor(row.volumes), row.cap) << row.volumes;
  }
}

TEST(TrainAutoContextTest, NoIterationSetsOnlyTheFlags) {
  TempFolder tmp;
  gTypedClassifierFiles = 0;
  gTreeLayoutFlag = 0;
  gFeatureVersion = 0;
  gMinClassSamples = 50;
  gContextAvailable = 1;
  EXPECT_TRUE(TrainAutoContext(tmp.path() + "/target", 10, 2, 0, 1));
  EXPECT_EQ(gTypedClassifierFiles, 1);
  EXPECT_EQ(gTreeLayoutFlag, 1);
  EXPECT_EQ(gFeatureVersion, 1);
  EXPECT_EQ(gMinClassSamples, 1000);
  EXPECT_EQ(gContextAvailable, 1);
  std::string atlas = tmp.path() + "/target/atlas.3dm";
  for (char& c : atlas) c = c == '/' ? '\\' : c;
  EXPECT_EQ(gAtlasPath, atlas);
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/target"));
}
