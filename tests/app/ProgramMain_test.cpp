#include "app/ProgramMain.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TrainedModelFixture.h"
#include "platform/Fatal.h"
#include "platform/FolderClaim.h"
#include "platform/FolderCommands.h"
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

// Starts one process per command line at the same moment (each waits on a pipe that
// closes once all exist) in `workDir`, and collects each one's status and output.
std::vector<ProcessResult> RunTogether(const std::vector<std::vector<std::string>>& commands,
                                       const std::string& workDir) {
  TempFolder capture;
  int gate[2];
  if (pipe(gate) != 0) return {};
  std::fflush(nullptr);
  std::vector<pid_t> children;
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::string out = capture.file("out" + std::to_string(i));
    const std::string err = capture.file("err" + std::to_string(i));
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char byte;
      while (read(gate[0], &byte, 1) > 0) {
      }
      const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (outFd < 0 || errFd < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0 || chdir(workDir.c_str()) != 0) _exit(127);
      std::vector<char*> args;
      for (const std::string& a : commands[i]) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  std::vector<ProcessResult> results(commands.size());
  for (size_t i = 0; i < children.size(); ++i) {
    int status = 0;
    if (children[i] < 0 || waitpid(children[i], &status, 0) < 0) continue;
    results[i].status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    results[i].out = ReadFileText(capture.file("out" + std::to_string(i)));
    results[i].err = ReadFileText(capture.file("err" + std::to_string(i)));
  }
  return results;
}

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

TEST(ProgramMainTest, HeaderRefusedOnTheFatalPathLeavesNoFolderItCreated) {
  // The second subject's header is refused where the volume is read, which ends the run
  // through the fatal helper: the nested target and its parents, all made by the run and
  // still empty, go again.
  struct Case {
    const char* name;
    std::function<void(const std::string& src)> spoil;
    std::string err;
  };
  const std::string second = "src/hippocampus_003";
  const Case cases[] = {
      {"sizeof_hdr 0",
       [](const std::string& src) {
         std::vector<uint8_t> header = ReadFileBytes(src + "/hippocampus_003.brain.hdr");
         std::fill(header.begin(), header.begin() + 4, 0);
         WriteFileBytes(src + "/hippocampus_003.brain.hdr", header);
       },
       "P: invalid header for file src\\hippocampus_003.brain.hdr\n"},
      {"bitpix 32",
       [](const std::string& src) {
         std::vector<uint8_t> header = ReadFileBytes(src + "/hippocampus_003.brain.hdr");
         header[72] = 32;  // little-endian 16-bit field at offset 72
         header[73] = 0;
         WriteFileBytes(src + "/hippocampus_003.brain.hdr", header);
       },
       "P: cannot read 32 bit/pixel data from file src\\hippocampus_003.brain.hdr\n"},
      {"missing label header",
       [](const std::string& src) { std::filesystem::remove(src + "/hippocampus_003.label.hdr"); },
       "P: unable to open input file src/hippocampus_003.label.hdr\n"},
      {"folder for the label header",
       [](const std::string& src) {
         std::filesystem::remove(src + "/hippocampus_003.label.hdr");
         std::filesystem::create_directory(src + "/hippocampus_003.label.hdr");
       },
       "P: unable to open input file src/hippocampus_003.label.hdr\n"},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    CopyTwoExampleSubjects(tmp.file("src"));
    c.spoil(tmp.file("src"));
    const ProcessResult r =
        RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", "a/b/c"}, tmp.path());
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(MaskSourceLines(r.err), c.err) << c.name;
    EXPECT_FALSE(std::filesystem::exists(tmp.file("a"))) << c.name;
  }
}

