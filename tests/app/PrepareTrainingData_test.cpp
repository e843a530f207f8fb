#include "app/PrepareTrainingData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "numerics/TextFunctions.h"
#include "volume/AnalyzeVolume.h"

namespace {

using Shorts = HeapMatrix3D<short>;

// A labels volume of d^3 voxels: value `v` in the cube [lo, hi)^3, 0 elsewhere.
Shorts Labels(int d, std::vector<std::pair<int, std::pair<int, int>>> cubes) {
  Shorts l;
  l.SetSize(d, d, d);
  for (const auto& c : cubes)
    for (int z = c.second.first; z < c.second.second; ++z)
      for (int y = c.second.first; y < c.second.second; ++y)
        for (int x = c.second.first; x < c.second.second; ++x) l[z][y][x] = static_cast<short>(c.first);
  return l;
}

// An intensity volume that follows the labels: 40 + 30 per distinct label step, plus
// a little texture so that histograms have spread.
Shorts Brain(const Shorts& labels, int offset) {
  Shorts b;
  b.SetSize(labels.dim0(), labels.dim1(), labels.dim2());
  for (int z = 0; z < b.dim0(); ++z)
    for (int y = 0; y < b.dim1(); ++y)
      for (int x = 0; x < b.dim2(); ++x)
        b[z][y][x] = static_cast<short>(40 + offset + 3 * labels[z][y][x] + (x + 2 * y + 3 * z) % 7);
  return b;
}

void WriteSubject(const std::string& folder, const std::string& name, const Shorts& brain, const Shorts& labels,
                  bool withLabels = true) {
  ASSERT_EQ(WriteAnalyze16(folder + "/" + name + ".brain.img", brain), 1);
  if (withLabels) {
    ASSERT_EQ(WriteAnalyze16(folder + "/" + name + ".label.img", labels), 1);
  }
}

ProcessResult Train(const TempFolder& tmp, const std::vector<std::string>& extra) {
  std::vector<std::string> argv = {SEGMENTER_EXE, "-r", "1"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back("src");
  argv.push_back("out");
  return RunProcess(argv, tmp.path());
}

}  // namespace

TEST(PrepareTrainingDataTest, LabelValuesAreNumberedFromZeroUpToTheStructureCount) {
  struct Case {
    const char* name;
    std::vector<int> values;
    int structures;
    std::vector<int> table;
    int classes;
  };
  const std::vector<Case> cases = {
      {"values 0 4 9 17, two structures", {0, 4, 9, 17}, 2, {0, -2, -2, -2, 1, -2, -2, -2, -2, 2, -2, -2, -2, -2, -2, -2, -2, -1}, 3},
      {"no 0: the smallest value is class 0", {3, 5}, 1, {-2, -2, -2, 0, -2, 1}, 2},
      {"no structures: only 0", {0, 2}, 0, {0, -2, -1}, 1},
      {"no structures, no 0: the smallest", {2, 3}, 0, {-2, -2, 0, -1}, 1},
  };
  for (const Case& c : cases) {
    Shorts l;
    l.SetSize(1, 1, static_cast<int>(c.values.size()) + 1);
    l[0][0][0] = -3;  // negative values stay out of the table
    for (size_t i = 0; i < c.values.size(); ++i) l[0][0][i + 1] = static_cast<short>(c.values[i]);
    int K = -1;
    EXPECT_EQ(NumberLabelValues(l, c.structures, {}, &K), c.table) << c.name;
    EXPECT_EQ(K, c.classes) << c.name;
  }
  // Preferred values come right after 0.
  Shorts l = Labels(3, {{4, {0, 1}}, {9, {1, 2}}, {0, {2, 3}}});
  int K = 0;
  const std::vector<int> table = NumberLabelValues(l, 2, {9}, &K);
  EXPECT_EQ(table[9], 1);
  EXPECT_EQ(table[4], 2);
}

TEST(PrepareTrainingDataTest, SubjectZeroComesFirstThenTheSortedListing) {
  TempFolder tmp;
  const Shorts labels = Labels(4, {{1, {1, 3}}});
  for (const char* name : {"5", "0", "3", "10"}) WriteSubject(tmp.path(), name, Brain(labels, 0), labels);
  std::vector<McString> subjects, labelFiles;
  ASSERT_TRUE(LoadSubjectLabels(tmp.path(), subjects, labelFiles));
  ASSERT_EQ(subjects.size(), 4u);
  EXPECT_NE(subjects[0].str().find("0.brain.hdr"), std::string::npos);
  EXPECT_NE(subjects[1].str().find("10.brain.hdr"), std::string::npos);
  EXPECT_NE(subjects[2].str().find("3.brain.hdr"), std::string::npos);
  EXPECT_NE(subjects[3].str().find("5.brain.hdr"), std::string::npos);
  EXPECT_EQ(labelFiles[2].str(), tmp.path() + "/3.label.img");
}

TEST(PrepareTrainingDataTest, BadSubjectsStopTheRunBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::function<void(const std::string&)> make;
    std::string message;
  };
  const Shorts good = Labels(6, {{1, {1, 3}}, {2, {3, 5}}});
  const std::vector<Case> cases = {
      {"missing label file", {"-n", "2"},
       [&](const std::string& src) {
         WriteSubject(src, "0", Brain(good, 0), good);
         WriteSubject(src, "1", Brain(good, 5), good, false);
       },
       "corresponding label file src/1.label.img doesn't exist\n"},
      {"no subjects", {"-n", "2"}, [&](const std::string&) {}, "No training subjects (names ending .brain.hdr) in src\n"},
      {"volume extents", {"-n", "2"},
       [&](const std::string& src) {
         WriteSubject(src, "0", Brain(good, 0), good);
         WriteSubject(src, "1", Brain(Labels(5, {}), 5), good);
       },
       "Subject volume src\\1.brain.hdr has extents 5 x 5 x 5, the first subject's labels 6 x 6 x 6\n"},
      {"label extents", {"-n", "2"},
       [&](const std::string& src) {
         WriteSubject(src, "0", Brain(good, 0), good);
         WriteSubject(src, "1", Brain(good, 5), Labels(7, {{1, {1, 3}}, {2, {3, 5}}}));
       },
       "Label volume src/1.label.img has extents 7 x 7 x 7, the first subject's labels 6 x 6 x 6\n"},
      {"empty box", {"-n", "1"},
       [&](const std::string& src) {
         const Shorts none = Labels(6, {});
         WriteSubject(src, "0", Brain(none, 0), none);
       },
       "No labelled voxel (label above 0) in any subject; no training box\n"},
      {"too few label values", {"-n", "3"},
       [&](const std::string& src) { WriteSubject(src, "0", Brain(good, 0), good); },
       "The first subject's labels src/0.label.img hold 3 label values; 3 structures need 4\n"},
      {"label above 255", {"-n", "2"},
       [&](const std::string& src) {
         const Shorts wide = Labels(6, {{1, {1, 3}}, {300, {3, 5}}});
         WriteSubject(src, "0", Brain(good, 0), wide);
       },
       "Label volume src/0.label.img holds the label value 300, above 255\n"},
      {"label above the first subject's", {"-n", "2"},
       [&](const std::string& src) {
         WriteSubject(src, "0", Brain(good, 0), good);
         const Shorts more = Labels(6, {{1, {1, 3}}, {2, {3, 4}}, {3, {4, 5}}});
         WriteSubject(src, "1", Brain(more, 5), more);
       },
       "Subject src\\1.brain.hdr cannot be normalised: label 3 is above the first subject's largest label 2\n"},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    std::filesystem::create_directories(tmp.path() + "/src");
    c.make(tmp.path() + "/src");
    const ProcessResult r = Train(tmp, c.options);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, c.message) << c.name;
    // The target folder that the run made for nothing is gone again.
    EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/out")) << c.name;
  }
}


