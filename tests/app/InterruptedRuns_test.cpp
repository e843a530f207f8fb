// Runs ended by SIGINT, SIGTERM or SIGHUP: the cleanup of a failed run (no temporary
// output file, no tree side file, no node folders, no empty folder the run made, no
// "training_done.txt"), one line saying so last, on a line of its own, and then the death
// by that same signal, so that a calling shell stops its loop.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "TrainedModelFixture.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace fs = std::filesystem;

namespace {

// True when the output's last line is the interrupt's line.
bool EndsWithLine(const std::string& out, const std::string& line) {
  const std::string ending = line + "\n";
  return (out == ending || (out.size() > ending.size() && out[out.size() - ending.size() - 1] == '\n')) &&
         out.compare(out.size() - ending.size(), ending.size(), ending) == 0;
}

std::string Line(int signal) {
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
  return std::string("Interrupted by ") + name + ": the run stopped before finishing its job";
}

// The suite's subject padded to a whole head (256 x 256 x 192 voxels at 1 mm) and an
// older output that an interrupted segmentation must leave whole.
class InterruptedRuns : public TrainedModelFixture {
 protected:
  static void SetUpTestSuite() {
    TrainedModelFixture::SetUpTestSuite();
    HeapMatrix3D<short> brain, labels, head;
    SyntheticSubject(2, brain, labels);
    head.SetSize(192, 256, 256);
    head.Fill(60);
    for (int z = 0; z < 16; ++z)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) head(z, y, x) = brain(z, y, x);
    ASSERT_EQ(WriteAnalyze16(Root() + "/head.img", head), 1);
    CopyTwoExampleSubjects(Root() + "/hippocampus");
  }
};

}  // namespace

