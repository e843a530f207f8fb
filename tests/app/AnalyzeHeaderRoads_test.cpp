// A subject's Analyze header with its extents edited, one field at a time: read in the
// test's process and on the three roads of the program that read Analyze pairs
// (segmentation with a model, the "-a" atlas form, training). An extent 0 and extents
// the voxel file cannot hold are refused with status 1 and one line saying why, after
// the header's warnings and before the road's own line; a negative extent is read as
// its absolute value.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../models/ModelFolderFixture.h"
#include "SyntheticSubject.h"
#include "TestSupport.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace fs = std::filesystem;

namespace {

using Shorts = HeapMatrix3D<short>;

constexpr int kSide = 16;

void SetExtents(const std::string& header, const std::vector<std::pair<int, int16_t>>& fields) {
  std::vector<uint8_t> bytes = ReadFileBytes(header);
  for (const auto& [offset, value] : fields) std::memcpy(bytes.data() + offset, &value, 2);
  WriteFileBytes(header, bytes);
}

// Two training subjects "src/s0", "src/s1", a subject "good.brain" to segment, and a
// model folder written by hand (a one-stump tree on the atlas), so that no training
// is needed before the roads run.
class AnalyzeHeaderRoads : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = std::make_unique<TempFolder>();
    const std::string root = folder->path();
    fs::create_directories(root + "/src");
    fs::create_directories(root + "/model/appearance");
    Shorts brain, labels;
    for (int s = 0; s < 2; ++s) {
      SyntheticSubject(s, brain, labels, 1, 2);
      ASSERT_EQ(WriteAnalyze16(root + "/src/s" + std::to_string(s) + ".brain.img", brain), 1);
      ASSERT_EQ(WriteAnalyze16(root + "/src/s" + std::to_string(s) + ".label.img", labels), 1);
    }
    SyntheticSubject(2, brain, labels, 1, 2);
    ASSERT_EQ(WriteAnalyze16(root + "/good.brain.img", brain), 1);
    ASSERT_EQ(WriteAnalyze16(root + "/good.label.img", labels), 1);

    const std::string appearance = root + "/model/appearance/";
    WriteFileText(appearance + "setting.txt",
                  model_fixture::Settings(3, 3, 5, "0 0 0 15 15 15") +
                      "IntensityRange:4 255\nIntensityType: 4\nClassifierVersion: 0\n");
    model_fixture::WriteAtlasStumpTree(appearance + "clf", 0.5f, {0.8, 0.1, 0.1}, {0.1, 0.45, 0.45});
    ASSERT_TRUE(brain.Save(appearance + "mri_intensity_template.3dm"));
    ASSERT_TRUE(labels.Save(appearance + "mri_intensity_common.3dm"));
    HeapMatrix3D<unsigned char> atlas;
    ConvertVolume(atlas, labels);
    ASSERT_TRUE(atlas.Save(appearance + "atlas.3dm"));
  }
  static void TearDownTestSuite() { folder.reset(); }

  static std::string Root() { return folder->path(); }
  static ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {SEGMENTER_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv, Root());
  }
  // "<stem>.hdr"/".img" as a copy of "<from>.hdr"/".img" with the header fields set.
  static void EditedPair(const std::string& from, const std::string& stem,
                         const std::vector<std::pair<int, int16_t>>& fields) {
    for (const char* ext : {".hdr", ".img"})
      fs::copy_file(Root() + "/" + from + ext, Root() + "/" + stem + ext, fs::copy_options::overwrite_existing);
    SetExtents(Root() + "/" + stem + ".hdr", fields);
  }

  static std::unique_ptr<TempFolder> folder;
};

std::unique_ptr<TempFolder> AnalyzeHeaderRoads::folder;

// dim[1], dim[2], dim[3]: the x, y and z extents.
constexpr int kX = 42, kY = 44, kZ = 46;

