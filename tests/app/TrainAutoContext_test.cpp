#include "app/TrainAutoContext.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtMClassTree.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

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

namespace {

// A prepared training data set of two 16^3 cases with two classes (0 below column 8,
// 1 from it on), their atlas pairs and "known.3dm" without agreed voxels.
void WriteDataSet(const std::string& target) {
  std::filesystem::create_directories(target);
  for (int i = 0; i < 2; ++i) {
    HeapMatrix3D<unsigned char> volume, labels;
    volume.SetSize(16, 16, 16);
    labels.SetSize(16, 16, 16);
    for (int z = 0; z < 16; ++z)
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
          labels[z][y][x] = x < 8 ? 0 : 1;
          volume[z][y][x] = static_cast<unsigned char>((x < 8 ? 60 : 160) + (x * 7 + y * 3 + z * 5 + i) % 11);
        }
    const std::string name = target + "/I0000" + std::to_string(i);
    ASSERT_TRUE(volume.Save(name + ".3dm"));
    ASSERT_TRUE(labels.Save(name + "_label.3dm"));
    ASSERT_EQ(WriteAnalyzeVolume(name + "_atlas.img", labels), 1);
  }
  HeapMatrix3D<unsigned char> known;
  known.SetSize(16, 16, 16);
  known.Fill(3);
  ASSERT_TRUE(known.Save(target + "/known.3dm"));
  ASSERT_TRUE(known.Save(target + "/atlas.3dm"));
}

}  // namespace

TEST(TrainAutoContextTest, EachIterationLeavesALoadableTreeAndMapsForTheNext) {
  TempFolder tmp;
  const std::string target = tmp.path() + "/data set";
  WriteDataSet(target);
  testing::internal::CaptureStdout();
  const bool ok = TrainAutoContext(target, 2, 1, 2, 1);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(ok);
  for (int d = 1; d <= 2; ++d) {
    const std::string folder = target + "/" + std::to_string(d);
    PbtMClassTree tree;
    EXPECT_TRUE(tree.load((folder + "/clf").c_str())) << d;
    EXPECT_TRUE(std::filesystem::exists(folder + "/labels/I00001_label.3dm")) << d;
    EXPECT_TRUE(std::filesystem::exists(folder + "/I00001_1_prob.3dm")) << d;
  }
  EXPECT_EQ(gContextAvailable, 1);
  // The context maps of the last iteration are those in the data folder.
  HeapMatrix3D<unsigned char> inData, inIteration;
  ASSERT_TRUE(inData.Load(target + "/I00000_1_prob.3dm"));
  ASSERT_TRUE(inIteration.Load(target + "/2/I00000_1_prob.3dm"));
  EXPECT_EQ(inData.NumElements(), inIteration.NumElements());
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(inData[z][y][x], inIteration[z][y][x]);
}

TEST(TrainAutoContextTest, ATreeThatWasNotSavedStopsTheTraining) {
  TempFolder tmp;
  const std::string target = tmp.path() + "/target";
  WriteDataSet(target);
  // A folder where the tree file belongs: saving it fails.
  std::filesystem::create_directories(target + "/1/clf");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const bool ok = TrainAutoContext(target, 2, 1, 1, 1);
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(ok);
  std::string clf = target + "/1/clf";
  for (char& c : clf) c = c == '/' ? '\\' : c;
  EXPECT_NE(out.find("Training of iteration 1 left no usable classifier " + clf + ": "), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(target + "/1/I00000_0_prob.3dm"));
}

TEST(TrainAutoContextTest, TheReadBackOfEachTreeLeavesTheRandomSequenceAlone) {
  // Two iterations trained with and without the read-back check of each tree: the
  // check reads trees, whose weak classifiers draw as they are built, so unless it
  // puts the generator back the second tree trains on another sequence.
  struct Run {
    long long draws = 0;
    std::vector<float> next;
    std::vector<uint8_t> secondTree;
  };
  auto train = [](bool skipCheck) {
    TempFolder tmp;
    const std::string target = tmp.path() + "/target";
    WriteDataSet(target);
    SkipTreeReadBackForTesting(skipCheck);
    ResetUniformRandomForTesting();
    testing::internal::CaptureStdout();
    const bool ok = TrainAutoContext(target, 2, 1, 2, 1);
    testing::internal::GetCapturedStdout();
    SkipTreeReadBackForTesting(false);
    EXPECT_TRUE(ok);
    Run run;
    run.draws = UniformRandomDrawCountForTesting();
    for (int i = 0; i < 4; ++i) run.next.push_back(UniformRandom(&gUniformRandomSeed));
    run.secondTree = ReadFileBytes(target + "/2/clf");
    return run;
  };
  const Run unchecked = train(true);
  const Run checked = train(false);
  EXPECT_EQ(checked.draws, unchecked.draws);
  EXPECT_EQ(checked.next, unchecked.next);
  EXPECT_FALSE(checked.secondTree.empty());
  EXPECT_TRUE(checked.secondTree == unchecked.secondTree);
}

