#include "models/AppearanceSettings.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/FolderCommands.h"

namespace {

struct SettingsCase {
  const char* name;
  const char* text;
  int modelType, numClasses, radius;
  SubVolume box;
  int intensityType, classifierVersion;
  bool shortSubVolume = false;
};

TEST(AppearanceSettings, ReadingRules) {
  const SettingsCase cases[] = {
      {"file a training run writes",
       "ModelType: 3\nNumberofClasses: 4\nRadius: 5\nSub-volume: 10 20 30 40 50 60\nIntensityRange:12 240\n"
       "IntensityType: 4\nClassifierVersion: 0\n",
       3, 4, 5, {10, 20, 30, 40, 50, 60}, 4, 0},
      {"blanks around the key", "  ModelType   : 2\n Radius :7\n", 2, 0, 7, {}, 1, 0},
      {"key in other letter case ignored", "modeltype: 2\nRADIUS: 3\nNumberofclasses: 9\n", 0, 0, 0, {}, 1, 0},
      {"line without colon ignored", "ModelType 3\nRadius: 2\n", 0, 0, 2, {}, 1, 0},
      {"IntensityRange ignored", "IntensityRange: 5 6\n", 0, 0, 0, {}, 1, 0},
      {"last duplicate wins", "ModelType: 1\nModelType: 3\nClassifierVersion: 2\nClassifierVersion: 1\n", 3, 0, 0, {},
       1, 1},
      {"intensity type keeps its low byte", "IntensityType: 260\n", 0, 0, 0, {}, 4, 0},
      {"missing intensity type gives 1", "ModelType: 3\n", 3, 0, 0, {}, 1, 0},
      {"short sub-volume keeps the box and is marked", "Sub-volume: 1 2 3\n", 0, 0, 0, {}, 1, 0, true},
      {"five numbers and text", "Sub-volume: 1 2 3 4 5 x\n", 0, 0, 0, {}, 1, 0, true},
      {"a number beyond 32 bits ends the numbers", "Sub-volume: 1 2 3 4 5 99999999999\n", 0, 0, 0, {}, 1, 0, true},
      {"a fraction ends the numbers", "Sub-volume: 1.5 2 3 4 5 6\n", 0, 0, 0, {}, 1, 0, true},
      {"empty sub-volume", "Sub-volume:\n", 0, 0, 0, {}, 1, 0, true},
      {"a later complete line wins", "Sub-volume: 1 2\nSub-volume: 1 2 3 4 5 6\n", 0, 0, 0, {1, 2, 3, 4, 5, 6}, 1, 0},
      {"a later short line marks", "Sub-volume: 1 2 3 4 5 6\nSub-volume: 1 2\n", 0, 0, 0, {1, 2, 3, 4, 5, 6}, 1, 0,
       true},
      {"signs and no blanks as %d reads them", "Sub-volume: -1+2-3 4 5 6 7\n", 0, 0, 0, {-1, 2, -3, 4, 5, 6}, 1, 0},
      {"32-bit extremes scan", "ModelType: -2147483648\nRadius: 2147483647\n", INT32_MIN, 0, INT32_MAX, {}, 1, 0},
      {"beyond 32 bits does not scan", "ModelType: 3\nModelType: 2147483648\n", 3, 0, 0, {}, 1, 0},
      {"value that does not scan ignored", "Radius: five\nNumberofClasses: 6\n", 0, 6, 0, {}, 1, 0},
  };
  TempFolder tmp;
  for (const auto& c : cases) {
    WriteFileText(tmp.file("setting.txt"), c.text);
    AppearanceSettings s;
    ASSERT_TRUE(ReadAppearanceSettings(tmp.file("setting.txt"), s)) << c.name;
    EXPECT_EQ(s.modelType, c.modelType) << c.name;
    EXPECT_EQ(s.numClasses, c.numClasses) << c.name;
    EXPECT_EQ(s.radius, c.radius) << c.name;
    EXPECT_EQ(s.box.x0, c.box.x0) << c.name;
    EXPECT_EQ(s.box.y0, c.box.y0) << c.name;
    EXPECT_EQ(s.box.z0, c.box.z0) << c.name;
    EXPECT_EQ(s.box.x1, c.box.x1) << c.name;
    EXPECT_EQ(s.box.y1, c.box.y1) << c.name;
    EXPECT_EQ(s.box.z1, c.box.z1) << c.name;
    EXPECT_EQ(s.intensityType, c.intensityType) << c.name;
    EXPECT_EQ(s.classifierVersion, c.classifierVersion) << c.name;
    EXPECT_EQ(s.shortSubVolume, c.shortSubVolume) << c.name;
  }
}

// A line longer than the 199-character read is read in pieces; the piece after the
// cut starts a new key.
TEST(AppearanceSettings, LongLineIsReadInPieces) {
  TempFolder tmp;
  WriteFileText(tmp.file("setting.txt"), std::string(199, 'x') + "Radius: 4\nModelType: 3\n");
  AppearanceSettings s;
  ASSERT_TRUE(ReadAppearanceSettings(tmp.file("setting.txt"), s));
  EXPECT_EQ(s.radius, 4);
  EXPECT_EQ(s.modelType, 3);
}

// The text reader cuts a text into the pieces the file reader takes.
TEST(AppearanceSettings, TextAndFileReadTheSame) {
  const std::string nul(1, '\0');
  const struct Case {
    const char* name;
    std::string text;
    int radius, modelType;
  } cases[] = {
      {"a NUL ends the piece's line", "Radius: 4" + nul + "\nModelType: 3" + nul + "Radius: 9\n", 4, 3},
      {"a long line is read in pieces", std::string(199, 'x') + "Radius: 4\nModelType: 3\n", 4, 3},
      {"a cut through a key", std::string(195, 'x') + "Radius: 4\nModelType: 2", 0, 2},
      {"no line end", "Radius: 2", 2, 0},
  };
  TempFolder tmp;
  for (const Case& c : cases) {
    WriteFileText(tmp.file("setting.txt"), c.text);
    AppearanceSettings fromFile, fromText;
    ASSERT_TRUE(ReadAppearanceSettings(tmp.file("setting.txt"), fromFile)) << c.name;
    ASSERT_TRUE(ReadAppearanceSettingsText(c.text, fromText)) << c.name;
    EXPECT_EQ(fromFile.radius, c.radius) << c.name;
    EXPECT_EQ(fromText.radius, c.radius) << c.name;
    EXPECT_EQ(fromFile.modelType, c.modelType) << c.name;
    EXPECT_EQ(fromText.modelType, c.modelType) << c.name;
  }
}

TEST(AppearanceSettings, FilesThatDoNotReadGiveFalseAndOneLine) {
  TempFolder tmp;
  const std::string path = tmp.file("setting.txt");
  const struct Case {
    const char* name;
    const char* content;  // null: none; "/": a folder
    const char* why;
  } cases[] = {
      {"missing", nullptr, "no such file"},
      {"a folder", "/", "not a regular file"},
      {"empty", "", "the file is empty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveFolderTree(path);
    DeleteFileAt(path);
    if (c.content && std::string(c.content) == "/") {
      MakeFolder(path);
    } else if (c.content) {
      WriteFileText(path, c.content);
    }
    AppearanceSettings s;
    s.radius = 9;
    std::string error;
    EXPECT_FALSE(ReadAppearanceSettings(path, s, &error));
    EXPECT_EQ(error, "Cannot read the model settings " + path + ": " + c.why);
    EXPECT_EQ(s.radius, 0);
    EXPECT_EQ(s.intensityType, 1);
  }
}

// What a model that segments needs of its settings.
TEST(AppearanceSettings, CheckNamesTheFileForSettingsThatCannotSegment) {
  const std::string path = "m\\appearance\\setting.txt";
  const std::string invalid = "invalid model settings in " + path;
  auto settings = [](int type, int classes, int radius, bool shortBox = false) {
    AppearanceSettings s;
    s.modelType = type;
    s.numClasses = classes;
    s.radius = radius;
    s.shortSubVolume = shortBox;
    return s;
  };
  const struct Case {
    const char* name;
    AppearanceSettings settings;
    std::string error;  // empty: accepted
  } cases[] = {
      {"what training writes", settings(3, 3, 5), ""},
      {"types 1 and 2", settings(1, 7, 5), ""},
      {"type 2", settings(2, 2, 5), ""},
      {"radius 1", settings(3, 3, 1), ""},
      {"radius 10", settings(3, 3, 10), ""},
      {"256 classes", settings(3, 256, 5), ""},
      {"one class", settings(3, 1, 5), ""},
      {"model type 0 (also absent)", settings(0, 3, 5), path + " names no model that can segment (ModelType 0)"},
      {"unknown model type", settings(4, 3, 5), path + " names no model that can segment (ModelType 4)"},
      {"negative model type", settings(-1, 3, 5), path + " names no model that can segment (ModelType -1)"},
      {"radius 0", settings(3, 3, 0), invalid},
      {"radius 11", settings(3, 3, 11), invalid},
      {"radius 255", settings(3, 3, 255), invalid},
      {"no classes", settings(3, 0, 5), invalid},
      {"257 classes", settings(3, 257, 5), invalid},
      {"short sub-volume", settings(3, 3, 5, true), invalid},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(CheckAppearanceSettings(c.settings, path, &error), c.error.empty()) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
}

}  // namespace