TEST(PrepareTrainingDataTest, AStructureCountBeyondTheLabelRangeIsRefusedWithoutWrapping) {
  // The program checks -n first; called directly, the preparation keeps its own check,
  // which must not overflow for the largest counts.
  const Shorts good = Labels(6, {{1, {1, 3}}, {2, {3, 5}}});
  for (const int structures : {254, INT_MAX, -1, INT_MIN}) {
    TempFolder tmp;
    std::filesystem::create_directories(tmp.path() + "/src");
    std::filesystem::create_directories(tmp.path() + "/out");
    WriteSubject(tmp.path() + "/src", "0", Brain(good, 0), good);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PrepareTrainingData(tmp.path() + "/src", tmp.path() + "/out", structures)) << structures;
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "The number of structures " + std::to_string(structures) + " is outside 0 .. 253\n");
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path() + "/out")) << structures;
  }
}
TEST(PrepareTrainingDataTest, ASubjectLackingLabelValuesOfTheFirstIsTrainedWithANote) {
  // The normalisation leaves such values out of its fit, so the subject can be used.
  struct Case {
    const char* name;
    Shorts first, later;
    std::string line;
  };
  // Label 17 (unnumbered with two structures) widens the template's intensity range.
  const Shorts first = Labels(6, {{1, {1, 3}}, {2, {3, 4}}, {17, {4, 5}}});
  const Case cases[] = {
      {"a structure missing", first, Labels(6, {{1, {1, 4}}, {17, {4, 5}}}), " 2 "},
      {"an unnumbered value missing", first, Labels(6, {{1, {1, 3}}, {2, {3, 5}}}), " 17 "},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    const std::string src = tmp.path() + "/src", out = tmp.path() + "/out";
    std::filesystem::create_directories(src);
    std::filesystem::create_directories(out);
    WriteSubject(src, "0", Brain(c.first, 0), c.first);
    WriteSubject(src, "1", Brain(c.later, 5), c.later);
    testing::internal::CaptureStdout();
    const bool ok = PrepareTrainingData(src, out, 2);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ok) << c.name << "\n" << printed;
    std::string listed = src + "/1.brain.hdr";
    ToBackslashes(listed);
    const std::string note = "Subject " + listed + " lacks label values" + c.line +
                             "of the first subject; they are left out of its normalisation\n";
    EXPECT_NE(printed.find(note), std::string::npos) << c.name << "\n" << printed;
    EXPECT_TRUE(std::filesystem::exists(out + "/I00001.3dm")) << c.name;
  }
}

