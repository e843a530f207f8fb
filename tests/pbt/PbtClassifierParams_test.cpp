#include "pbt/PbtClassifierParams.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtSampleSetParams.h"

namespace {
const char kDefaultTree[] =
    "BoostedTreeParams:\n"
    " numToTrain=500\n"
    " deepestDepth=1\n"
    " cascaseLevels=0\n"
    " samplesToSave=0\n"
    " epsilon=0.100000\n"
    " relErrorToStop=0.010000\n"
    " fracToStop=0.005000\n"
    " TwoClassClassifier: AdaBoost\n";
const char kDefaultAdaBoost[] = "AdaBoostParams:\n numWeak=0\n coding mode=0\n";
}  // namespace

TEST(PbtClassifierParamsTest, DescribeTexts) {
  PbtClassifierParams base;
  PbtSampleSetParams sampleSet;
  PbtAdaWeakParams weak;
  PbtAdaBoostParams ada;
  PbtClassTreeParams tree;
  PbtClassTreeParams realBoost;
  realBoost.twoClassClassifier = 1;
  PbtClassTreeParams unknownLearner;
  unknownLearner.twoClassClassifier = 2;
  PbtAdaBoostParams training;
  training.numWeak = 60;
  training.codingMode = 1;
  PbtClassTreeParams linked;
  linked.numToTrain = 2000;
  linked.deepestDepth = 7;
  linked.fracToStop = 0.03f;
  linked.learnerParams = &training;
  PbtClassifierParams* weakAsBase = &weak;

  struct Case {
    const char* name;
    std::string got, want;
  } cases[] = {
      {"base record", base.getText(), "Parameters"},
      {"sample-set record", sampleSet.describe(), "SampleSet Parameters\n"},
      {"weak-learner record", weakAsBase->getText(), "PbtAdaWeakParams"},
      {"default booster", ada.describe(), kDefaultAdaBoost},
      {"default tree", tree.describe(), kDefaultTree},
      {"RealBoost learner",
       realBoost.describe(),
       std::string(kDefaultTree).replace(std::string(kDefaultTree).find("AdaBoost"), 8, "RealBoost")},
      {"no learner line for 2", unknownLearner.describe(),
       std::string(kDefaultTree).substr(0, std::string(kDefaultTree).find(" TwoClass"))},
      {"tree with the driver's booster",
       linked.describe(),
       "BoostedTreeParams:\n numToTrain=2000\n deepestDepth=7\n cascaseLevels=0\n samplesToSave=0\n"
       " epsilon=0.100000\n relErrorToStop=0.010000\n fracToStop=0.030000\n TwoClassClassifier: AdaBoost\n"
       "AdaBoostParams:\n numWeak=60\n coding mode=1\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.name;
  // Describing again gives the same full text, not a longer one.
  EXPECT_EQ(std::string(linked.describe()), std::string(linked.getText()));
}

TEST(PbtClassifierParamsTest, DefaultsAndAssignment) {
  PbtClassTreeParams tree;
  EXPECT_EQ(tree.sampleThreshold(), 505);
  EXPECT_EQ(tree.verbose, 1);
  PbtAdaBoostParams ada;
  EXPECT_EQ(ada.codeBits, 8);
  EXPECT_EQ(ada.flag, 1);
  PbtAdaWeakParams weak;
  EXPECT_EQ(weak.numThresholds, -1);
  EXPECT_EQ(weak.featureIndex, -1);
  EXPECT_EQ(weak.fid.poolIndex, -1);

  PbtClassTreeParams source;
  source.logName = "log.txt";
  source.spare = 7;
  source.outputFolder = "out";
  source.learnerParams = &ada;
  source.path = {0, 2, 1};
  source.describe();
  tree = source;
  EXPECT_EQ(tree.logName, "log.txt");
  EXPECT_EQ(tree.spare, 7);
  EXPECT_EQ(tree.learnerParams, &ada);
  EXPECT_EQ(tree.path, source.path);
  EXPECT_EQ(std::string(tree.PbtClassifierParams::describe()), std::string(source.PbtClassifierParams::describe()));
}

TEST(WriteLogTest, AppendsToTheFileOrPrintsOnTheConsole) {
  TempFolder tmp;
  const std::string log = tmp.file("logfile.txt");
  WriteLog(log, FormatText("  Training %s with count:  pos=%i  neg=%i  (prep time=%.3fs)\n", "AdaBoost", 3, 4, 12.5));
  WriteLog(log.c_str(), "  i= 0  best=    2 e=0.125 test feature 2 (time=0.004s)\n");
  EXPECT_EQ(MaskTimes(ReadFileText(log)),
            "  Training AdaBoost with count:  pos=3  neg=4  (prep time=#s)\n"
            "  i= 0  best=    2 e=0.125 test feature 2 (time=#s)\n");

  const std::string missing = tmp.file("no/such/folder/log.txt");
  struct Case {
    const char* name;
    const char* file;
    std::string want;
  } cases[] = {
      {"null name", nullptr, "line one\n"},
      {"empty name", "", "line one\n"},
      {"missing folder", missing.c_str(), "Unable to open logfile: " + missing + "\n"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    WriteLog(c.file, "line one\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.want) << c.name;
  }
}
