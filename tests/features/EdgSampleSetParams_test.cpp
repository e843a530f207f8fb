#include "features/EdgSampleSetParams.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EdgSampleSetParamsTest, DescribeGoldenTexts) {
  EdgSampleSetParams fresh;
  EXPECT_STREQ(fresh.describe(),
               "EdgSampleSetParams:\n"
               " dirTrainData=(null)\n"
               " dirTestData=(null)\n"
               " numTrain=0\n"
               " num training samples=-1\n"
               " radius=-1\n");

  // As the training driver fills it.
  EdgSampleSetParams filled;
  filled.dataFolder = "target";
  filled.dirTestData = "target";
  filled.numTrain = 12;
  filled.numCases = 12;
  filled.radius = 5;
  filled.numTrainingSamples = 8100;
  filled.stopFactor = 500;
  filled.sampleCap = 1200;
  EXPECT_STREQ(filled.describe(),
               "EdgSampleSetParams:\n"
               " dirTrainData=(null)\n"
               " dirTestData=target\n"
               " numTrain=12\n"
               " num training samples=8100\n"
               " radius=5\n");
  // Describing again starts afresh.
  EXPECT_EQ(std::string(filled.describe()).find("EdgSampleSetParams:", 1), std::string::npos);
}

TEST(EdgSampleSetParamsTest, LongFoldersAreKeptWhole) {
  const std::string folder(700, 'f');
  EdgSampleSetParams p;
  p.dirTrainData = folder.c_str();
  const std::string text = p.describe();
  EXPECT_NE(text.find(" dirTrainData=" + folder + "\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 11), " radius=-1\n");
}

TEST(EdgSampleSetParamsTest, SampleSetTextAppendsTheFeatureCount) {
  EdgSampleSetParams p;
  int n = -1;
  const std::string text = InitSampleSet(p, nullptr, &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(text, std::string(p.describe()) + " numFeatures=0\n");
}

}  // namespace