namespace {

// Subject s of the golden set: 24 slices x 24 rows x 50 columns; label 4 in a cube
// around (9, 9, 9), label 9 next to it, label 17 a small cube; the subjects differ
// by one voxel layer so that they agree only inside.
Shorts GoldenLabels(int s) {
  Shorts l;
  l.SetSize(24, 24, 50);
  for (int z = 0; z < 24; ++z)
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 50; ++x) {
        short v = 0;
        if (z >= 6 + (s == 2) && z < 12 && y >= 6 && y < 12 && x >= 6 && x < 12) v = 4;
        if (z >= 12 + (s == 1) && z < 18 && y >= 6 && y < 12 && x >= 6 && x < 12) v = 9;
        if (z >= 18 && z < 20 && y >= 18 && y < 20 && x >= 18 && x < 20) v = 17;
        l[z][y][x] = v;
      }
  return l;
}

int ClassOfValue(int v) { return v == 4 ? 1 : v == 9 ? 2 : 0; }

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(PrepareTrainingDataTest, GoldenTargetFromThreeSubjects) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp.path() + "/src");
  for (int s = 0; s < 3; ++s) {
    const Shorts labels = GoldenLabels(s);
    WriteSubject(tmp.path() + "/src", std::to_string(s), Brain(labels, 10 * s), labels);
  }
  // A target name with a blank and shell characters is just a name.
  const std::string target = "out dir;$x";
  const ProcessResult r =
      RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", target}, tmp.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string out = tmp.path() + "/" + target;

  EXPECT_EQ(FileNames(out),
            (std::vector<std::string>{"0.hdr", "0.img", "1", "1.hdr", "1.img", "2.hdr", "2.img", "I00000.3dm",
                                      "I00000_0_prob.3dm", "I00000_1_prob.3dm", "I00000_2_prob.3dm",
                                      "I00000_atlas.hdr", "I00000_atlas.img", "I00000_label.3dm", "I00001.3dm",
                                      "I00001_0_prob.3dm", "I00001_1_prob.3dm", "I00001_2_prob.3dm",
                                      "I00001_atlas.hdr", "I00001_atlas.img", "I00001_label.3dm", "I00002.3dm",
                                      "I00002_0_prob.3dm", "I00002_1_prob.3dm", "I00002_2_prob.3dm",
                                      "I00002_atlas.hdr", "I00002_atlas.img", "I00002_label.3dm", "atlas.3dm",
                                      "known.3dm", "label_mapping.txt", "mri_intensity_common.3dm",
                                      "mri_intensity_template.3dm", "setting.txt", "training_done.txt"}));
  EXPECT_EQ(ReadFileText(out + "/training_done.txt"), "Iterations: 1\n");
  EXPECT_EQ(ReadFileText(out + "/label_mapping.txt"), "0  0\n4  1\n9  2\n");
  // The intensity range is the template's lowest positive voxel and its trimmed top.
  EXPECT_EQ(ReadFileText(out + "/setting.txt"),
            "ModelType: 3\nNumberofClasses: 3\nRadius: 5\nSub-volume: 0 0 0 39 23 23\nIntensityRange:40 74\n"
            "IntensityType: 4\nClassifierVersion: 0\n");

  // Box (0, 0, 0)-(39, 23, 23): 24 x 24 x 40 volumes. Atlas: majority class; known:
  // the class where all three agree, else K + 1 = 4; case labels 0/1/2, 4 where agreed.
  HeapMatrix3D<unsigned char> atlas, known, label1;
  ASSERT_TRUE(atlas.Load(out + "/atlas.3dm"));
  ASSERT_TRUE(known.Load(out + "/known.3dm"));
  ASSERT_TRUE(label1.Load(out + "/I00001_label.3dm"));
  ASSERT_EQ(atlas.dim0(), 24);
  ASSERT_EQ(atlas.dim1(), 24);
  ASSERT_EQ(atlas.dim2(), 40);
  const Shorts l0 = GoldenLabels(0), l1 = GoldenLabels(1), l2 = GoldenLabels(2);
  int agreedVoxels = 0;
  for (int z = 0; z < 24; ++z)
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 40; ++x) {
        const int c[3] = {ClassOfValue(l0[z][y][x]), ClassOfValue(l1[z][y][x]), ClassOfValue(l2[z][y][x])};
        int best = 0, bestCount = 0;
        for (int k = 0; k < 3; ++k) {
          const int n = (c[0] == k) + (c[1] == k) + (c[2] == k);
          if (n > bestCount) best = k, bestCount = n;
        }
        const bool agreed = c[0] == c[1] && c[1] == c[2];
        agreedVoxels += agreed;
        ASSERT_EQ(atlas[z][y][x], best) << z << " " << y << " " << x;
        ASSERT_EQ(known[z][y][x], agreed ? c[0] : 4) << z << " " << y << " " << x;
        ASSERT_EQ(label1[z][y][x], agreed ? 4 : c[1]) << z << " " << y << " " << x;
      }
  // Disagreement: slice 6 (4 in two subjects, 0 in one) and slice 12 (9 / 0 / 9).
  EXPECT_EQ(agreedVoxels, 24 * 24 * 40 - 2 * 36);
  EXPECT_EQ(atlas[6][8][8], 1);
  EXPECT_EQ(atlas[12][8][8], 2);
  EXPECT_EQ(known[19][19][19], 0);  // label 17 is unnumbered: class 0 everywhere

  // The template is subject 0 as read; the common labels its full-size labels.
  Shorts templ, common;
  ASSERT_TRUE(templ.Load(out + "/mri_intensity_template.3dm"));
  ASSERT_TRUE(common.Load(out + "/mri_intensity_common.3dm"));
  EXPECT_EQ(common.dim2(), 50);
  EXPECT_EQ(common[19][19][19], 17);
  EXPECT_EQ(templ[19][19][19], Brain(l0, 0)[19][19][19]);
}

