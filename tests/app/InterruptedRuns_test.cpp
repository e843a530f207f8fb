// Runs ended by SIGINT, SIGTERM or SIGHUP: status 128 + the signal, one line saying so
// last, and the cleanup of a failed run (no temporary output file, no tree side file,
// no node folders, no empty folder the run made, no "training_done.txt").
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

// True when the output ends with the interrupt's line (progress text without a line end
// may stand before it on the same line).
bool EndsWithLine(const std::string& out, const std::string& line) {
  const std::string ending = line + "\n";
  return out.size() >= ending.size() && out.compare(out.size() - ending.size(), ending.size(), ending) == 0;
}

std::string Line(int signal) {
  const char* name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
  return std::string("Interrupted by ") + name + ": the run stopped before finishing its job";
}

// Names under `root` (relative) that a finished or cleaned-up run must not leave.
std::vector<std::string> Debris(const std::string& root) {
  std::vector<std::string> found;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    const bool emptyFolder = e.is_directory() && fs::is_empty(e.path());
    if (name.find(".partial") != std::string::npos || name == "top" || name == "training_done.txt" || emptyFolder)
      found.push_back(fs::relative(e.path(), root).string());
  }
  return found;
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
    EXPECT_EQ(r.status, 128 + c.signal) << r.out << r.err;
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
    EXPECT_EQ(r.status, 128 + c.signal) << r.out << r.err;
    EXPECT_TRUE(EndsWithLine(r.out, Line(c.signal))) << r.out;
    EXPECT_EQ(Debris(runs), std::vector<std::string>{});
    if (c.kept != nullptr) {
      EXPECT_TRUE(fs::exists(runs + "/" + c.kept));
    }
  }
}
