#include "models/Kro_AppearanceAll.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ModelFolderFixture.h"
#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtFlags.h"
#include "platform/BinaryWriter.h"
#include "platform/FolderCommands.h"

namespace {

using namespace model_fixture;
using Volume = HeapMatrix3D<unsigned char>;

// A one-leaf tree in the older two-branch node layout (read when gTreeLayoutFlag is 0).
void WriteOldLayoutLeaf(const std::string& path, const std::vector<float>& posterior) {
  std::ofstream file(path, std::ios::binary);
  BinaryWriter out(file);
  out.i32(0);
  out.i32(0);
  out.i32(0);  // node-classifier code
  out.u8(0);   // no classifier
  out.u8(0);   // no child 0
  out.u8(0);   // no child 1
  out.i32(1);
  out.i32(static_cast<int32_t>(posterior.size()));
  for (float p : posterior) out.f32(p);
}

std::string Load(Kro_AppearanceAll& all, const std::string& folder, bool* result,
                 const Volume* labels = nullptr) {
  testing::internal::CaptureStdout();
  *result = all.Load(folder.c_str(), labels);
  return testing::internal::GetCapturedStdout();
}

std::string SettingLine(const std::string& folder) {
  std::string path = folder + "/setting.txt";
  return "setting file: " + ToBackslashes(path) + "\n";
}

// The flags are set before the model's trees are read and its pool is built: a type-1
// tree only reads in the older layout, and the pool begins with the atlas feature only
// with feature version 1.
TEST(AppearanceAll, FlagsPerModelTypeAreSetBeforeTheModelLoads) {
  struct Case {
    int type;
    int treeLayout, featureVersion;
    uint8_t firstKind;
    const char* className;
    const char* extraOut;
  };
  const Case cases[] = {
      {1, 0, 0, 'I', "Kro_AppearDiscrmModelVeskSepHippo", "tree num of features=0"},
      {2, 1, 0, 'I', "Kro_AppearDiscrmModelVesk", "tree num of features=0"},
      {3, 1, 1, 't', "Kro_AppearDiscrmModelKro40", ""},
  };
  for (const auto& c : cases) {
    TempFolder tmp;
    WriteFileText(tmp.file("setting.txt"), Settings(c.type, 2, 1, "1 2 3 4 5 6") +
                                               "IntensityRange:3 200\nIntensityType: 260\nClassifierVersion: 2\n");
    if (c.type == 1) {
      WriteOldLayoutLeaf(tmp.file("clf"), {0.5f, 0.5f});
    } else {
      WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
    }
    gTreeLayoutFlag = 7;
    gFeatureVersion = 7;
    gClassifierVersion = 0;
    Kro_AppearanceAll all;
    bool ok = false;
    const std::string out = Load(all, tmp.path(), &ok);
    ASSERT_TRUE(ok) << c.type << out;
    EXPECT_EQ(out, SettingLine(tmp.path()) + c.extraOut) << c.type;
    EXPECT_EQ(gTreeLayoutFlag, c.treeLayout) << c.type;
    EXPECT_EQ(gFeatureVersion, c.featureVersion) << c.type;
    EXPECT_EQ(gClassifierVersion, c.type == 3 ? 2 : 0) << c.type;
    EXPECT_EQ(all.ModelType(), c.type);
    EXPECT_EQ(all.IntensityType(), 4);
    EXPECT_EQ(all.NumClasses(), 2);
    ASSERT_NE(all.Model(), nullptr);
    ASSERT_FALSE(all.Model()->Provider()->featurePool.empty());
    EXPECT_EQ(all.Model()->Provider()->featurePool[0].kind, c.firstKind) << c.type;
    SubVolume b;
    all.GetBox(b);
    EXPECT_EQ(b.x0, 1);
    EXPECT_EQ(b.z1, 6);
  }
  EXPECT_NE(gAtlasPath.find("atlas.3dm"), std::string::npos);
}

TEST(AppearanceAll, UnusableSettingsOrModelFilesFailTheLoad) {
  struct Case {
    const char* name;
    std::string settings;  // "/": a folder in place of the file
    bool writeTree;
    std::string message;  // after the settings line; "%s" stands for the folder
  };
  const std::string invalid = "invalid model settings in %s\\setting.txt\n";
  const std::string noModel = "%s\\setting.txt names no model that can segment (ModelType ";
  const Case cases[] = {
      {"no classes", Settings(3, 0, 5, "0 0 0 1 1 1"), true, invalid},
      {"too many classes", Settings(3, 257, 5, "0 0 0 1 1 1"), true, invalid},
      {"negative radius", Settings(2, 4, -1, "0 0 0 1 1 1"), true, invalid},
      {"radius 0", Settings(3, 2, 0, "0 0 0 1 1 1"), true, invalid},
      {"radius 11", Settings(3, 2, 11, "0 0 0 1 1 1"), true, invalid},
      {"radius too large", Settings(1, 4, 256, "0 0 0 1 1 1"), true, invalid},
      {"missing class count", "ModelType: 3\nRadius: 5\n", true, invalid},
      {"sub-volume of five numbers", Settings(3, 2, 1, "0 0 0 1 1"), true, invalid},
      {"sub-volume without numbers", Settings(3, 2, 1, ""), true, invalid},
      {"unknown model type", Settings(7, 4, 5, "0 0 0 1 1 1"), true, noModel + "7)\n"},
      {"model type 0", Settings(0, 2, 1, "0 0 0 1 1 1"), true, noModel + "0)\n"},
      {"no model type", "NumberofClasses: 2\nRadius: 1\nSub-volume: 0 0 0 1 1 1\n", true, noModel + "0)\n"},
      {"empty settings", "", true, "Cannot read the model settings %s\\setting.txt: the file is empty\n"},
      {"a folder for settings", "/", true, "Cannot read the model settings %s\\setting.txt: not a regular file\n"},
      {"missing clf", Settings(3, 2, 1, "0 0 0 1 1 1"), false, "Unable to open classifier file: %s\\clf\n"},
  };
  for (const auto& c : cases) {
    TempFolder tmp;
    if (c.settings == "/") {
      MakeFolder(tmp.file("setting.txt"));
    } else {
      WriteFileText(tmp.file("setting.txt"), c.settings);
    }
    if (c.writeTree) WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
    Kro_AppearanceAll all;
    bool ok = true;
    const std::string out = Load(all, tmp.path(), &ok);
    std::string folder = tmp.path();
    ToBackslashes(folder);
    std::string message = c.message;
    const size_t at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, folder);
    EXPECT_FALSE(ok) << c.name;
    EXPECT_TRUE(all.LoadFailed()) << c.name;
    EXPECT_FALSE(all.HasModel()) << c.name;
    EXPECT_EQ(out, SettingLine(tmp.path()) + message) << c.name;
  }
}

