#include "app/SegmentVolumes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../models/ModelFolderFixture.h"
#include "TestSupport.h"
#include "TrainedModelFixture.h"
#include "app/Kro_BrainSetting.h"
#include "features/FeatureFlags.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtFlags.h"
#include "platform/NativePath.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace fs = std::filesystem;

namespace {

using Bytes = HeapMatrix3D<unsigned char>;
using Shorts = HeapMatrix3D<short>;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Index of the first line at or after `from` that starts with `prefix`; -1 when none.
int FindLine(const std::vector<std::string>& lines, const std::string& prefix, int from = 0) {
  for (int n = from; n < static_cast<int>(lines.size()); ++n)
    if (lines[n].compare(0, prefix.size(), prefix) == 0) return n;
  return -1;
}

std::set<int> Values(const Shorts& v) {
  std::set<int> values;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) values.insert(v(z, y, x));
  return values;
}

using SegmentationRoad = TrainedModelFixture;

TEST_F(SegmentationRoad, ConsoleLinesComeInOrderAndAnImgTargetWritesOnePair) {
  const ProcessResult r = Segment({"-m", "model", "test/s2.brain.img", "out.img"});
  ASSERT_EQ(r.status, 0) << r.out;
  const std::vector<std::string> lines = Lines(r.out);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "setting file: model\\appearance\\setting.txt");
  EXPECT_EQ(lines[1], "appearance models ok.");
  EXPECT_EQ(lines[2], "processing volume: test\\s2.brain.img");
  EXPECT_EQ(lines[3], "size: depth=16, height=16, width=16");
  const int competition = FindLine(lines, "Initializing Region Competition...", 4);
  const int competitionDone = FindLine(lines, "Region Competition Complete!", competition);
  const int sd = FindLine(lines, "assigned_sd = ", competitionDone);
  ASSERT_EQ(competition, 4);
  ASSERT_GT(competitionDone, competition);
  ASSERT_GT(sd, competitionDone);
  EXPECT_EQ(lines[sd], "assigned_sd = 0.000000");
  EXPECT_EQ(lines[sd + 1], "Intensity Normalization Complete!");
  EXPECT_EQ(lines[sd + 2].rfind("computing probability masks...context iteration 1", 0), 0u) << lines[sd + 2];
  EXPECT_EQ(lines.back(), "out.img");

  EXPECT_TRUE(fs::exists(Root() + "/out.hdr"));
  Shorts out;
  ASSERT_TRUE(ReadAnalyze(Root() + "/out.img", out));
  ASSERT_EQ(out.dim0(), 16);
  ASSERT_EQ(out.dim1(), 16);
  ASSERT_EQ(out.dim2(), 16);
  // Classes are mapped back to the training label values.
  const std::set<int> values = Values(out);
  for (int v : values) EXPECT_TRUE(v == 0 || v == 4 || v == 9) << v;
  EXPECT_TRUE(values.count(4) && values.count(9));
}

TEST_F(SegmentationRoad, OutputFollowsTheExtension) {
  ASSERT_EQ(Segment({"-m", "model", "test/s2.brain.img", "out.img"}).status, 0);
  ASSERT_EQ(Segment({"-m", "model", "test/s2.brain.img", "out.3dm"}).status, 0);
  Bytes volumeFile;
  Shorts pair;
  ASSERT_TRUE(volumeFile.Load(Root() + "/out.3dm"));
  ASSERT_TRUE(ReadAnalyze(Root() + "/out.img", pair));
  Shorts widened;
  ConvertVolume(widened, volumeFile);
  ASSERT_EQ(widened.NumElements(), pair.NumElements());
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) ASSERT_EQ(widened(z, y, x), pair(z, y, x));

  // An unsupported extension is refused before any work, and nothing is written.
  const ProcessResult r = Segment({"-m", "model", "test/s2.brain.img", "out.nii"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Cannot write out.nii: the output must end in .3dm, .img or .hdr\n");
  EXPECT_FALSE(fs::exists(Root() + "/out.nii"));
}

// A 250-character output name (the system takes 255) is written: the temporaries beside
// it get shortened names, and the voxels are those of a short name.
TEST_F(SegmentationRoad, AnOutputNameOfTwoHundredFiftyCharactersIsWritten) {
  const std::string folder = Root() + "/long";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::string base(246, 'n');
  for (const char* ext : {".img", ".3dm"}) {
    SCOPED_TRACE(ext);
    const ProcessResult shortName = Segment({"-m", "model", "test/s2.brain.img", std::string("long/s") + ext});
    ASSERT_EQ(shortName.status, 0) << shortName.out;
    const ProcessResult r = Segment({"-m", "model", "test/s2.brain.img", "long/" + base + ext});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(ReadFileBytes(folder + "/" + base + ext) == ReadFileBytes(folder + "/s" + ext));
  }
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"s.hdr", "s.img", "s.3dm", base + ".hdr", base + ".img", base + ".3dm"}));
}