TEST(PrepareTrainingDataTest, AFileThatCannotBeWrittenStopsTheRun) {
  // A folder in the place of the file makes its writing fail.
  for (const char* blocked : {"label_mapping.txt", "setting.txt", "I00001.3dm", "atlas.3dm"}) {
    TempFolder tmp;
    const std::string src = tmp.path() + "/src", out = tmp.path() + "/out";
    std::filesystem::create_directories(src);
    for (int s = 0; s < 2; ++s) {
      const Shorts labels = GoldenLabels(s);
      WriteSubject(src, std::to_string(s), Brain(labels, 10 * s), labels);
    }
    std::filesystem::create_directories(out + "/" + blocked);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PrepareTrainingData(src, out, 2)) << blocked;
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::string line = "Unable to write " + out + "/" + blocked + "\n";
    ASSERT_GE(printed.size(), line.size()) << blocked;
    EXPECT_EQ(printed.substr(printed.size() - line.size()), line) << blocked << ": " << printed;
  }
}

TEST(PrepareTrainingDataTest, TrainingRefusesATargetThatHoldsFiles) {
  // Training removes and rewrites folders under its target: an earlier run's or the
  // user's files there are never touched.
  TempFolder tmp;
  std::filesystem::create_directories(tmp.path() + "/src");
  std::filesystem::create_directories(tmp.path() + "/out/1/labels");
  WriteFileText(tmp.path() + "/out/1/labels/keep.txt", "mine");
  const ProcessResult r = Train(tmp, {"-n", "2"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "The target folder out exists and is not empty; train into a new folder\n");
  EXPECT_EQ(ReadFileText(tmp.path() + "/out/1/labels/keep.txt"), "mine");
}

TEST(PrepareTrainingDataTest, PathsWithBlanksAreTakenAsTheyAre) {
  // Training into " lead" beside an existing "lead": every file and folder operation
  // acts on " lead", none on "lead".
  TempFolder tmp;
  std::filesystem::create_directories(tmp.path() + "/src");
  for (int s = 0; s < 2; ++s) {
    const Shorts labels = GoldenLabels(s);
    WriteSubject(tmp.path() + "/src", std::to_string(s), Brain(labels, 10 * s), labels);
  }
  std::filesystem::create_directories(tmp.path() + "/lead/1/labels");
  WriteFileText(tmp.path() + "/lead/1/labels/keep.txt", "mine");
  const ProcessResult r = RunProcess({SEGMENTER_EXE, "-r", "1", "-n", "2", "-t", "1", "src", " lead"}, tmp.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(FileNames(tmp.path() + "/lead"), std::vector<std::string>{"1"});
  EXPECT_EQ(FileNames(tmp.path() + "/lead/1/labels"), std::vector<std::string>{"keep.txt"});
  EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/ lead/1/clf"));
  EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/ lead/I00001_label.3dm"));
  EXPECT_TRUE(std::filesystem::exists(tmp.path() + "/ lead/1.img"));
}

TEST(PrepareTrainingDataTest, ASubjectThatCannotBeNormalisedStopsTheTraining) {
  // A template whose intensities span fewer than 20 values cannot be mapped; the run
  // says so and the target is not marked as trained.
  TempFolder tmp;
  std::filesystem::create_directories(tmp.path() + "/src");
  const Shorts labels = Labels(6, {{1, {1, 3}}, {2, {3, 5}}});
  WriteSubject(tmp.path() + "/src", "0", Brain(labels, 0), labels);
  const ProcessResult r = Train(tmp, {"-n", "2"});
  EXPECT_EQ(r.status, 1);
  const std::string line = "The template subject src\\0.brain.hdr cannot be normalised\n";
  ASSERT_GE(r.out.size(), line.size()) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - line.size()), line) << r.out;
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/out/training_done.txt"));
}