TEST(ProgramMainTest, TwoTrainingsStartedTogetherIntoOneNewTargetLetOneWin) {
  // The run that claims the target first trains it exactly as a run alone does; the
  // other ends with one line naming the folder and status 1, and changes nothing there.
  TempFolder tmp;
  CopyTwoExampleSubjects(tmp.file("src"));
  const std::vector<std::string> train = {SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", tmp.file("src"), "t"};
  std::filesystem::create_directory(tmp.file("alone"));
  const ProcessResult alone = RunProcess(train, tmp.file("alone"));
  ASSERT_EQ(alone.status, 0) << alone.out << alone.err;
  const std::map<std::string, std::string> expected = TreeContents(tmp.file("alone/t"));
  ASSERT_TRUE(expected.count("training_done.txt"));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const int rounds = 1;  // a training there takes about ten times as long
#else
  const int rounds = 2;
#endif
  for (int round = 0; round < rounds; ++round) {
    const std::string pair = tmp.file("pair" + std::to_string(round));
    std::filesystem::create_directory(pair);
    const std::vector<ProcessResult> runs = RunTogether({train, train}, pair);
    ASSERT_EQ(runs.size(), 2u);
    const int winner = runs[0].status == 0 ? 0 : 1;
    const ProcessResult& won = runs[static_cast<size_t>(winner)];
    const ProcessResult& lost = runs[static_cast<size_t>(1 - winner)];
    EXPECT_EQ(won.status, 0) << "round " << round;
    EXPECT_EQ(MaskTimeFields(won.out), MaskTimeFields(alone.out)) << "round " << round;
    EXPECT_EQ(lost.status, 1) << "round " << round;
    EXPECT_TRUE(lost.out == "The target folder t is in use by another training\n" ||
                lost.out == "The target folder t exists and is not empty; train into a new folder\n")
        << "round " << round << ": " << lost.out;
    EXPECT_EQ(lost.err, "") << "round " << round;
    const std::map<std::string, std::string> written = TreeContents(pair + "/t");
    for (const auto& [name, bytes] : written)
      EXPECT_TRUE(expected.count(name) && expected.at(name) == bytes) << "round " << round << ": " << name;
    EXPECT_EQ(written.size(), expected.size()) << "round " << round;
  }
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

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // both reserve far more address space
// A training that meets a limit of the system ends with status 1 and a last line that
// names what ran out, after the cleanup of a failed run: no node folders, no tree side
// file, no empty folder. Eight workers, so that the address space a run needs does not
// follow the machine's cores (it needs 0.6 to 1 GB with them).
TEST(ProgramMainTest, ATrainingThatMeetsALimitEndsCleanlyNamingIt) {
  const char* memory[] = {"Memory allocation Error !", "ERROR: out of memory (calculateAllFeatures)",
                          "Out of memory: the run needs more memory than is available", "Can not allocate memory"};
  const struct Case {
    const char* limit;
    std::vector<std::string> lastLines;  // the last line starts with one of them
  } cases[] = {
      {"ulimit -v 60000", {std::begin(memory), std::end(memory)}},
      {"ulimit -v 100000", {std::begin(memory), std::end(memory)}},
      {"ulimit -v 200000", {std::begin(memory), std::end(memory)}},
      {"ulimit -v 300000", {std::begin(memory), std::end(memory)}},
      {"ulimit -f 8", {"Unable to write T/mri_intensity_common.3dm"}},
  };
  TempFolder tmp;
  CopyTwoExampleSubjects(tmp.file("subjects"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    std::filesystem::remove_all(tmp.file("runs"));
    std::filesystem::create_directories(tmp.file("runs"));
    const ProcessResult r = RunProcess({"/usr/bin/env", "SEGMENTER_WORKERS=8", "/bin/bash", "-c",
                                        std::string(c.limit) + "; exec \"$0\" \"$@\"", SEGMENTER_EXE, "-r", "1",
                                        "-n", "2", "-t", "2", "../subjects", "T"},
                                       tmp.file("runs"));
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string all = r.out + r.err;
    const size_t start = all.rfind('\n', all.size() >= 2 ? all.size() - 2 : 0);
    const std::string lastLine = all.substr(start == std::string::npos ? 0 : start + 1);
    bool named = false;
    for (const std::string& line : c.lastLines) named = named || lastLine.compare(0, line.size(), line) == 0;
    EXPECT_TRUE(named) << lastLine;
    EXPECT_EQ(Debris(tmp.file("runs")), std::vector<std::string>{});
  }
}
#endif

namespace {

// Three more volumes beside the fixture's, named as a shell pattern would list them.
class CommandLines : public TrainedModelFixture {
 protected:
  static void SetUpTestSuite() {
    TrainedModelFixture::SetUpTestSuite();
    std::filesystem::create_directories(Root() + "/subjects");
    for (const char* name : {"a", "b", "c", "d"})
      for (const char* ext : {".hdr", ".img"})
        std::filesystem::copy_file(Root() + "/test/s2.brain" + ext, Root() + "/subjects/" + name + ext);
  }
};

}  // namespace

// Slips that used to run with something else than what was typed (a shell pattern that
// named a subject as the output, an option that lost its value, a mode that kept only
// its low 8 bits, a worker count replaced by the default) end with status 1 and one line
// naming the argument, before anything is read or written.
TEST_F(CommandLines, RefusedBeforeAnythingIsReadOrWritten) {
  const std::vector<std::string> seg = {"-m", "model", "test/s2.brain.hdr", "o.img"};
  const std::vector<std::string> train = {"-r", "1", "-n", "2", "-t", "1", "src", "T"};
  auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::string also = "segmenter takes one source and one target; also given: ";
  const std::string unknown = "; the options are -r, -m, -n, -t, -s, -a and -p";
  const std::string mode = "the mode is 0 (segment) or 1 (train)";
  const std::string workers = "the worker count is a whole number from 1 to 1024";
  struct Case {
    std::vector<std::string> args;
    std::string line;
    const char* workers = nullptr;  // SEGMENTER_WORKERS for the run
  };
  std::vector<Case> cases = {
      {{"-m", "model", "subjects/a.hdr", "subjects/b.hdr", "subjects/c.hdr"}, also + "subjects/c.hdr"},
      {{"-m", "model", "subjects/a.hdr", "subjects/b.hdr", "subjects/c.hdr", "subjects/d.hdr"},
       also + "subjects/c.hdr subjects/d.hdr"},
      {{"-m", "model", "test/s2.brain.hdr", "o1.img", "o2.img"}, also + "o2.img"},
      {{"-r", "1", "-n", "2", "src", "mid", "T"}, also + "T"},
      {{"-m", "model", "-x", "o.img", "test/s2.brain.hdr"}, "Unknown option -x" + unknown},
      {with(train, {"-T", "2"}), "Unknown option -T" + unknown},
      {{"-m", "", "test/s2.brain.hdr", "o.img"}, "Invalid value \"\" for -m: the value is empty"},
      {{"-m", "model", "", "test/s2.brain.hdr", "o.img"}, "Argument 3 (\"\") names no file or folder"},
      {with(seg, {"-s", ""}), "Invalid value \"\" for -s: the value is empty"},
      {{"-r", "1", "-n", "", "src", "T"}, "Invalid value \"\" for -n: the value is empty"},
      {with(seg, {"-r", "2"}), "Invalid value \"2\" for -r: " + mode},
      {with(seg, {"-r", "256"}), "Invalid value \"256\" for -r: " + mode},
      {{"-r", "257", "-n", "2", "-t", "1", "src", "T"}, "Invalid value \"257\" for -r: " + mode},
      {{"-r", "-255", "-n", "2", "-t", "1", "src", "T"}, "Invalid value \"-255\" for -r: " + mode},
      {{"-m", "model", "test/s2.brain.hdr"},
       "The target is missing; the only file or folder given is test/s2.brain.hdr"},
      {{"-r", "1", "-n", "2", "src"}, "The target is missing; the only file or folder given is src"},
      {{"-m", "model", "-s", "a", "b"}, "Invalid value \"a\" for -s: the smoothness is a finite number of 0 or more"},
      {{"-m", "//", "test/s2.brain.hdr", "o.img"}, "Invalid value \"//\" for -m: it names no folder"},
      {{"-r", "1", "-n", "0", "-t", "0", "src", "T"},
       "Invalid value \"0\" for -n: the number of structures is a whole number from 1 to 253"},
  };
  // A last option without its value, for every option letter on both roads.
  for (const char* option : {"-a", "-m", "-n", "-p", "-r", "-s", "-t"}) {
    cases.push_back({with(seg, {option}), std::string("Option ") + option + " needs a value"});
    cases.push_back({with(train, {option}), std::string("Option ") + option + " needs a value"});
  }
  for (const char* value : {"abc", "0", "-3", "100000", "", "4 ", "2x"}) {
    cases.push_back({seg, std::string("Invalid value \"") + value + "\" for SEGMENTER_WORKERS: " + workers, value});
    cases.push_back({train, std::string("Invalid value \"") + value + "\" for SEGMENTER_WORKERS: " + workers, value});
  }

  const std::map<std::string, std::string> before = TreeContents(Root());
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += " '" + a + "'";
    SCOPED_TRACE(shown + (c.workers ? std::string(" workers '") + c.workers + "'" : ""));
    std::vector<std::string> argv = {"/usr/bin/env", "-u", "SEGMENTER_WORKERS"};
    if (c.workers) argv.push_back(std::string("SEGMENTER_WORKERS=") + c.workers);
    argv.push_back(SEGMENTER_EXE);
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult r = RunProcess(argv, Root());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(TreeContents(Root()) == before) << "a file was written or changed";
  }
}

// The forms of the usage text still run, with every option and worker counts at the
// ends of their range.
TEST_F(CommandLines, TheUsageFormsStillRun) {
  const struct Case {
    std::vector<std::string> args;
    const char* workers;
    const char* written;
  } cases[] = {
      {{"-m", "model", "test/s2.brain.hdr", "ok1.img"}, nullptr, "ok1.hdr"},
      {{"-p", "1", "-r", "0", "-s", "0.5", "-m", "model/", "test/s2.brain.hdr", "ok2.3dm"}, "1", "ok2.3dm"},
      {{"-m", "model", "-", "test/s2.brain.hdr", "ok3.img"}, "1024", "ok3.img"},
      {{"-r", "1", "-n", "2", "-t", "1", "src", "T1"}, " +2", "T1/training_done.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    std::vector<std::string> argv = {"/usr/bin/env", "-u", "SEGMENTER_WORKERS"};
    if (c.workers) argv.push_back(std::string("SEGMENTER_WORKERS=") + c.workers);
    argv.push_back(SEGMENTER_EXE);
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult r = RunProcess(argv, Root());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(std::filesystem::exists(Root() + "/" + c.written));
  }
}

// A subject that the listing cannot take (a name of 200 characters or more) is named and
// the training refused, instead of training on the others: no target is left.
TEST(ProgramMainTest, ASubjectWhoseNameIsTooLongToListIsRefused) {
  TempFolder tmp;
  CopyTwoExampleSubjects(tmp.file("src"));
  const std::string name = std::string(190, 'h');  // "<name>.brain.hdr" has 200 characters
  for (const char* part : {".brain.hdr", ".brain.img", ".label.hdr", ".label.img"})
    std::filesystem::rename(tmp.file("src/hippocampus_003") + part, tmp.file("src/" + name) + part);
  const ProcessResult r = RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", "out/T"}, tmp.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "The subject file src\\" + name +
                       ".brain.hdr has a name of 200 characters or more, which the listing cannot take\n");
  EXPECT_FALSE(std::filesystem::exists(tmp.file("out")));
}

// A claim that fails for another reason than a training that holds the folder names the
// reason, and leaves no folder behind.
TEST(ProgramMainTest, AClaimThatCannotBeTakenNamesTheReason) {
  TempFolder tmp;
  const std::string target = tmp.file("a/T");
  const std::vector<std::string> args = {"segmenter", "-r", "1", "-n", "2", "src", target};
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  for (int error : {ENOLCK, EOPNOTSUPP, ENOSYS}) {
    FolderClaim::FailLocksForTesting(error);
    testing::internal::CaptureStdout();
    const int status = ProgramMain(static_cast<int>(argv.size()), argv.data());
    const std::string out = testing::internal::GetCapturedStdout();
    FolderClaim::FailLocksForTesting(0);
    EXPECT_EQ(status, 1) << error;
    std::string shown = target;
    std::replace(shown.begin(), shown.end(), '/', '\\');
    EXPECT_EQ(out, "Cannot claim the target folder " + shown + " for this training: " + std::strerror(error) + "\n");
    EXPECT_FALSE(std::filesystem::exists(tmp.file("a"))) << error;
  }
}

namespace {

// The target as the program prints it.
std::string Shown(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Runs ProgramMain in this process; its standard output goes to `out`.
int TrainInProcess(const std::vector<std::string>& args, std::string& out) {
  std::vector<const char*> argv = {"segmenter"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  const int status = ProgramMain(static_cast<int>(argv.size()), argv.data());
  out = testing::internal::GetCapturedStdout();
  return status;
}

}  // namespace

// A refused training keeps its claim until it has removed the folders it made: a second
// training into the target, started while the first removes them, is refused as one that
// finds the target in use, and the first still removes every folder it made.
TEST(ProgramMainTest, ATrainingStartedWhileARefusedOneRemovesItsFoldersFindsTheTargetInUse) {
  TempFolder tmp;
  const std::string target = tmp.file("a/T");
  const std::vector<std::string> args = {"-r", "1", "-n", "2", tmp.file("src"), target};
  ProcessResult second;
  int removals = 0;
  WatchFolderStepsForTesting([&](const std::string& call) {
    if (call != "RemoveEmptyFolders" || removals++ > 0) return;
    std::vector<std::string> argv = {SEGMENTER_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    second = RunProcess(argv);
  });
  std::string out;
  const int status = TrainInProcess(args, out);
  WatchFolderStepsForTesting(nullptr);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "No training subjects (names ending .brain.hdr) in " + Shown(tmp.file("src")) + "\n");
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.out, "The target folder " + Shown(target) + " is in use by another training\n");
  EXPECT_FALSE(std::filesystem::exists(tmp.file("a")));
}

// What lies in the target becomes the run's only once the run has found it empty after
// taking the claim: files that came first and a fatal end right then (an interrupt) leave
// them as they are.
TEST(ProgramMainTest, FilesFoundInTheTargetAfterTheClaimAreNotTheRunsToRemove) {
  TempFolder tmp;
  const std::string target = tmp.file("T");
  int checks = 0;
  const ProcessResult r = RunInChild([&] {
    WatchFolderStepsForTesting([&](const std::string& call) {
      if (call != "IsMissingOrEmptyFolder" || ++checks != 2) return;  // the check under the claim
      std::filesystem::create_directory(target + "/theirs");
      WriteFileText(target + "/training_done.txt", "Iterations: 1\n");
      FatalExit(1, "ended\n");
    });
    const std::string src = tmp.file("src");
    const char* argv[] = {"segmenter", "-r", "1", "-n", "2", src.c_str(), target.c_str()};
    ProgramMain(7, argv);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "ended\n");
  EXPECT_TRUE(std::filesystem::is_directory(target + "/theirs"));
  EXPECT_EQ(ReadFileText(target + "/training_done.txt"), "Iterations: 1\n");
}

// A target the run cannot make or read ends it with one line naming the folder and the
// reason, status 1, and leaves no folder the run made.
TEST(ProgramMainTest, ATargetTheRunCannotMakeOrReadIsNamedWithTheReason) {
  const std::string tooLong(300, 'x');
  // As root, folder permissions do not bite: that row runs as another user, when one can.
  std::vector<std::string> unprivileged;
  if (geteuid() == 0) unprivileged = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  const struct Case {
    const char* name;
    std::vector<std::string> prefix;  // runs the program
    bool needsPermissions;            // skipped where the folder "noread" reads after all
    std::string target;
    std::string line;
    const char* made;  // a folder the run would make, which must not be left
  } cases[] = {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // their runtimes need descriptors of their own
      {"the claim takes the last descriptor",
       {"/bin/bash", "-c",
        // Only the standard streams stay open, so that the claim takes the fourth.
        "for fd in /proc/$$/fd/*; do fd=${fd##*/}; if [ \"$fd\" -gt 2 ]; then exec {fd}>&-; fi; done; "
        "ulimit -n 4; exec \"$0\" \"$@\""},
       false, "a/b/T", std::string("Cannot read the target folder a\\b\\T: ") + std::strerror(EMFILE), "a"},
#endif
      {"no read permission", unprivileged, true, "noread",
       std::string("Cannot read the target folder noread: ") + std::strerror(EACCES), nullptr},
      {"a file in the way of a parent", {}, false, "blocker/T",
       std::string("Cannot create the target folder blocker\\T: ") + std::strerror(ENOTDIR), nullptr},
      {"a name too long", {}, false, "new/" + tooLong + "/T",
       "Cannot create the target folder new\\" + tooLong + "\\T: " + std::strerror(ENAMETOOLONG), "new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    std::filesystem::create_directory(tmp.file("src"));
    WriteFileText(tmp.file("blocker"), "x");
    std::filesystem::create_directory(tmp.file("noread"));
    std::filesystem::permissions(tmp.file("noread"), std::filesystem::perms::none);
    if (c.needsPermissions) {
      std::vector<std::string> probe = unprivileged;
      probe.insert(probe.end(), {"/usr/bin/test", "-r", "noread"});
      if (!std::filesystem::exists(probe[0]) || RunProcess(probe, tmp.path()).status != 1) continue;
    }
    std::vector<std::string> argv = c.prefix;
    argv.insert(argv.end(), {SEGMENTER_EXE, "-r", "1", "-n", "2", "src", c.target});
    const ProcessResult r = RunProcess(argv, tmp.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_EQ(r.err, "");
    if (c.made != nullptr) {
      EXPECT_FALSE(std::filesystem::exists(tmp.file(c.made)));
    }
    EXPECT_EQ(ReadFileText(tmp.file("blocker")), "x");
    std::filesystem::permissions(tmp.file("noread"), std::filesystem::perms::owner_all);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.file("noread")));
  }
}

// The atlas path "<target>\atlas.3dm" has at most 499 characters: a target one character
// longer than that allows (490, several folders deep, each name well under the system's
// limit) is refused with one line naming it before anything is read or made; the longest
// target it allows still trains.
TEST(ProgramMainTest, ATargetTooLongForTheRunsPathsIsRefusedBeforeAnyWork) {
  // "a/b/<240 x>/<n y>/T" has 4 + 240 + 1 + n + 2 characters.
  auto target = [](size_t length) {
    return "a/b/" + std::string(240, 'x') + "/" + std::string(length - 247, 'y') + "/T";
  };
  const struct Case {
    size_t length;
    int status;
    std::string line;  // the whole output when refused
  } cases[] = {
      {490, 1,
       "The target folder " + Shown(target(490)) + " is too long: its file " + Shown(target(490)) +
           "\\atlas.3dm would have 500 characters, at most 499\n"},
      {489, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    TempFolder tmp;
    CopyTwoExampleSubjects(tmp.file("src"));
    const std::string t = target(c.length);
    ASSERT_EQ(t.size(), c.length);
    const std::map<std::string, std::string> before = TreeContents(tmp.path());
    const ProcessResult r = RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", t}, tmp.path());
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.status == 0) {
      EXPECT_TRUE(std::filesystem::exists(tmp.file(t + "/training_done.txt")));
      continue;
    }
    EXPECT_EQ(r.out, c.line);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(tmp.file("a")));
    EXPECT_TRUE(TreeContents(tmp.path()) == before) << "a file was written or changed";
  }
}