TEST_F(SegmentationRoad, FailuresEndWithStatusOneNamingTheFileAndWriteNothing) {
  // A source smaller than the model's box (16^3).
  Shorts small;
  small.SetSize(10, 16, 16);
  small.Fill(60);
  ASSERT_TRUE(small.Save(Root() + "/small.3dm"));
  // A model whose atlas is missing: the region competition has no initial labels.
  const std::string noAtlas = CopyModel("model-no-atlas");
  fs::remove(Root() + "/" + noAtlas + "/appearance/atlas.3dm");
  // A model whose first tree is cut short.
  const std::string badTree = CopyModel("model-bad-tree");
  fs::resize_file(Root() + "/" + badTree + "/appearance/clf", 20);

  // Model folders with one file of "appearance" edited; `model(name)` copies the good one.
  auto model = [](const std::string& name) { return CopyModel(name); };
  auto file = [](const std::string& m, const std::string& name) { return Root() + "/" + m + "/appearance/" + name; };
  auto settingsWith = [&](const std::string& m, const std::string& from, const std::string& to) {
    std::string text = ReadFileText(file(m, "setting.txt"));
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from << " in " << text;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    WriteFileText(file(m, "setting.txt"), text);
    return m;
  };
  const std::string shortBox =
      settingsWith(model("m-short-box"), "Sub-volume: 0 0 0 15 15 15", "Sub-volume: 0 0 0 15 15");
  const std::string radius = settingsWith(model("m-radius"), "Radius: 5", "Radius: 11");
  const std::string oneClass = settingsWith(model("m-one-class"), "NumberofClasses: 3", "NumberofClasses: 1");
  const std::string fiveClasses = settingsWith(model("m-five-classes"), "NumberofClasses: 3", "NumberofClasses: 5");
  const std::string type0 = settingsWith(model("m-type0"), "ModelType: 3", "ModelType: 0");
  const std::string emptySettings = model("m-empty-settings");
  WriteFileText(file(emptySettings, "setting.txt"), "");
  const std::string folderSettings = model("m-folder-settings");
  fs::remove(file(folderSettings, "setting.txt"));
  fs::create_directory(file(folderSettings, "setting.txt"));
  // A "clf" whose one feature is a profile run of 2^31 - 1 steps.
  const std::string profile = model("m-profile");
  {
    PbtFid run;
    run.kind = '1';
    run.index = 2147483647;
    run.subtype = 2;
    model_fixture::WriteStumpTree(file(profile, "clf"), run, 1.0f, {0.6, 0.3, 0.1}, {0.1, 0.3, 0.6});
  }
  const std::string nanLift = model("m-nan-lift");
  WriteFileText(file(nanLift, "prob_lift.txt"), "0 1\n1 nan\n2 1\n");
  const std::string emptyKnown = model("m-empty-known");
  WriteFileText(file(emptyKnown, "known.3dm"), "");
  const std::string cutKnown = model("m-cut-known");
  fs::resize_file(file(cutKnown, "known.3dm"), fs::file_size(file(cutKnown, "known.3dm")) - 100);
  const std::string folderKnown = model("m-folder-known");
  fs::remove(file(folderKnown, "known.3dm"));
  fs::create_directory(file(folderKnown, "known.3dm"));
  const std::string otherKnown = model("m-other-known");
  {
    Bytes known;
    known.SetSize(16, 16, 15);
    known.Fill(4);
    ASSERT_TRUE(known.Save(file(otherKnown, "known.3dm")));
  }

  const struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string message;  // a line of the output
    bool modelLoaded;
  } cases[] = {
      {"missing source", {"-m", "model", "test/none.brain.img", "o1.img"}, "Cannot read the volume test\\none.brain.img",
       true},
      {"box outside", {"-m", "model", "small.3dm", "o2.img"},
       "The model box (0, 0, 0)-(15, 15, 15) does not lie inside small.3dm of 16 x 16 x 10", true},
      {"no model folder", {"-m", "nowhere", "test/s2.brain.img", "o3.img"},
       "Cannot read the model settings nowhere\\appearance\\setting.txt: no such file", false},
      {"tree does not load", {"-m", badTree, "test/s2.brain.img", "o4.img"},
       "Truncated or corrupt classifier file: model-bad-tree\\appearance\\clf", false},
      {"region competition fails", {"-m", noAtlas, "test/s2.brain.img", "o5.img"},
       "File model-no-atlas\\appearance\\atlas.3dm does not exist!", true},
      {"output folder missing", {"-m", "model", "test/s2.brain.img", "no/such/folder/o6.img"},
       "Cannot write no\\such\\folder\\o6.img", true},
      {"sub-volume of five numbers", {"-m", shortBox, "test/s2.brain.img", "o7.img"},
       "invalid model settings in m-short-box\\appearance\\setting.txt", false},
      {"radius 11", {"-m", radius, "test/s2.brain.img", "o8.img"},
       "invalid model settings in m-radius\\appearance\\setting.txt", false},
      {"one class for trees of three", {"-m", oneClass, "test/s2.brain.img", "o9.img"},
       "classifier m-one-class\\appearance\\clf gives 3 class posteriors, but NumberofClasses is 1", false},
      {"five classes for trees of three", {"-m", fiveClasses, "test/s2.brain.img", "o10.img"},
       "classifier m-five-classes\\appearance\\clf gives 3 class posteriors, but NumberofClasses is 5", false},
      {"model type 0", {"-m", type0, "test/s2.brain.img", "o11.img"},
       "m-type0\\appearance\\setting.txt names no model that can segment (ModelType 0)", false},
      {"empty settings", {"-m", emptySettings, "test/s2.brain.img", "o12.img"},
       "Cannot read the model settings m-empty-settings\\appearance\\setting.txt: the file is empty", false},
      {"a folder for settings", {"-m", folderSettings, "test/s2.brain.img", "o13.img"},
       "Cannot read the model settings m-folder-settings\\appearance\\setting.txt: not a regular file", false},
      {"a profile feature of 2^31 - 1 steps", {"-m", profile, "test/s2.brain.img", "o14.img"},
       "classifier m-profile\\appearance\\clf names a feature outside the model's feature pool: kind '1' (49), "
       "params 0 0 0 0 0 0, index 2147483647, subtype 2, offset ",
       false},
      {"a NaN lift factor", {"-m", nanLift, "test/s2.brain.img", "o15.img"},
       "invalid lift factor nan of class 1 in m-nan-lift\\appearance\\prob_lift.txt: it must be finite and positive",
       false},
      {"an empty known volume", {"-m", emptyKnown, "test/s2.brain.img", "o16.img"},
       "Cannot read the known-class volume m-empty-known\\appearance\\known.3dm", false},
      {"a cut known volume", {"-m", cutKnown, "test/s2.brain.img", "o17.img"},
       "Cannot read the known-class volume m-cut-known\\appearance\\known.3dm", false},
      {"a folder for the known volume", {"-m", folderKnown, "test/s2.brain.img", "o18.img"},
       "Cannot read the known-class volume m-folder-known\\appearance\\known.3dm: not a regular file", false},
      {"a known volume of other extents", {"-m", otherKnown, "test/s2.brain.img", "o19.img"},
       "the known-class volume m-other-known\\appearance\\known.3dm has 15 x 16 x 16 voxels, the model's box 16 x 16 x "
       "16",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult r = Segment(c.args);
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_GE(FindLine(lines, c.message), 0) << r.out;
    EXPECT_EQ(FindLine(lines, "appearance models ok.") >= 0, c.modelLoaded) << r.out;
    // A model that does not load: the settings line and the one line that says why.
    if (!c.modelLoaded) {
      EXPECT_EQ(lines.size(), 2u) << r.out;
    }
    const std::string base = Root() + "/" + c.args.back().substr(0, c.args.back().size() - 4);
    EXPECT_FALSE(fs::exists(base + ".img"));
    EXPECT_FALSE(fs::exists(base + ".hdr"));
  }
}

