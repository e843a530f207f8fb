// Model folders whose files do not fit each other: each case edits one file of a
// small good folder and expects the load to fail with one line naming the file (and
// the value), or, for the optional files, the documented fallback.
#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ModelFolderFixture.h"
#include "TestSupport.h"
#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "models/Kro_AppearDiscrmModelKro40.h"
#include "models/Kro_AppearanceAll.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtFlags.h"
#include "platform/BinaryWriter.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "platform/FolderCommands.h"

namespace {

using namespace model_fixture;
using Volume = HeapMatrix3D<unsigned char>;

constexpr int kSize = 7;
const std::vector<double> kLow = {0.6, 0.3, 0.1}, kHigh = {0.1, 0.3, 0.6};

PbtFid Feature(char kind, std::vector<int32_t> params, int32_t index, int32_t subtype,
               std::vector<int16_t> offset = {0, 0, 0}) {
  PbtFid f;
  f.kind = static_cast<uint8_t>(kind);
  for (size_t i = 0; i < params.size(); ++i) f.params[i] = params[i];
  f.index = index;
  f.subtype = subtype;
  for (int i = 0; i < 3; ++i) f.offset[i] = offset[i];
  return f;
}

// Haar filters of the pool a model of radius 1 and feature version 1 evaluates with.
int HaarCountAtRadiusOne() {
  const int version = gFeatureVersion;
  gFeatureVersion = 1;
  const Object3DSample sample(3, 1);
  gFeatureVersion = version;
  return static_cast<int>(sample.haarFilters.size());
}

struct Folder {
  TempFolder tmp;
  std::string path() const { return tmp.path(); }
  std::string file(const std::string& name) const { return tmp.file(name); }
  // The folder as the loader prints it in "<folder>\name" paths.
  std::string backslashed(const std::string& name) const {
    std::string p = tmp.path() + "/" + name;
    return ToBackslashes(p);
  }
};

// Three classes, radius 1, a 7^3 box, the tree "clf" on a derivative feature of the
// pool, and a known volume that fixes no voxel.
void WriteGoodFolder(const Folder& f) {
  WriteFileText(f.file("setting.txt"), Settings(3, 3, 1, "0 0 0 6 6 6"));
  WriteStumpTree(f.file("clf"), Feature('D', {}, 1, 0, {0, 2, -2}), 5.0f, kLow, kHigh);
  WriteUniformVolume(f.file("known.3dm"), kSize, kSize, kSize, 4);
}

std::string LoadOutput(Kro_AppearanceAll& all, const std::string& folder, bool* ok) {
  testing::internal::CaptureStdout();
  *ok = all.Load(folder.c_str(), nullptr);
  return testing::internal::GetCapturedStdout();
}

std::string SettingLine(const Folder& f) { return "setting file: " + f.backslashed("setting.txt") + "\n"; }

TEST(ModelFolderLoad, TheGoodFolderLoads) {
  gContextAvailable = 1;
  Folder f;
  WriteGoodFolder(f);
  Kro_AppearanceAll all;
  bool ok = false;
  const std::string out = LoadOutput(all, f.path(), &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, SettingLine(f));
}

struct FailingCase {
  const char* name;
  std::function<void(const Folder&)> edit;
  std::function<std::string(const Folder&)> message;
};

// Each case edits the good folder; its load must fail, naming the file (and the value)
// in one line after the setting line.
void ExpectEachLoadFails(const std::vector<FailingCase>& cases) {
  for (const FailingCase& c : cases) {
    SCOPED_TRACE(c.name);
    Folder f;
    WriteGoodFolder(f);
    c.edit(f);
    Kro_AppearanceAll all;
    bool ok = true;
    const std::string out = LoadOutput(all, f.path(), &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(all.LoadFailed());
    EXPECT_FALSE(all.HasModel());
    EXPECT_EQ(out, SettingLine(f) + c.message(f) + "\n");
  }
}

TEST(ModelFolderLoad, ClassCountsThatDoNotFitTheTreesFail) {
  gContextAvailable = 1;
  ExpectEachLoadFails({
      {"one class for trees of three",
       [](const Folder& f) { WriteFileText(f.file("setting.txt"), Settings(3, 1, 1, "0 0 0 6 6 6")); },
       [](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " gives 3 class posteriors, but NumberofClasses is 1";
       }},
      {"five classes for trees of three",
       [](const Folder& f) { WriteFileText(f.file("setting.txt"), Settings(3, 5, 1, "0 0 0 6 6 6")); },
       [](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " gives 3 class posteriors, but NumberofClasses is 5";
       }},
      {"a pass tree of two classes", [](const Folder& f) { WriteLeafTree(f.file("clf2"), {0.5, 0.5}); },
       [](const Folder& f) {
         return "classifier " + f.backslashed("clf2") + " gives 2 class posteriors, but NumberofClasses is 3";
       }},
      {"a single-tree model of other classes",
       [](const Folder& f) {
         WriteFileText(f.file("setting.txt"), Settings(2, 4, 1, "0 0 0 6 6 6"));
         WriteLeafTree(f.file("clf"), {0.2, 0.3, 0.5});
       },
       [](const Folder& f) {
         return "classifier " + f.path() + "/clf gives 3 class posteriors, but NumberofClasses is 4";
       }},
  });
}

TEST(ModelFolderLoad, FeaturesOutsideThePoolFail) {
  gContextAvailable = 1;
  const int haar = HaarCountAtRadiusOne();
  const std::string outside = "names a feature outside the model's feature pool: ";
  ExpectEachLoadFails({
      {"a profile run of 2^31 - 1",
       [](const Folder& f) {
         WriteStumpTree(f.file("clf"), Feature('1', {0}, INT_MAX, 2), 1.0f, kLow, kHigh);
       },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind '1' (49), params 0 0 0 0 0 0, index 2147483647, subtype 2, offset 0 0 0";
       }},
      {"a Haar filter past the list",
       [haar](const Folder& f) { WriteStumpTree(f.file("clf"), Feature('H', {1}, haar, 0), 1.0f, kLow, kHigh); },
       [outside, haar](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside + "kind 'H' (72), params 1 0 0 0 0 0, index " +
                std::to_string(haar) + ", subtype 0, offset 0 0 0";
       }},
      {"a Haar variant the pool does not enumerate",
       [](const Folder& f) { WriteStumpTree(f.file("clf"), Feature('H', {7}, 0, 0), 1.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind 'H' (72), params 7 0 0 0 0 0, index 0, subtype 0, offset 0 0 0";
       }},
      {"a context map past the class count in a pass tree",
       [](const Folder& f) { WriteContextStumpTree(f.file("clf1"), 3, 100.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf1") + " " + outside +
                "kind 'O' (79), params 1224 3 0 0 0 4, index 0, subtype 0, offset 0 0 0";
       }},
      {"a context offset past the table",
       [](const Folder& f) {
         WriteStumpTree(f.file("clf"), Feature('O', {1250, 0, 0, 0, 0, 4}, 0, 0), 1.0f, kLow, kHigh);
       },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind 'O' (79), params 1250 0 0 0 0 4, index 0, subtype 0, offset 0 0 0";
       }},
      {"a derivative axis 3",
       [](const Folder& f) { WriteStumpTree(f.file("clf"), Feature('D', {}, 0, 3), 1.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind 'D' (68), params 0 0 0 0 0 0, index 0, subtype 3, offset 0 0 0";
       }},
      {"a derivative offset of 1",
       [](const Folder& f) { WriteStumpTree(f.file("clf"), Feature('D', {}, 0, 0, {1, 0, 0}), 1.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind 'D' (68), params 0 0 0 0 0 0, index 0, subtype 0, offset 1 0 0";
       }},
      {"a kind the pool does not hold",
       [](const Folder& f) { WriteStumpTree(f.file("clf"), Feature('C', {}, 15, 0), 1.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind 'C' (67), params 0 0 0 0 0 0, index 15, subtype 0, offset 0 0 0";
       }},
      {"no feature at all (kind 0)",
       [](const Folder& f) { WriteStumpTree(f.file("clf"), PbtFid(), 1.0f, kLow, kHigh); },
       [outside](const Folder& f) {
         return "classifier " + f.backslashed("clf") + " " + outside +
                "kind (0), params 0 0 0 0 0 0, index 0, subtype 0, offset 0 0 0";
       }},
      {"an atlas feature in a version-0 model",
       [](const Folder& f) {
         WriteFileText(f.file("setting.txt"), Settings(2, 3, 1, "0 0 0 6 6 6"));
         WriteAtlasStumpTree(f.file("clf"), 1.0f, kLow, kHigh);
       },
       [outside](const Folder& f) {
         return "classifier " + f.path() + "/clf " + outside +
                "kind 't' (116), params 0 0 0 0 0 0, index 0, subtype 0, offset 0 0 0";
       }},
  });
}

TEST(ModelFolderLoad, InvalidLiftFactorsFail) {
  gContextAvailable = 1;
  ExpectEachLoadFails({
      {"a NaN factor", [](const Folder& f) { WriteFileText(f.file("prob_lift.txt"), "0 1.0\n1 nan\n"); },
       [](const Folder& f) {
         return "invalid lift factor nan of class 1 in " + f.path() +
                "\\prob_lift.txt: it must be finite and positive";
       }},
      {"all factors 0", [](const Folder& f) { WriteFileText(f.file("prob_lift.txt"), "0 0\n1 0\n2 0\n"); },
       [](const Folder& f) {
         return "invalid lift factor 0 of class 0 in " + f.path() + "\\prob_lift.txt: it must be finite and positive";
       }},
      {"a pair cut after its class", [](const Folder& f) { WriteFileText(f.file("prob_lift.txt"), "0 1.5\n1"); },
       [](const Folder& f) { return "Cannot read the lift factor of class 1 in " + f.path() + "\\prob_lift.txt"; }},
      {"a single-tree model's lifts",
       [](const Folder& f) {
         WriteFileText(f.file("setting.txt"), Settings(2, 3, 1, "0 0 0 6 6 6"));
         WriteFileText(f.file("prob_lift.txt"), "2 -inf\n");
       },
       [](const Folder& f) {
         return "invalid lift factor -inf of class 2 in " + f.path() +
                "\\prob_lift.txt: it must be finite and positive";
       }},
  });
}

TEST(ModelFolderLoad, KnownVolumesThatDoNotFitFail) {
  gContextAvailable = 1;
  ExpectEachLoadFails({
      {"an empty known volume", [](const Folder& f) { WriteFileText(f.file("known.3dm"), ""); },
       [](const Folder& f) { return "Cannot read the known-class volume " + f.backslashed("known.3dm"); }},
      {"a cut known volume",
       [](const Folder& f) {
         std::vector<uint8_t> bytes = ReadFileBytes(f.file("known.3dm"));
         bytes.resize(bytes.size() - 1);
         WriteFileBytes(f.file("known.3dm"), bytes);
       },
       [](const Folder& f) { return "Cannot read the known-class volume " + f.backslashed("known.3dm"); }},
      {"a folder for the known volume",
       [](const Folder& f) {
         DeleteFileAt(f.file("known.3dm"));
         MakeFolder(f.file("known.3dm"));
       },
       [](const Folder& f) {
         return "Cannot read the known-class volume " + f.backslashed("known.3dm") + ": not a regular file";
       }},
      {"a known volume of one slice less",
       [](const Folder& f) { WriteUniformVolume(f.file("known.3dm"), kSize - 1, kSize, kSize, 4); },
       [](const Folder& f) {
         return "the known-class volume " + f.backslashed("known.3dm") +
                " has 7 x 7 x 6 voxels, the model's box 7 x 7 x 7";
       }},
      {"a known volume with empty extents",  // a volume without voxels does not read
       [](const Folder& f) { WriteFileBytes(f.file("known.3dm"), {0, 0, 0, 0, 0, 0}); },
       [](const Folder& f) { return "Cannot read the known-class volume " + f.backslashed("known.3dm"); }},
  });
}

TEST(ModelFolderLoad, MissingOptionalFilesKeepTheirFallbacks) {
  gContextAvailable = 1;
  Folder f;
  WriteGoodFolder(f);
  DeleteFileAt(f.file("known.3dm"));
  Kro_AppearanceAll all;
  bool ok = false;
  const std::string out = LoadOutput(all, f.path(), &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, SettingLine(f));
  const auto& model = static_cast<const Kro_AppearDiscrmModelKro40&>(*all.Model());
  EXPECT_EQ(model.Known().NumElements(), 0);  // no voxel fixed
  ASSERT_EQ(ElementCount(model.Lift()), 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(model.Lift()[c], 1.0);
}

// An edge tree that names a feature outside the pool only serves the boundary
// evolution: it is dropped with a warning, as one that does not read.
TEST(ModelFolderLoad, EdgeTreeOutsideThePoolIsNotUsed) {
  gContextAvailable = 1;
  Folder f;
  WriteGoodFolder(f);
  WriteStumpTree(f.file("clf_edge"), Feature('D', {}, 9, 0), 1.0f, {0.3, 0.7}, {0.9, 0.1});
  Kro_AppearanceAll all;
  bool ok = false;
  const std::string out = LoadOutput(all, f.path(), &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, SettingLine(f) + "classifier " + f.backslashed("clf_edge") +
                     " names a feature outside the model's feature pool: kind 'D' (68), params 0 0 0 0 0 0, "
                     "index 9, subtype 0, offset 0 0 0\nwarning: edge classifier not used\n");
  Volume source;
  source.SetSize(kSize, kSize, kSize);
  source.Fill(50);
  all.SetWholeVolumeBox(kSize, kSize, kSize);
  ASSERT_TRUE(all.SetVolume(source, nullptr, nullptr));
  EXPECT_EQ(all.Model()->EdgeProbability(3, 3, 3), 0.0f);
}

// A stump in the older two-branch node layout that model type 1 reads.
void WriteOldLayoutStump(const std::string& path, const PbtFid& fid, const std::vector<float>& posterior) {
  std::ofstream file(path, std::ios::binary);
  BinaryWriter out(file);
  auto leaf = [&]() {
    out.i32(0);
    out.i32(0);
    out.i32(0);
    out.u8(0);
    out.u8(0);
    out.u8(0);
    out.i32(1);
    out.i32(static_cast<int32_t>(posterior.size()));
    for (float p : posterior) out.f32(p);
  };
  out.i32(0);
  out.i32(0);
  out.i32(0);  // AdaBoost
  out.u8(1);
  auto* weak = new PbtAdaWeak();
  weak->fid = fid;
  weak->polarity = 1;
  weak->threshold = 1.0f;
  weak->alpha = 5.0f;
  PbtAdaBoost boost;
  boost.members.push_back(weak);
  boost.alphas.push_back(5.0f);
  boost.write(out);
  out.u8(1);
  leaf();
  out.u8(1);
  leaf();
  out.i32(1);
  out.i32(static_cast<int32_t>(posterior.size()));
  for (float p : posterior) out.f32(p);
}

TEST(ModelFolderLoad, HipTreeOutsideThePoolIsNotUsed) {
  Folder f;
  WriteFileText(f.file("setting.txt"), Settings(1, 7, 1, "0 0 0 6 6 6"));
  const std::vector<float> seven = {0.1f, 0.2f, 0.1f, 0.1f, 0.2f, 0.2f, 0.1f};
  WriteOldLayoutStump(f.file("clf"), Feature('D', {}, 1, 0, {0, 2, -2}), seven);
  WriteOldLayoutStump(f.file("hip_clf"), Feature('D', {}, 1, 0, {0, 2, 3}), {0.2f, 0.5f, 0.3f});
  Kro_AppearanceAll all;
  bool ok = false;
  const std::string out = LoadOutput(all, f.path(), &ok);
  ASSERT_TRUE(ok) << out;
  EXPECT_EQ(out, SettingLine(f) + "classifier " + f.path() +
                     "/hip_clf names a feature outside the model's feature pool: kind 'D' (68), params 0 0 0 0 0 0, "
                     "index 1, subtype 0, offset 0 2 3\nwarning: hippocampus classifier not used\n"
                     "tree num of features=1");
}

}  // namespace
