#include "app/SettingsFile.h"

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "app/IntensityNormalization.h"

TEST(SettingsFileTest, TrainingRunWritesSevenLinesTruncatingOnlyWithTheFirst) {
  TempFolder folder;
  WriteFileText(folder.file("setting.txt"), "ModelType: 1\nstale line\n");
  ASSERT_TRUE(WriteModelSettings(folder.path(), 3, 5, SubVolume(1, 2, 3, 14, 15, 16)));

  // A template whose positive voxels run from 50 to 150 gives the intensity range.
  HeapMatrix3D<short> templ, volume;
  templ.SetSize(4, 4, 4);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) templ(z, y, x) = z < 2 ? 50 : 150;
  volume = templ;
  testing::internal::CaptureStdout();
  EstimateIntensityRange(templ, volume, SubVolume(0, 0, 0, 3, 3, 3), folder.path());
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(ReadFileText(folder.file("setting.txt")),
            "ModelType: 3\n"
            "NumberofClasses: 5\n"
            "Radius: 5\n"
            "Sub-volume: 1 2 3 14 15 16\n"
            "IntensityRange:50 150\n"
            "IntensityType: 4\n"
            "ClassifierVersion: 0\n");
}

TEST(SettingsFileTest, UnwritableSettingsFileIsReported) {
  TempFolder folder;
  const std::string missing = folder.file("no/such/folder");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteSettingLine(missing, "Radius: 5\n", true));
  EXPECT_FALSE(WriteModelSettings(missing, 3, 2, SubVolume()));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Cannot write the settings file " + missing + "/setting.txt\n"), std::string::npos) << err;
}

TEST(SettingsFileTest, LabelMappingLineHasTwoBlanks) {
  EXPECT_EQ(LabelMappingLine(7, 2), "7  2\n");
  EXPECT_EQ(LabelMappingLine(-1, 0), "-1  0\n");
}