TEST_F(SegmentationRoad, VoxelsOutsideTheBoxTakeTheMappingOfClassZero) {
  // The source is the test subject padded by four voxels at the far end of every axis;
  // the model's box covers the first 16^3.
  Shorts subject;
  ASSERT_TRUE(ReadAnalyze(Root() + "/test/s2.brain.img", subject));
  Shorts padded;
  padded.SetSize(20, 20, 20);
  padded.Fill(60);
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) padded(z, y, x) = subject(z, y, x);
  ASSERT_TRUE(padded.Save(Root() + "/padded.3dm"));
  const std::string mapped = CopyModel("model-mapped");
  WriteFileText(Root() + "/" + mapped + "/appearance/label_mapping.txt", "7  0\n4  1\n9  2\n");

  const ProcessResult r = Segment({"-m", mapped, "padded.3dm", "padded_out.3dm"});
  ASSERT_EQ(r.status, 0) << r.out;
  Bytes out;
  ASSERT_TRUE(out.Load(Root() + "/padded_out.3dm"));
  ASSERT_EQ(out.dim0(), 20);
  int outside = 0;
  for (int z = 0; z < 20; ++z)
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) {
        if (z < 16 && y < 16 && x < 16) {
          EXPECT_TRUE(out(z, y, x) == 7 || out(z, y, x) == 4 || out(z, y, x) == 9);
        } else {
          EXPECT_EQ(out(z, y, x), 7);
          ++outside;
        }
      }
  EXPECT_EQ(outside, 20 * 20 * 20 - 16 * 16 * 16);
}

