#include "app/ProgramMain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "volume/HeapMatrix3D.h"

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

TEST(ProgramMainTest, RefusedTrainingLeavesNoFolderItCreated) {
  // The nested target is made for the run, then the source turns out to be empty:
  // every folder the run created goes again; a folder that was there stays.
  TempFolder tmp;
  std::filesystem::create_directories(tmp.path() + "/out");
  ProcessResult r = RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "src", "out/nested/target"}, tmp.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "No training subjects (names ending .brain.hdr) in src\n");
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/out/nested"));
  EXPECT_TRUE(std::filesystem::is_directory(tmp.path() + "/out"));
}

TEST(ProgramMainTest, SegmentationWithoutAModelFails) {
  TempFolder tmp;
  ProcessResult seg = RunProcess({SEGMENTER_EXE, "in.img", "out.img"}, tmp.path());
  EXPECT_EQ(seg.status, 1);
  EXPECT_EQ(seg.out,
            "setting file: \\appearance\\setting.txt\n"
            "Cannot read the model settings \\appearance\\setting.txt: no such file\n");
}

TEST(ProgramMainTest, OptionValuesTheRunCannotUseEndItBeforeAnythingIsWritten) {
  struct Case {
    std::vector<std::string> options;
    std::string line;
  };
  const std::string n = "the number of structures is a whole number from 1 to 253\n";
  const std::string t = "the number of iterations is a whole number from 1 to 20\n";
  const std::string sm = "the smoothness is a finite number of 0 or more\n";
  const std::string r = "the mode is 0 (segment) or 1 (train)\n";
  const Case cases[] = {
      {{"-r", "1", "-n", "99999999999"}, "Invalid value \"99999999999\" for -n: " + n},
      {{"-r", "1", "-n", "254"}, "Invalid value \"254\" for -n: " + n},
      {{"-r", "1", "-n", "0"}, "Invalid value \"0\" for -n: " + n},
      {{"-r", "1", "-n", "abc"}, "Invalid value \"abc\" for -n: " + n},
      {{"-r", "1", "-n", "2x"}, "Invalid value \"2x\" for -n: " + n},
      {{"-r", "1", "-n", "-2147483648"}, "Invalid value \"-2147483648\" for -n: " + n},
      {{"-r", "1"}, "Training needs -n, the number of structures: a whole number from 1 to 253\n"},
      {{"-r", "1", "-n", "2", "-t", "-1"}, "Invalid value \"-1\" for -t: " + t},
      {{"-r", "1", "-n", "2", "-t", "abc"}, "Invalid value \"abc\" for -t: " + t},
      {{"-r", "1", "-n", "2", "-t", "0"}, "Invalid value \"0\" for -t: " + t},
      {{"-r", "1", "-n", "2", "-t", "21"}, "Invalid value \"21\" for -t: " + t},
      {{"-r", "1", "-n", "2", "-t", "2147483647"}, "Invalid value \"2147483647\" for -t: " + t},
      {{"-s", "nan"}, "Invalid value \"nan\" for -s: " + sm},
      {{"-s", "inf"}, "Invalid value \"inf\" for -s: " + sm},
      {{"-s", "abc"}, "Invalid value \"abc\" for -s: " + sm},
      {{"-s", "-1e30"}, "Invalid value \"-1e30\" for -s: " + sm},
      {{"-s", "1e300"}, "Invalid value \"1e300\" for -s: " + sm},
      {{"-r", "2"}, "Invalid value \"2\" for -r: " + r},
      {{"-r", "255"}, "Invalid value \"255\" for -r: " + r},
      {{"-r", "train"}, "Invalid value \"train\" for -r: " + r},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    std::filesystem::create_directories(tmp.path() + "/src");
    std::vector<std::string> argv = {SEGMENTER_EXE};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    argv.push_back("src");
    argv.push_back("out");
    const ProcessResult run = RunProcess(argv, tmp.path());
    const std::string name = c.options.back();
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_EQ(run.out, c.line) << name;
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/out")) << name;
  }
}

TEST(ProgramMainTest, OverlongAtlasPathEndsWithStatusOne) {
  ProcessResult r = RunProcess({SEGMENTER_EXE, "-a", std::string(600, 'x'), "in.img", "out.img"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Atlas path is too long"), std::string::npos);
  EXPECT_EQ(r.out.find("not available"), std::string::npos);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // both reserve far more address space
TEST(ProgramMainTest, AnAllocationThatFailsEndsTheRunWithOneLine) {
  // A region competition on 80^3 voxels under address-space caps it does not fit in:
  // whichever allocation fails (a volume's block, a vector, a worker thread's stack),
  // the run ends with one line and status 1, never an abort or a crash.
  TempFolder tmp;
  const int n = 80;
  HeapMatrix3D<short> source;
  HeapMatrix3D<unsigned char> atlas;
  source.SetSize(n, n, n);
  atlas.SetSize(n, n, n);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        source[z][y][x] = static_cast<short>(10 + (x + y + z) % 200);
        atlas[z][y][x] = x > 20 && x < 60 ? 1 : 0;
      }
  ASSERT_TRUE(source.Save(tmp.file("src.3dm")));
  ASSERT_TRUE(atlas.Save(tmp.file("atlas.3dm")));
  const std::string volumeLine = "Can not allocate memory size of 80 x 80 x 80\n";
  const std::string memoryLine = "Out of memory: the run needs more memory than is available\n";
  for (const char* capKb : {"50000", "60000"}) {
    const ProcessResult r = RunProcess({"/bin/bash", "-c",
                                        std::string("ulimit -v ") + capKb + " && exec " + SEGMENTER_EXE +
                                            " -a atlas.3dm src.3dm out.3dm"},
                                       tmp.path());
    EXPECT_EQ(r.status, 1) << capKb << "\n" << r.out << r.err;
    const size_t last = r.out.rfind('\n', r.out.size() >= 2 ? r.out.size() - 2 : 0);
    const std::string lastLine = r.out.substr(last == std::string::npos ? 0 : last + 1);
    EXPECT_TRUE(lastLine == volumeLine || lastLine == memoryLine) << capKb << "\n" << r.out;
    EXPECT_FALSE(std::filesystem::exists(tmp.file("out.3dm"))) << capKb;
  }
}
#endif
