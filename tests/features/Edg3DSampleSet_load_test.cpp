#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "TestSupport.h"
#include "features/Edg3DSampleSet.h"
#include "pbt/PbtLog.h"
#include "platform/FolderCommands.h"
#include "volume/HeapMatrix3D.h"

namespace {

// Case volumes of 5 slices x 6 rows x 7 columns with label 255 on a pattern that
// crosses the border of width 1.
class EdgeLoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test = folder.path() + "/data";
    train = folder.path() + "/train";
    ASSERT_TRUE(MakeFolder(test));
  }

  void WriteCase(int i, int labelOffset) {
    HeapMatrix3D<unsigned char> image, label;
    image.SetSize(5, 6, 7);
    label.SetSize(5, 6, 7);
    for (int z = 0; z < 5; ++z)
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 7; ++x) {
          image(z, y, x) = static_cast<unsigned char>(10 * i + x + y + z);
          label(z, y, x) = (x + y + z + labelOffset) % 3 == 0 ? 255 : 0;
        }
    ASSERT_TRUE(image.Save(FormatText("%s/I%05i.3dm", test.c_str(), i)));
    ASSERT_TRUE(label.Save(FormatText("%s/I%05i_label.3dm", test.c_str(), i)));
  }

  EdgSampleSetParams Params(int numTrain, int radius) {
    EdgSampleSetParams p;
    p.dirTestData = test.c_str();
    p.dirTrainData = train.c_str();
    p.numTrain = numTrain;
    p.radius = radius;
    return p;
  }

  TempFolder folder;
  std::string test, train;
};

TEST_F(EdgeLoaderTest, EdgeFractionIsTheShareOfEdgeVoxelsInsideTheBorder) {
  WriteCase(0, 0);
  WriteCase(1, 1);
  // Brute force over the interior voxels (at least one voxel inside every face).
  int edges = 0, interior = 0;
  for (int offset = 0; offset < 2; ++offset)
    for (int z = 1; z < 4; ++z)
      for (int y = 1; y < 5; ++y)
        for (int x = 1; x < 6; ++x) {
          ++interior;
          edges += (x + y + z + offset) % 3 == 0;
        }
  EdgSampleSetParams p = Params(2, 1);
  testing::internal::CaptureStdout();
  Edg3DSampleSet().loadTrainingData(p);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Training Images are loaded successfully!~~\nTrue edge Images are loaded successfully!~~\n");
  EXPECT_EQ(p.loaded, 1);
  EXPECT_EQ(p.numTrain, 2);
  EXPECT_NEAR(p.edgeFraction, static_cast<double>(edges) / interior, 1e-6);

  // The copies: the image unchanged, the edge map 1.0 on interior label voxels only.
  HeapMatrix3D<unsigned char> image;
  ASSERT_TRUE(image.Load(train + "/I00001.3dm"));
  EXPECT_EQ(image(4, 5, 6), 10 + 4 + 5 + 6);
  HeapMatrix3D<float> edge;
  ASSERT_TRUE(edge.Load(train + "/I00001_prob.3dm"));
  ASSERT_EQ(edge.NumElements(), 5 * 6 * 7);
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 7; ++x) {
        const bool inside = z >= 1 && z < 4 && y >= 1 && y < 5 && x >= 1 && x < 6;
        const bool label = (x + y + z + 1) % 3 == 0;
        EXPECT_EQ(edge(z, y, x), inside && label ? 1.0f : 0.0f) << z << "," << y << "," << x;
      }
}

TEST_F(EdgeLoaderTest, MissingCasesEndTheRunNamingTheFile) {
  WriteCase(0, 0);
  const std::string missingImage = FormatText("%s/I%05i.3dm", test.c_str(), 1);
  EdgSampleSetParams two = Params(2, 1);
  EXPECT_EXIT(
      {
        dup2(2, 1);
        Edg3DSampleSet().loadTrainingData(two);
      },
      testing::ExitedWithCode(1), "does not load\nUnable to load training images :\\(\\(\\(\\(\\.\n$");

  // The image is there but not its label volume.
  HeapMatrix3D<unsigned char> image;
  image.SetSize(2, 2, 2);
  ASSERT_TRUE(image.Save(missingImage));
  EXPECT_EXIT(
      {
        dup2(2, 1);
        Edg3DSampleSet().loadTrainingData(two);
      },
      testing::ExitedWithCode(1), "I00001_label.3dm does not load\nUnable to load true edge images :\\(\\(\\(\\(\\.\n$");
}

TEST_F(EdgeLoaderTest, BorderWiderThanTheVolumeGivesFractionZero) {
  WriteCase(0, 0);
  EdgSampleSetParams p = Params(1, 9);
  testing::internal::CaptureStdout();
  Edg3DSampleSet().loadTrainingData(p);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(p.edgeFraction, 0.0f);
  EXPECT_EQ(p.loaded, 1);
}

}  // namespace