TEST_F(SegmentationRoad, AtlasFormRunsTheCompetitionOnlyAndOpensNoModelFile) {
  gTypedClassifierFiles = 1;
  gAtlasPath = Root() + "/test/s2.label.img";
  Kro_BrainSetting setting;
  setting.source = (Root() + "/test/s2.brain.img").c_str();
  setting.target = (Root() + "/competition.img").c_str();
  setting.modelDir = (Root() + "/model").c_str();
  std::vector<std::string> opened;
  RecordInputOpensForTesting(&opened);
  const bool ok = SegmentVolumes(setting, true);
  RecordInputOpensForTesting(nullptr);
  EXPECT_TRUE(ok);
  for (const std::string& path : opened) EXPECT_EQ(NativePath(path).find("/model"), std::string::npos) << path;
  Shorts out;
  ASSERT_TRUE(ReadAnalyze(Root() + "/competition.img", out));
  for (int v : Values(out)) EXPECT_LE(v, 9);
}

TEST_F(SegmentationRoad, FolderFormSkipsAVolumeThatFailsAndWritesTheOthers) {
  const std::string in = Root() + "/batch", out = Root() + "/batch_out";
  fs::create_directories(in);
  fs::create_directories(out);
  Shorts subject;
  ASSERT_TRUE(ReadAnalyze(Root() + "/test/s2.brain.img", subject));
  ASSERT_TRUE(subject.Save(in + "/b_good.3dm"));
  WriteFileText(in + "/a_broken.3dm", "not a volume");

  gTypedClassifierFiles = 1;
  gAtlasPath = Root() + "\\model\\appearance\\atlas.3dm";
  Kro_BrainSetting setting;
  setting.singleFile = 0;
  setting.source = in.c_str();
  setting.target = out.c_str();
  setting.modelDir = (Root() + "/model").c_str();
  EXPECT_FALSE(SegmentVolumes(setting, false));
  EXPECT_FALSE(fs::exists(out + "/a_broken_label.3dm"));
  Bytes labels;
  ASSERT_TRUE(labels.Load(out + "/b_good_label.3dm"));
  EXPECT_EQ(labels.dim0(), 16);
}

