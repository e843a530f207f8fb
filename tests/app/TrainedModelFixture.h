#pragma once
// A scratch folder, made once per test suite, with a model folder trained (one
// iteration) on two synthetic subjects:
//   src/s0.brain.img, src/s1.brain.img (+ headers and ".label" pairs)  the training subjects
//   test/s2.brain.img, test/s2.label.img (+ headers)                    a subject to segment
//   target/                                                             the training target
//   model/                                                              its model folder
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SyntheticSubject.h"
#include "TestSupport.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

class TrainedModelFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    namespace fs = std::filesystem;
    folder = std::make_unique<TempFolder>();
    const std::string root = folder->path();
    fs::create_directories(root + "/src");
    fs::create_directories(root + "/test");
    for (int s = 0; s < 3; ++s) {
      HeapMatrix3D<short> brain, labels;
      SyntheticSubject(s, brain, labels);
      const std::string dir = root + (s < 2 ? "/src/s" : "/test/s") + std::to_string(s);
      ASSERT_EQ(WriteAnalyze16(dir + ".brain.img", brain), 1);
      ASSERT_EQ(WriteAnalyze16(dir + ".label.img", labels), 1);
    }
    const ProcessResult train = RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", "target"}, root);
    ASSERT_EQ(train.status, 0) << train.out << train.err;
    const ProcessResult model = RunProcess(
        {"/bin/bash", std::string(SEGMENTER_SOURCE_DIR) + "/scripts/make_model_folder.sh", "target", "model"}, root);
    ASSERT_EQ(model.status, 0) << model.out << model.err;
  }
  static void TearDownTestSuite() { folder.reset(); }

  static std::string Root() { return folder->path(); }
  // Runs the program with `args` in the suite's folder.
  static ProcessResult Segment(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {SEGMENTER_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, Root());
  }
  // A copy of the model folder under another name.
  static std::string CopyModel(const std::string& name) {
    namespace fs = std::filesystem;
    fs::remove_all(Root() + "/" + name);
    fs::copy(Root() + "/model", Root() + "/" + name, fs::copy_options::recursive);
    return name;
  }

  inline static std::unique_ptr<TempFolder> folder;
};