// The radius is accepted from 1 to 10 (training writes 5).
TEST(AppearanceAll, RadiusFromOneToTenLoads) {
  for (int radius : {1, 10}) {
    TempFolder tmp;
    WriteFileText(tmp.file("setting.txt"), Settings(3, 2, radius, "0 0 0 30 30 30"));
    WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
    Kro_AppearanceAll all;
    bool ok = false;
    const std::string out = Load(all, tmp.path(), &ok);
    EXPECT_TRUE(ok) << radius << out;
    ASSERT_TRUE(all.HasModel());
    EXPECT_EQ(all.Model()->Radius(), radius);
  }
}

TEST(AppearanceAll, CorruptPassTreeFailsTheLoad) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 1 1 1"));
  WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
  WriteFileBytes(tmp.file("clf2"), {1, 2, 3});
  Kro_AppearanceAll all;
  bool ok = true;
  const std::string out = Load(all, tmp.path(), &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(all.LoadFailed());
  EXPECT_NE(out.find("Truncated or corrupt classifier file: "), std::string::npos) << out;
  EXPECT_NE(out.find("clf2"), std::string::npos) << out;
}

// The generative model is still read (the boundary evolution uses it), but it cannot
// segment: the load fails with one line naming the file.
TEST(AppearanceAll, WithoutSettingsTheGenerativeModelIsReadAndTheLoadFails) {
  TempFolder tmp;
  Kro_AppearanceAll all;
  bool ok = true;
  const std::string out = Load(all, tmp.path(), &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(all.LoadFailed());
  std::string path = tmp.path() + "/setting.txt";
  ToBackslashes(path);
  EXPECT_EQ(out, SettingLine(tmp.path()) + "Cannot read the model settings " + path + ": no such file\n");
  EXPECT_EQ(all.ModelType(), 0);
  EXPECT_EQ(all.NumClasses(), 0);
  EXPECT_EQ(all.EdgeVolume(), nullptr);
  Volume labels;
  EXPECT_FALSE(all.Segment(nullptr, labels, 0.5f, nullptr));
  VectorQo<double> post;
  all.Posterior(post, 0, 0, 0);
  EXPECT_EQ(ElementCount(post), 0);
}

TEST(AppearanceAll, LoadWithoutFolderCopiesLabelsIntoTheAtlas) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 1 1 1"));
  WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
  Kro_AppearanceAll all;
  bool ok = false;
  Load(all, tmp.path(), &ok);
  ASSERT_TRUE(ok);
  Volume labels;
  labels.SetSize(2, 3, 4);
  labels.Fill(6);
  EXPECT_FALSE(all.Load(nullptr, &labels));
  const Volume& atlas = all.Model()->Provider()->getAtlasVolume();
  ASSERT_EQ(atlas.dim2(), 4);
  EXPECT_EQ(atlas(1, 2, 3), 6);
}