TEST_F(SegmentationRoad, AnOutputThatIsAnInputIsRefusedBeforeAnyWork) {
  // Copies of the test subject and of its labels, with second paths to them.
  const std::string self = Root() + "/self";
  fs::create_directories(self + "/d");
  for (const char* ext : {".hdr", ".img"}) {
    fs::copy_file(Root() + "/test/s2.brain" + ext, self + "/s" + ext, fs::copy_options::overwrite_existing);
    fs::copy_file(Root() + "/test/s2.label" + ext, self + "/atlas" + ext, fs::copy_options::overwrite_existing);
  }
  Shorts subject;
  ASSERT_TRUE(ReadAnalyze(self + "/s.img", subject));
  ASSERT_TRUE(subject.Save(self + "/v.3dm"));
  fs::remove(self + "/hard.img");
  fs::remove(self + "/soft.img");
  fs::create_hard_link(self + "/s.img", self + "/hard.img");
  fs::create_symlink("s.hdr", self + "/soft.hdr");
  const std::vector<std::string> inputs = {"s.hdr", "s.img", "v.3dm", "atlas.hdr", "atlas.img"};
  std::vector<std::vector<uint8_t>> bytes;
  for (const std::string& name : inputs) bytes.push_back(ReadFileBytes(self + "/" + name));

  const struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string line;  // the whole output
  } cases[] = {
      {"the source's .img", {"-m", "model", "self/s.img", "self/s.img"},
       "Cannot write self\\s.img: self\\s.hdr is the same file as the input self\\s.hdr"},
      {"the source's .hdr, named by its .img", {"-m", "model", "self/s.img", "self/s.hdr"},
       "Cannot write self\\s.hdr: self\\s.hdr is the same file as the input self\\s.hdr"},
      {"a hard link to the source's .img", {"-m", "model", "self/s.hdr", "self/hard.img"},
       "Cannot write self\\hard.img: self\\hard.img is the same file as the input self\\s.img"},
      {"a symbolic link to the source's .hdr", {"-m", "model", "self/s.hdr", "self/soft.img"},
       "Cannot write self\\soft.img: self\\soft.hdr is the same file as the input self\\s.hdr"},
      {"a path through another folder", {"-m", "model", "self/s.hdr", "self/d/../s.img"},
       "Cannot write self\\d\\..\\s.img: self\\d\\..\\s.hdr is the same file as the input self\\s.hdr"},
      {"a volume file source", {"-m", "model", "self/v.3dm", "self/d/../v.3dm"},
       "Cannot write self\\d\\..\\v.3dm: self\\d\\..\\v.3dm is the same file as the input self\\v.3dm"},
      {"the source on the atlas road", {"-a", "self/atlas.img", "self/s.img", "self/hard.img"},
       "Cannot write self\\hard.img: self\\hard.img is the same file as the input self\\s.img"},
      {"the atlas on the atlas road", {"-a", "self/atlas.img", "self/s.img", "self/atlas.hdr"},
       "Cannot write self\\atlas.hdr: self\\atlas.hdr is the same file as the input self/atlas.hdr"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult r = Segment(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    for (size_t i = 0; i < inputs.size(); ++i)
      EXPECT_TRUE(ReadFileBytes(self + "/" + inputs[i]) == bytes[i]) << inputs[i];
  }
}

// Every later segmentation with a model would read what an output written into it left
// there: an output inside the model folder, or one that is a file of the model under
// another path, is refused before any work and the model stays as it was.
TEST_F(SegmentationRoad, AnOutputInsideTheModelFolderIsRefusedBeforeAnyWork) {
  const std::string m = CopyModel("kept-model");
  // The tree of a second pass, as a model of two iterations holds it.
  fs::copy_file(Root() + "/" + m + "/appearance/clf", Root() + "/" + m + "/appearance/clf1");
  fs::remove(Root() + "/linked.3dm");
  fs::remove(Root() + "/linked-model");
  fs::create_hard_link(Root() + "/" + m + "/appearance/known.3dm", Root() + "/linked.3dm");
  fs::create_directory_symlink(m, Root() + "/linked-model");
  const std::map<std::string, std::string> before = TreeContents(Root() + "/" + m);
  const std::string inside = ": it lies inside the model folder ";

  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  std::vector<Case> cases;
  // Each file of the model folder as the output, whatever its extension.
  for (const auto& [name, bytes] : before) {
    if (bytes == "<folder>") continue;
    std::string shown = m + "/" + name;
    ToBackslashes(shown);
    cases.push_back({{"-m", m, "test/s2.brain.img", m + "/" + name}, "Cannot write " + shown + inside + m});
  }
  ASSERT_GE(cases.size(), 8u);  // setting.txt, clf, clf1, atlas, known, two templates, mapping
  cases.push_back({{"-m", m, "test/s2.brain.img", m + "/appearance/new.img"},
                   "Cannot write " + m + "\\appearance\\new.img" + inside + m});
  cases.push_back({{"-m", m, "test/s2.brain.img", m + "/deeper/new.3dm"},
                   "Cannot write " + m + "\\deeper\\new.3dm" + inside + m});
  cases.push_back({{"-m", m + "/", "test/s2.brain.img", "test/../" + m + "/new.hdr"},
                   "Cannot write test\\..\\" + m + "\\new.hdr" + inside + m});
  cases.push_back({{"-m", "linked-model", "test/s2.brain.img", m + "/appearance/known.3dm"},
                   "Cannot write " + m + "\\appearance\\known.3dm" + inside + "linked-model"});
  cases.push_back({{"-m", m, "test/s2.brain.img", "linked.3dm"},
                   "Cannot write linked.3dm: linked.3dm is the same file as the input " + m + "/appearance/known.3dm"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ProcessResult r = Segment(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_TRUE(TreeContents(Root() + "/" + m) == before) << "the model folder changed";
  }
  // A model through a link segments as the model does.
  const ProcessResult linked = Segment({"-m", "linked-model", "test/s2.brain.img", "through-link.img"});
  EXPECT_EQ(linked.status, 0) << linked.out;
}

// A pattern over a training folder can name a subject's own files as the two arguments
// ("<name>.*.hdr": the brain volume and the labels; "*.brain.hdr": two subjects), and the
// second would be replaced by labels. An existing file named as a subject's volume in the
// source's folder (the same folder on disk, by any path) is refused as an output, on both
// roads, before any work; a new such name is written, and so is one in another folder,
// as a rerun of a loop over the subjects writes it.
TEST_F(SegmentationRoad, AnExistingSubjectVolumeIsNotAnOutput) {
  const std::string subjects = Root() + "/subjects";
  fs::remove_all(subjects);
  fs::create_directories(subjects);
  for (const char* ext : {".hdr", ".img"}) {
    fs::copy_file(Root() + "/test/s2.brain" + ext, subjects + "/s2.brain" + ext);
    fs::copy_file(Root() + "/test/s2.label" + ext, subjects + "/s2.label" + ext);
    fs::copy_file(Root() + "/src/s0.brain" + ext, subjects + "/s3.brain" + ext);
  }
  fs::copy_file(Root() + "/test/s2.label.hdr", subjects + "/half.label.hdr");  // a header alone
  fs::remove(Root() + "/link");
  fs::create_directory_symlink("subjects", Root() + "/link");
  const std::map<std::string, std::string> before = TreeContents(subjects);
  const std::string named = " exists and is named as a subject's volume";

  const struct Case {
    const char* name;
    std::string from;       // the working folder, under the suite's folder
    std::string arguments;  // expanded by the shell
    std::string line;
  } cases[] = {
      {"a subject's two headers", ".", "-m model subjects/s2.*.hdr",
       "Cannot write subjects\\s2.label.hdr: subjects\\s2.label.hdr" + named},
      {"the brains of two subjects", ".", "-m model subjects/*.brain.hdr",
       "Cannot write subjects\\s3.brain.hdr: subjects\\s3.brain.hdr" + named},
      {"the labels' voxel file", ".", "-m model subjects/s2.brain.hdr subjects/s2.label.img",
       "Cannot write subjects\\s2.label.img: subjects\\s2.label.img" + named},
      {"the other file of the pair exists", ".", "-m model subjects/s2.brain.hdr subjects/half.label.img",
       "Cannot write subjects\\half.label.img: subjects\\half.label.hdr" + named},
      {"names without a folder, in the subjects' folder", "subjects", "-m ../model s2.*.hdr",
       "Cannot write s2.label.hdr: s2.label.hdr" + named},
      {"the target through a link to the source's folder", ".", "-m model subjects/s2.brain.hdr link/s2.label.img",
       "Cannot write link\\s2.label.img: link\\s2.label.img" + named},
      {"the atlas road", ".", "-a model/appearance/atlas.3dm subjects/s2.*.img",
       "Cannot write subjects\\s2.label.img: subjects\\s2.label.img" + named},
      {"the atlas road, the source through a link", ".",
       "-a model/appearance/atlas.3dm link/s2.brain.img subjects/s3.brain.hdr",
       "Cannot write subjects\\s3.brain.hdr: subjects\\s3.brain.hdr" + named},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult r =
        RunProcess({"/bin/bash", "-c", "exec \"$0\" " + c.arguments, SEGMENTER_EXE}, Root() + "/" + c.from);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_TRUE(TreeContents(subjects) == before) << "a subject's file changed";
  }

  const ProcessResult fresh = Segment({"-m", "model", "subjects/s2.brain.hdr", "subjects/s4.label.img"});
  EXPECT_EQ(fresh.status, 0) << fresh.out;
  Shorts labels;
  EXPECT_TRUE(ReadAnalyze(subjects + "/s4.label.hdr", labels));
  fs::remove(subjects + "/s4.label.hdr");
  fs::remove(subjects + "/s4.label.img");

  // The loop over the subjects, run again (after a new model) into the same folder: the
  // second pass replaces what the first wrote, here made stale, with the same files.
  const std::string out = Root() + "/out";
  fs::remove_all(out);
  fs::create_directories(out);
  const std::string loop = "for s in subjects/*.brain.hdr; do \"$0\" -m model \"$s\" \"out/${s##*/}\" || exit 1; done";
  const ProcessResult first = RunProcess({"/bin/bash", "-c", loop, SEGMENTER_EXE}, Root());
  ASSERT_EQ(first.status, 0) << first.out;
  const std::map<std::string, std::string> written = TreeContents(out);
  std::set<std::string> names;
  for (const auto& [name, bytes] : written) {
    names.insert(name);
    WriteFileText(out + "/" + name, "labels of an older model");
  }
  EXPECT_EQ(names, (std::set<std::string>{"s2.brain.hdr", "s2.brain.img", "s3.brain.hdr", "s3.brain.img"}));
  const ProcessResult second = RunProcess({"/bin/bash", "-c", loop, SEGMENTER_EXE}, Root());
  EXPECT_EQ(second.status, 0) << second.out;
  EXPECT_TRUE(TreeContents(out) == written) << "the second pass wrote other files";

  // One subject's labels written twice into a folder of predictions, on either road.
  const struct Rerun {
    const char* name;
    std::vector<std::string> args;
  } reruns[] = {
      {"the model road", {"-m", "model", "subjects/s2.brain.hdr", "pred/s2.label.img"}},
      {"the atlas road", {"-a", "model/appearance/atlas.3dm", "subjects/s3.brain.img", "pred/s3.label.hdr"}},
  };
  fs::remove_all(Root() + "/pred");
  fs::create_directories(Root() + "/pred");
  for (const Rerun& c : reruns) {
    SCOPED_TRACE(c.name);
    std::string shown = c.args.back();
    ToBackslashes(shown);
    const ProcessResult once = Segment(c.args);
    ASSERT_EQ(once.status, 0) << once.out;
    EXPECT_EQ(Lines(once.out).back(), shown);
    const std::map<std::string, std::string> predicted = TreeContents(Root() + "/pred");
    const ProcessResult twice = Segment(c.args);
    EXPECT_EQ(twice.status, 0) << twice.out;
    EXPECT_EQ(twice.out, once.out);
    EXPECT_TRUE(TreeContents(Root() + "/pred") == predicted);
  }
  EXPECT_TRUE(TreeContents(subjects) == before) << "a subject's file changed";
}

// A model folder whose "appearance" is a link to a shared copy: the shared files are the
// model's, by either path, and a new file beside them would lie in the model's tree.
TEST_F(SegmentationRoad, AnOutputInALinkedFolderOfTheModelIsRefused) {
  const std::string m = CopyModel("linking-model");
  const std::string shared = Root() + "/shared";
  fs::remove_all(shared);
  fs::create_directories(shared);
  fs::rename(Root() + "/" + m + "/appearance", shared + "/appearance");
  fs::create_directory_symlink("../shared/appearance", Root() + "/" + m + "/appearance");
  // Cycles: links to the folder that holds them and to the one above it.
  fs::create_directory_symlink(".", shared + "/appearance/here");
  fs::create_directory_symlink("..", shared + "/appearance/up");
  fs::remove(Root() + "/hard-known.3dm");
  fs::create_hard_link(shared + "/appearance/known.3dm", Root() + "/hard-known.3dm");
  const std::map<std::string, std::string> before = TreeContents(shared);
  const std::string inside = ": it lies inside the model folder " + m;
  // Bounded, so that a walk of the model that does not end fails the test instead of hanging it.
  const auto segment = [&](const std::string& output) {
    return RunProcess({"/usr/bin/timeout", "-k", "5", "30", SEGMENTER_EXE, "-m", m, "test/s2.brain.img", output}, Root());
  };

  const struct Case {
    std::string output;
    std::string line;
  } cases[] = {
      {m + "/appearance/known.3dm", "Cannot write " + m + "\\appearance\\known.3dm" + inside},
      {m + "/appearance/new.3dm", "Cannot write " + m + "\\appearance\\new.3dm" + inside},
      {"shared/appearance/known.3dm", "Cannot write shared\\appearance\\known.3dm" + inside},
      {"shared/appearance/new.img", "Cannot write shared\\appearance\\new.img" + inside},
      {"hard-known.3dm",
       "Cannot write hard-known.3dm: hard-known.3dm is the same file as the input " + m + "/appearance/known.3dm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const ProcessResult r = segment(c.output);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, c.line + "\n");
    EXPECT_TRUE(TreeContents(shared) == before) << "the shared model files changed";
  }

  // The model still segments, as its unlinked copy does.
  const ProcessResult plain = Segment({"-m", "model", "test/s2.brain.img", "unlinked.img"});
  ASSERT_EQ(plain.status, 0) << plain.out;
  const ProcessResult linked = segment("linked.img");
  ASSERT_EQ(linked.status, 0) << linked.out;
  EXPECT_TRUE(ReadFileBytes(Root() + "/linked.img") == ReadFileBytes(Root() + "/unlinked.img"));
}

TEST_F(SegmentationRoad, AWriteThatFailsOrIsCutShortLeavesNothingUnderTheOutputsNames) {
  // The voxel file (8192 bytes) does not fit the file size limit of 4 KiB the run gets:
  // the write fails as on a full disk, whether the limit's signal is at its default or
  // ignored, and the run says so and removes its temporary files.
  const std::string limited = "ulimit -f 4; exec \"$0\" \"$@\"";
  const struct Case {
    const char* name;
    std::string shell;
  } cases[] = {
      {"the limit's signal at its default", limited},
      {"the limit's signal ignored", "trap '' XFSZ; " + limited},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = Root() + "/cut";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const ProcessResult r =
        RunProcess({"/bin/bash", "-c", c.shell, SEGMENTER_EXE, "-m", "model", "test/s2.brain.img", "cut/out.img"},
                   Root());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out).back(), "Cannot write cut\\out.img");
    EXPECT_TRUE(fs::is_empty(folder));
  }
}

TEST(ReadLabelMappingTest, MapsClassesBackToLabelValues) {
  const struct Case {
    const char* name;
    const char* table;  // null: no file
    std::vector<int> expected;  // voxels of classes 0, 1, 2, 3 afterwards
  } cases[] = {
      {"no file keeps class numbers", nullptr, {0, 1, 2, 3}},
      {"pairs map classes", "0  0\n7  2\n", {0, 1, 7, 3}},
      {"label values keep their low 8 bits; a negative one maps nothing", "300 1\n-1 3\n", {0, 44, 2, 3}},
      {"classes 500 and above or negative are ignored", "5 500\n6 -1\n8 1\n", {0, 8, 2, 3}},
      {"reading stops at the first malformed pair", "5 1\nx 2\n6 3\n", {0, 5, 2, 3}},
      {"a lone number at the end changes nothing", "5 1\n6", {0, 5, 2, 3}},
      {"a later pair for a class wins", "5 1\n6 1\n", {0, 6, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder tmp;
    fs::create_directories(tmp.path() + "/appearance");
    if (c.table) WriteFileText(tmp.path() + "/appearance/label_mapping.txt", c.table);
    Bytes labels;
    labels.SetSize(1, 1, 4);
    for (int x = 0; x < 4; ++x) labels(0, 0, x) = static_cast<unsigned char>(x);
    ReadLabelMapping(tmp.path(), labels);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(labels(0, 0, x), c.expected[x]) << x;
  }
}

}  // namespace