TEST(TrainAutoContextTest, OnlyAFinishedTrainingMakesAModelFolder) {
  // The training marks its end in "training_done.txt"; the model script takes nothing
  // else: a target without it, or with an iteration folder that lacks its tree, is
  // refused and no model folder is made.
  TempFolder tmp;
  const std::string target = tmp.path() + "/target";
  WriteDataSet(target);
  for (const char* name : {"setting.txt", "mri_intensity_template.3dm", "mri_intensity_common.3dm",
                           "label_mapping.txt"})
    WriteFileText(target + "/" + name, "x");
  testing::internal::CaptureStdout();
  ASSERT_TRUE(TrainAutoContext(target, 2, 1, 2, 1));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(ReadFileText(target + "/training_done.txt"), "Iterations: 2\n");
  const std::string script = std::string(SEGMENTER_SOURCE_DIR) + "/scripts/make_model_folder.sh";
  auto makeModel = [&](const std::string& model) {
    return RunProcess({"/bin/bash", script, "target", model}, tmp.path());
  };
  const ProcessResult done = makeModel("model");
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/model/appearance/clf1"));

  std::filesystem::rename(target + "/2/clf", target + "/2/clf.partial");
  const ProcessResult halfway = makeModel("model2");
  EXPECT_EQ(halfway.status, 1);
  EXPECT_EQ(halfway.err, "no trained classifier target/2/clf\n");
  std::filesystem::remove(target + "/training_done.txt");
  std::filesystem::rename(target + "/2/clf.partial", target + "/2/clf");
  const ProcessResult unmarked = makeModel("model3");
  EXPECT_EQ(unmarked.status, 1);
  EXPECT_EQ(unmarked.err, "the training in target did not finish (no target/training_done.txt)\n");
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/model2"));
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/model3"));

  // A count the shell cannot hold, or outside 1 to 20, is no count.
  for (const char* count : {"99999999999999999999", "0", "21", "02"}) {
    WriteFileText(target + "/training_done.txt", std::string("Iterations: ") + count + "\n");
    const ProcessResult odd = makeModel("model4");
    EXPECT_EQ(odd.status, 1) << count;
    EXPECT_EQ(odd.err, "unreadable iteration count in target/training_done.txt\n") << count;
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/model4")) << count;
  }
}

namespace {

// A finished training target as the model script sees it: iteration folders 1 .. N with
// a "clf" each (text naming the iteration and the training, or `bigTree` bytes for the
// tree of iteration 2), the copied files and "training_done.txt".
void WriteFakeTarget(const std::string& target, int iterations, const std::string& tag, size_t bigTree = 0) {
  std::filesystem::create_directories(target);
  for (int d = 1; d <= iterations; ++d) {
    std::filesystem::create_directories(target + "/" + std::to_string(d));
    const std::string tree = target + "/" + std::to_string(d) + "/clf";
    WriteFileText(tree, d == 2 && bigTree > 0 ? std::string(bigTree, 't') : tag + " tree " + std::to_string(d));
  }
  for (const char* name : {"setting.txt", "atlas.3dm", "known.3dm", "mri_intensity_template.3dm",
                           "mri_intensity_common.3dm", "label_mapping.txt"})
    WriteFileText(target + "/" + name, tag + " " + name);
  WriteFileText(target + "/training_done.txt", "Iterations: " + std::to_string(iterations) + "\n");
}

}  // namespace

TEST(TrainAutoContextTest, AModelFolderHoldsOnlyTheTreesOfItsTraining) {
  // Segmentation loads every "clf<d>" of a model folder, so the script writes only into
  // a missing or empty folder and moves the finished folder into place whole.
  TempFolder tmp;
  WriteFakeTarget(tmp.file("three"), 3, "three");
  WriteFakeTarget(tmp.file("two"), 2, "two");
  WriteFakeTarget(tmp.file("big"), 2, "big", 64 * 1024);
  const std::string script = std::string(SEGMENTER_SOURCE_DIR) + "/scripts/make_model_folder.sh";
  auto makeModel = [&](const std::string& target, const std::string& model) {
    return RunProcess({"/bin/bash", script, target, model}, tmp.path());
  };

  const ProcessResult first = makeModel("three", "model");
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, "model folder model: 3 classifier(s)\n");
  const std::map<std::string, std::string> model = TreeContents(tmp.file("model"));
  EXPECT_EQ(model.at("appearance/clf"), "three tree 1");
  EXPECT_EQ(model.at("appearance/clf2"), "three tree 3");
  EXPECT_EQ(model.size(), 10u);  // the folder, three trees and six copies

  // A folder that holds anything, or a file, is refused and left as it was.
  WriteFileText(tmp.file("a file"), "kept");
  const std::set<std::string> before = [&] {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) names.insert(e.path().filename().string());
    return names;
  }();
  for (const char* taken : {"model", "model/", "a file"}) {
    const ProcessResult again = makeModel("two", taken);
    EXPECT_EQ(again.status, 1) << taken;
    EXPECT_EQ(again.err, std::string("the model folder ") + taken +
                             " exists and is not an empty folder; make the model in a new folder\n");
    EXPECT_EQ(again.out, "") << taken;
  }
  EXPECT_EQ(TreeContents(tmp.file("model")), model);
  EXPECT_EQ(ReadFileText(tmp.file("a file")), "kept");

  // An empty folder takes the model.
  std::filesystem::create_directories(tmp.file("empty"));
  const ProcessResult intoEmpty = makeModel("two", "empty");
  ASSERT_EQ(intoEmpty.status, 0) << intoEmpty.err;
  const std::map<std::string, std::string> two = TreeContents(tmp.file("empty"));
  EXPECT_EQ(two.at("appearance/clf1"), "two tree 2");
  EXPECT_EQ(two.count("appearance/clf2"), 0u);
  EXPECT_EQ(two.size(), 9u);

  // A copy that fails (a file larger than the size limit the script runs under) leaves
  // no model folder, no temporary folder and none of the parent folders it made.
  const ProcessResult failed =
      RunProcess({"/bin/bash", "-c", "ulimit -f 16; exec /bin/bash \"$0\" \"$@\"", script, "big", "new/parent/model"},
                 tmp.path());
  EXPECT_EQ(failed.status, 1) << failed.err;
  std::set<std::string> after;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) after.insert(e.path().filename().string());
  after.erase("empty");
  EXPECT_EQ(after, before);
}