TEST_F(InterruptedRuns, ASegmentationStopsWithoutTemporaryFilesAndKeepsAnOlderOutput) {
  const struct Case {
    const char* name;
    int signal;
    std::function<bool(StartedProcess&, const std::string& folder)> moment;
  } cases[] = {
      {"SIGINT while it works", SIGINT,
       [](StartedProcess& p, const std::string&) {
         return p.OutSoFar().find("processing volume:") != std::string::npos;
       }},
      {"SIGTERM while it writes", SIGTERM,
       [](StartedProcess&, const std::string& folder) {
         for (const fs::directory_entry& e : fs::directory_iterator(folder))
           if (e.path().filename().string().find(".partial-") != std::string::npos &&
               e.path().extension() == ".img" && e.file_size() > 0)
             return true;
         return false;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = Root() + "/out";
    fs::remove_all(folder);
    fs::create_directories(folder);
    WriteFileText(folder + "/labels.img", "older voxels");
    WriteFileText(folder + "/labels.hdr", "older header");
    StartedProcess run({SEGMENTER_EXE, "-m", "model", "head.img", "out/labels.img"}, Root());
    ASSERT_TRUE(run.WaitUntil([&] { return c.moment(run, folder); })) << run.OutSoFar();
    run.InterruptWhereItIs(c.signal);
    const ProcessResult r = run.Wait();
    EXPECT_EQ(r.signal, c.signal) << r.status << "\n" << r.out << r.err;
    EXPECT_TRUE(EndsWithLine(r.out, Line(c.signal))) << r.out;
    EXPECT_EQ(Debris(folder), std::vector<std::string>{});
    EXPECT_EQ(ReadFileText(folder + "/labels.img"), "older voxels");
    EXPECT_EQ(ReadFileText(folder + "/labels.hdr"), "older header");
  }
}

// A training keeps what it finished (the prepared data set, the iterations done) and
// removes the tree side file, the node folders and the folders it made that are still
// empty; it never marks itself done. Two example subjects give trees with nodes.
TEST_F(InterruptedRuns, ATrainingStopsWithoutDebrisAndKeepsTheIterationsItFinished) {
  const struct Case {
    const char* name;
    int signal;
    const char* waitFor;  // a file or folder of the target that marks the moment
    const char* kept;     // one that must stay, or null
  } cases[] = {
      {"SIGTERM while the target is new", SIGTERM, "a/b/T", nullptr},
      {"SIGHUP while it prepares the data set", SIGHUP, "a/b/T/label_mapping.txt", "a/b/T/label_mapping.txt"},
      {"SIGINT while the second tree trains", SIGINT, "a/b/T/2/clf.partial", "a/b/T/1/clf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string runs = Root() + "/runs";
    fs::remove_all(runs);
    fs::create_directories(runs);
    StartedProcess run({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "2", "../hippocampus", "a/b/T"}, runs);
    ASSERT_TRUE(run.WaitUntil([&] { return fs::exists(runs + "/" + c.waitFor); })) << run.OutSoFar();
    run.InterruptWhereItIs(c.signal);
    const ProcessResult r = run.Wait();
    EXPECT_EQ(r.signal, c.signal) << r.status << "\n" << r.out << r.err;
    EXPECT_TRUE(EndsWithLine(r.out, Line(c.signal))) << r.out;
    EXPECT_EQ(Debris(runs), std::vector<std::string>{});
    if (c.kept != nullptr) {
      EXPECT_TRUE(fs::exists(runs + "/" + c.kept));
    }
  }
}

// Two signals back to back (two Ctrl-C presses, a service manager's SIGTERM after
// SIGHUP) end a run as the first one does: its line last, nothing left, the death by it.
TEST_F(InterruptedRuns, TwoSignalsBackToBackEndARunAsTheFirstDoes) {
  const struct Case {
    const char* name;
    bool training;
    int first;
    int second;
  } cases[] = {
      {"training, SIGHUP and SIGTERM", true, SIGHUP, SIGTERM},
      {"training, SIGINT twice", true, SIGINT, SIGINT},
      {"segmentation, SIGHUP and SIGTERM", false, SIGHUP, SIGTERM},
      {"segmentation, SIGINT twice", false, SIGINT, SIGINT},
  };
  for (int round = 0; round < 2; ++round)
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const std::string runs = Root() + "/twice";
      fs::remove_all(runs);
      fs::create_directories(runs);
      const std::vector<std::string> training = {SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "2", "../hippocampus", "T"};
      const std::vector<std::string> segmentation = {SEGMENTER_EXE, "-m", "../model", "../head.img", "labels.img"};
      StartedProcess run(c.training ? training : segmentation, runs);
      ASSERT_TRUE(run.WaitUntil([&] {
        return c.training ? fs::exists(runs + "/T/1/top")
                          : run.OutSoFar().find("processing volume:") != std::string::npos;
      })) << run.OutSoFar();
      run.SignalTwice(c.first, c.second);
      const ProcessResult r = run.Wait();
      EXPECT_EQ(r.signal, c.first) << r.status << "\n" << r.out << r.err;
      EXPECT_TRUE(EndsWithLine(r.out, Line(c.first))) << r.out;
      EXPECT_EQ(Debris(runs), std::vector<std::string>{});
    }
}

// Ctrl-C in a shell loop over subjects reaches the loop's process group: the run dies of
// SIGINT after its cleanup, and so the shell stops its loop instead of going on with
// the next subject.
TEST_F(InterruptedRuns, CtrlCStopsAShellLoopOfRuns) {
  const std::string folder = Root() + "/loop";
  fs::remove_all(folder);
  fs::create_directories(folder);
  StartedProcess loop({"/bin/bash", "-c",
                       "for i in 1 2; do \"$0\" -m model head.img loop/out$i.img; echo \"run $i: $?\"; done; echo done",
                       SEGMENTER_EXE},
                      Root(), true);
  ASSERT_TRUE(loop.WaitUntil([&] { return loop.OutSoFar().find("processing volume:") != std::string::npos; }))
      << loop.OutSoFar();
  loop.SignalGroup(SIGINT);
  const ProcessResult r = loop.Wait();
  EXPECT_EQ(r.signal, SIGINT) << r.status << "\n" << r.out << r.err;
  EXPECT_TRUE(EndsWithLine(r.out, Line(SIGINT))) << r.out;
  EXPECT_EQ(r.out.find("run 1:"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("done"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::is_empty(folder));
}

// Ctrl-C to a training whose console is a pipe into a reader that Ctrl-C ends too: the
// run's writes then find the reader gone, yet the run still cleans up, at any moment.
TEST_F(InterruptedRuns, CtrlCToATrainingPipedIntoAReaderLeavesNoDebris) {
  const char* moments[] = {"T/label_mapping.txt", "T/1/clf.partial", "T/1/top", "T/2/clf.partial", "T/2/top"};
  for (int round = 0; round < 2; ++round)
    for (const char* moment : moments) {
      SCOPED_TRACE(moment);
      const std::string runs = Root() + "/piped";
      fs::remove_all(runs);
      fs::create_directories(runs);
      StartedProcess run({"/bin/bash", "-c", "\"$0\" -r 1 -n 2 -t 2 ../hippocampus T | cat", SEGMENTER_EXE}, runs,
                         true);
      ASSERT_TRUE(run.WaitUntil([&] { return fs::exists(runs + "/" + moment); })) << run.OutSoFar();
      run.SignalGroup(SIGINT);
      const ProcessResult r = run.Wait();
      EXPECT_EQ(r.signal, SIGINT) << r.status << "\n" << r.out << r.err;
      EXPECT_EQ(Debris(runs), std::vector<std::string>{});
      EXPECT_FALSE(fs::exists(runs + "/T/training_done.txt"));
    }
}