TEST_F(AnalyzeHeaderRoads, ZeroExtentsAndExtentsBeyondTheFileAreRefusedOnEveryRoad) {
  const std::string warnings = "WARNING: Illegal dimension\nWARNING: Note illegal values\n";
  const struct Case {
    const char* name;
    std::vector<std::pair<int, int16_t>> fields;
    bool warns;          // an extent <= 0 as stored
    std::string reason;  // the reader's line; "%s" is the voxel file as named
  } cases[] = {
      {"x extent 0", {{kX, 0}}, true, "Can not read %s: its header's extents 0 x 16 x 16 hold no voxel\n"},
      {"y extent 0", {{kY, 0}}, true, "Can not read %s: its header's extents 16 x 0 x 16 hold no voxel\n"},
      {"z extent 0", {{kZ, 0}}, true, "Can not read %s: its header's extents 16 x 16 x 0 hold no voxel\n"},
      {"every extent 0", {{kX, 0}, {kY, 0}, {kZ, 0}}, true,
       "Can not read %s: its header's extents 0 x 0 x 0 hold no voxel\n"},
      {"x extent 32767", {{kX, 32767}}, false, "file read error\n"},
      {"every extent 32767", {{kX, 32767}, {kY, 32767}, {kZ, 32767}}, false, "file read error\n"},
      {"z extent -32768", {{kZ, -32768}}, true, "file read error\n"},
  };
  auto fill = [](std::string text, const std::string& name) {
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, name);
    return text;
  };
  auto headerLine = [](bool warns, const std::string& header) {
    return warns ? "P: invalid dimensions less than or equal to zero in header file " + header + "\n" : std::string();
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string warned = c.warns ? warnings : "";

    // The reader in this process.
    EditedPair("good.brain", "bad.brain", c.fields);
    Shorts read;
    read.SetSize(2, 2, 2);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const bool ok = ReadAnalyze(Root() + "/bad.brain.hdr", read);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_EQ(read.NumElements(), 0);
    EXPECT_EQ(out, warned + fill(c.reason, Root() + "/bad.brain.img"));
    EXPECT_EQ(MaskSourceLines(err), headerLine(c.warns, Root() + "/bad.brain.hdr"));

    // Segmentation with the model, and the atlas form.
    const ProcessResult segment = Run({"-m", "model", "bad.brain.hdr", "out.img"});
    EXPECT_EQ(segment.status, 1);
    EXPECT_EQ(segment.out, "setting file: model\\appearance\\setting.txt\nappearance models ok.\n" + warned +
                               fill(c.reason, "bad.brain.img") + "Cannot read the volume bad.brain.hdr\n");
    EXPECT_EQ(MaskSourceLines(segment.err), headerLine(c.warns, "bad.brain.hdr"));
    const ProcessResult atlas = Run({"-a", "model/appearance/atlas.3dm", "bad.brain.hdr", "out.img"});
    EXPECT_EQ(atlas.status, 1);
    EXPECT_EQ(atlas.out, warned + fill(c.reason, "bad.brain.img") + "Cannot read the volume bad.brain.hdr\n");
    EXPECT_EQ(MaskSourceLines(atlas.err), headerLine(c.warns, "bad.brain.hdr"));
    EXPECT_FALSE(fs::exists(Root() + "/out.img"));
    EXPECT_FALSE(fs::exists(Root() + "/out.hdr"));

    // Training, with the second subject's volume edited: nothing is left behind.
    EditedPair("good.brain", "src/s1.brain", c.fields);
    const ProcessResult train = Run({"-r", "1", "-n", "2", "-t", "1", "src", "target"});
    EXPECT_EQ(train.status, 1);
    EXPECT_EQ(train.out, warned + fill(c.reason, "src\\s1.brain.img") + "Unable to read src\\s1.brain.hdr\n");
    EXPECT_EQ(MaskSourceLines(train.err), headerLine(c.warns, "src\\s1.brain.hdr"));
    EXPECT_FALSE(fs::exists(Root() + "/target"));
  }

  // The atlas form's atlas given as a pair with an extent 0.
  EditedPair("good.label", "bad.label", {{kZ, 0}});
  const ProcessResult atlas = Run({"-a", "bad.label.img", "good.brain.hdr", "out.img"});
  EXPECT_EQ(atlas.status, 1);
  EXPECT_NE(atlas.out.find(warnings + "Can not read bad.label.img: its header's extents 16 x 16 x 0 hold no voxel\n"
                           "File bad.label.img does not exist!\n"),
            std::string::npos)
      << atlas.out;
  EXPECT_FALSE(fs::exists(Root() + "/out.img"));
}

TEST_F(AnalyzeHeaderRoads, ANegativeExtentReadsAsItsAbsoluteValue) {
  // Each extent stored as -16 in turn: the same voxels as the pair as written, and the
  // same labels on both segmentation roads, after the header's warnings.
  Shorts good;
  ASSERT_TRUE(ReadAnalyze(Root() + "/good.brain.img", good));
  ASSERT_EQ(Run({"-m", "model", "good.brain.hdr", "good_model.img"}).status, 0);
  ASSERT_EQ(Run({"-a", "model/appearance/atlas.3dm", "good.brain.hdr", "good_atlas.img"}).status, 0);
  for (int field : {kX, kY, kZ}) {
    SCOPED_TRACE(field);
    EditedPair("good.brain", "neg.brain", {{field, -kSide}});
    Shorts read;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(ReadAnalyze(Root() + "/neg.brain.img", read));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WARNING: Illegal dimension\nWARNING: Note illegal values\n");
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(SameVoxels(read, good));
    if (field != kX) continue;  // one field is enough for the program's roads
    for (const char* road : {"model", "atlas"}) {
      const std::string out = std::string("neg_") + road + ".img";
      const ProcessResult r = road == std::string("model")
                                  ? Run({"-m", "model", "neg.brain.hdr", out})
                                  : Run({"-a", "model/appearance/atlas.3dm", "neg.brain.hdr", out});
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(ReadFileBytes(Root() + "/" + out), ReadFileBytes(Root() + "/good_" + road + ".img")) << road;
    }
  }
}

}  // namespace