TEST(TrainAutoContextTest, AnInterruptedModelScriptCleansUpAndDiesByTheSignal) {
  // Ctrl-C, SIGTERM or SIGHUP while the script copies: no temporary folder, no model
  // folder and no parent folder it made stay, and the script ends by that signal, so
  // that a shell loop of scripts stops instead of going on with the next target. The
  // cleanup runs once: neither the exit nor a second Ctrl-C during it repeats it. The
  // copies are slowed by a "cp" that sleeps first, and the removal by an "rm" that logs
  // each run and then sleeps, so that a second Ctrl-C can come during the cleanup.
  namespace fs = std::filesystem;
  const struct Case {
    const char* name;
    int signal;
    bool loop;   // the script runs in a bash loop of three and the loop's group gets the signal
    bool twice;  // a second signal to the group once the cleanup has begun
  } cases[] = {
      {"Ctrl-C to a loop of scripts", SIGINT, true, false},
      {"Ctrl-C twice, the second during the cleanup", SIGINT, true, true},
      {"SIGTERM to the script", SIGTERM, false, false},
      {"SIGHUP to the script", SIGHUP, false, false},
  };
  const std::string script = std::string(SEGMENTER_SOURCE_DIR) + "/scripts/make_model_folder.sh";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    WriteFakeTarget(tmp.file("target"), 2, "slow");
    const std::string bin = tmp.file("bin");
    fs::create_directories(bin);
    WriteFileText(bin + "/cp", "#!/bin/sh\nsleep 0.2\nexec /bin/cp \"$@\"\n");
    WriteFileText(bin + "/rm", "#!/bin/sh\necho \"$*\" >> \"$0.runs\"\nsleep 0.3\nexec /bin/rm \"$@\"\n");
    for (const char* tool : {"/cp", "/rm"})
      fs::permissions(bin + tool, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    const std::string run =
        c.loop ? "PATH=\"$0:$PATH\"; for t in 1 2 3; do bash \"$1\" target models/m_$t; echo \"run $t: $?\"; done; "
                 "echo done"
               : "PATH=\"$0:$PATH\"; exec /bin/bash \"$1\" target models/m_1";
    StartedProcess p({"/bin/bash", "-c", run, bin, script}, tmp.path(), c.loop);
    // The temporary folder of the first model, once the script has filled in its name.
    const auto copying = [&] {
      std::error_code ec;
      for (const auto& e : fs::directory_iterator(tmp.file("models"), ec))
        if (e.path().filename().string().rfind(".m_1.partial.", 0) == 0 && fs::exists(e.path() / "model/appearance"))
          return true;
      return false;
    };
    ASSERT_TRUE(p.WaitUntil(copying)) << p.OutSoFar();
    if (c.loop) {
      p.SignalGroup(c.signal);
    } else {
      ASSERT_GT(p.pid(), 0);
      kill(p.pid(), c.signal);
    }
    if (c.twice) {
      ASSERT_TRUE(p.WaitUntil([&] { return fs::exists(bin + "/rm.runs"); })) << p.OutSoFar();
      p.SignalGroup(c.signal);
    }
    const ProcessResult r = p.Wait();
    EXPECT_EQ(r.signal, c.signal) << r.status << "\n" << r.out << r.err;
    EXPECT_EQ(r.out.find("run 1:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("done"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    const std::string removals = fs::exists(bin + "/rm.runs") ? ReadFileText(bin + "/rm.runs") : "";
    EXPECT_EQ(std::count(removals.begin(), removals.end(), '\n'), 1) << removals;
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(tmp.path())) left.insert(e.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"bin", "target"}));
  }
}
