#include "models/AppearanceSettings.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace {

struct SettingsCase {
  const char* name;
  const char* text;
  int modelType, numClasses, radius;
  SubVolume box;
  int intensityType, classifierVersion;
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
      {"short sub-volume ignored", "Sub-volume: 1 2 3\n", 0, 0, 0, {}, 1, 0},
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

TEST(AppearanceSettings, MissingFileGivesFalseAndDefaults) {
  TempFolder tmp;
  AppearanceSettings s;
  s.radius = 9;
  EXPECT_FALSE(ReadAppearanceSettings(tmp.file("setting.txt"), s));
  EXPECT_EQ(s.radius, 0);
  EXPECT_EQ(s.intensityType, 1);
}

}  // namespace
