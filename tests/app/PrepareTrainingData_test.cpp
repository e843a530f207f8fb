#include "app/PrepareTrainingData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
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
      {"empty box", {"-n", "0"},
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
      {"label of the first subject missing", {"-n", "2"},
       [&](const std::string& src) {
         WriteSubject(src, "0", Brain(good, 0), good);
         const Shorts fewer = Labels(6, {{1, {1, 5}}});
         WriteSubject(src, "1", Brain(fewer, 5), fewer);
       },
       "Subject src\\1.brain.hdr cannot be normalised: label 2 of the first subject does not occur in it\n"},
      {"too many structures", {"-n", "254"},
       [&](const std::string& src) { WriteSubject(src, "0", Brain(good, 0), good); },
       "The number of structures 254 is outside 0 .. 253\n"},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    std::filesystem::create_directories(tmp.path() + "/src");
    c.make(tmp.path() + "/src");
    std::vector<std::string> options = c.options;
    options.push_back("-t");
    options.push_back("0");
    const ProcessResult r = Train(tmp, options);
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.out, c.message) << c.name;
    EXPECT_TRUE(std::filesystem::is_directory(tmp.path() + "/out")) << c.name;
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path() + "/out")) << c.name;
  }
}