TEST(AppearanceAll, WholeVolumeBox) {
  Kro_AppearanceAll all;
  all.SetWholeVolumeBox(120, 100, 80);
  SubVolume b;
  all.GetBox(b);
  EXPECT_EQ(std::vector<int>({b.x0, b.y0, b.z0, b.x1, b.y1, b.z1}), std::vector<int>({0, 0, 0, 119, 99, 79}));
}

}  // namespace

namespace {

// The atlas feature reads "atlas.3dm" of the model folder until the driver hands the
// region-competition labels over with Load(null, labels).
TEST(AppearanceAll, AtlasFeatureReadsTheFolderAtlasThenTheGivenLabels) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 4 4 4"));
  WriteAtlasStumpTree(tmp.file("clf"), 3.0f, {0.75, 0.25}, {0.25, 0.75});
  WriteUniformVolume(tmp.file("atlas.3dm"), 5, 5, 5, 4);
  Kro_AppearanceAll all;
  bool ok = false;
  Load(all, tmp.path(), &ok);
  ASSERT_TRUE(ok);
  Volume source;
  source.SetSize(5, 5, 5);
  source.Fill(80);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  std::vector<Volume> probs(2);
  Volume labels;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(all.Segment(nullptr, labels, 0.5f, probs.data()));
  EXPECT_EQ(labels(2, 2, 2), 1);  // folder atlas 4 >= 3
  Volume regions;
  regions.SetSize(5, 5, 5);
  regions.Fill(1);
  EXPECT_FALSE(all.Load(nullptr, &regions));
  ASSERT_TRUE(all.Segment(nullptr, labels, 0.5f, probs.data()));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(labels(2, 2, 2), 0);  // region labels 1 < 3
}

TEST(AppearanceAll, EndPointSettingsUpdateTheBoxButKeepTheModel) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), Settings(3, 2, 1, "0 0 0 4 4 4"));
  WriteLeafTree(tmp.file("clf"), {0.5, 0.5});
  MakeFolder(tmp.file("end"));
  WriteFileText(tmp.file("end/setting.txt"), Settings(1, 9, 9, "1 1 1 3 3 3") + "IntensityType: 2\n");
  Kro_AppearanceAll all;
  bool ok = false;
  Load(all, tmp.path(), &ok);
  ASSERT_TRUE(ok);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(all.LoadEndPointSetting(tmp.path().c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "setting file for end points: " + tmp.path() + "/end/setting.txt\n");
  SubVolume b;
  all.GetBox(b);
  EXPECT_EQ(b.x0, 1);
  EXPECT_EQ(all.IntensityType(), 2);
  EXPECT_EQ(all.ModelType(), 3);
  EXPECT_EQ(all.NumClasses(), 2);
}

}  // namespace
