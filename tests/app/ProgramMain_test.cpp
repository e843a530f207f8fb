#include "app/ProgramMain.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace {
const char* const kUsageLines[] = {
    "Usage: [-p structure] [-r testing] [source file] [target file] [-m path to the models] [-n number of structures]\n",
    "       [-t number of iterations] [-s smoothness]\n\n",
    "-r  0: perform segmentation/detection\n",
    "\t1: perform training\n",
    "[source file]: in testing, it points to the source file\n",
    "               in training, it points directory in which the training volumes are saved\n",
    "[target file]: in testing, it points to the target file\n",
    "               in training, it points directory in which the trained classifiers are saved\n",
    "-m  : directory of trained models \n",
    "-n  :  number of structures (only effective in training)\n",
    "-t  : number of iterations (default value 3, for '-r 1', it is the number of auto-context classifiers) \n",
    "-s  : smoothness factor (defalut=0.5, typical 0.0~2.0) \n",
};
}  // namespace

TEST(ProgramMainTest, UsageTextWithFewerThanTwoArguments) {
  std::string usage;
  for (const char* line : kUsageLines) usage += line;
  for (std::vector<std::string> argv : {std::vector<std::string>{SEGMENTER_EXE},
                                        std::vector<std::string>{SEGMENTER_EXE, "only-one"}}) {
    ProcessResult r = RunProcess(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
}

TEST(ProgramMainTest, TrainingCreatesNestedTargetThenReportsAMissingSource) {
  TempFolder tmp;
  ProcessResult r = RunProcess({SEGMENTER_EXE, "-r", "1", "src", "out/nested/target"}, tmp.path());
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() + "/out/nested/target"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No training subjects (names ending .brain.hdr) in src\n");
}

TEST(ProgramMainTest, SegmentationWithoutAModelFailsAndOtherModesDoNothing) {
  TempFolder tmp;
  ProcessResult seg = RunProcess({SEGMENTER_EXE, "in.img", "out.img"}, tmp.path());
  EXPECT_EQ(seg.status, 1);
  EXPECT_EQ(seg.out,
            "setting file: \\appearance\\setting.txt\n"
            "Cannot read the model settings \\appearance\\setting.txt: no such file\n");
  ProcessResult other = RunProcess({SEGMENTER_EXE, "-r", "2", "in.img", "out.img"}, tmp.path());
  EXPECT_EQ(other.status, 0);
  EXPECT_EQ(other.out, "");
}

TEST(ProgramMainTest, OverlongAtlasPathEndsWithStatusOne) {
  ProcessResult r = RunProcess({SEGMENTER_EXE, "-a", std::string(600, 'x'), "in.img", "out.img"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Atlas path is too long"), std::string::npos);
  EXPECT_EQ(r.out.find("not available"), std::string::npos);
}
