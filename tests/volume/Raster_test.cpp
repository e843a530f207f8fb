// Raster: construction, conversions, intensities, smoothing and rectangles.
#include "volume/Raster.h"

#include <gtest/gtest.h>

#include <vector>

#include "RasterTestUtil.h"

namespace {

template <class T>
class RasterTypesTest : public testing::Test {};
using PixelTypes = testing::Types<unsigned char, float>;
TYPED_TEST_SUITE(RasterTypesTest, PixelTypes);

}  // namespace

TYPED_TEST(RasterTypesTest, ConstructionAndAssignment) {
  Raster<TypeParam> empty;
  EXPECT_EQ(empty.rows, 0);
  EXPECT_EQ(empty.cols, 0);
  Raster<TypeParam> image(2, 3);
  EXPECT_EQ(Pixels(image), std::vector<double>(6, 0.0));
  Matrix<TypeParam> m(3, 1);
  m.data[2] = TypeParam(9);
  image = m;
  EXPECT_EQ(image.rows, 3);
  EXPECT_EQ(Pixels(image), std::vector<double>({0, 0, 9}));
  image.SetZero();
  EXPECT_EQ(Pixels(image), std::vector<double>(3, 0.0));
}

TEST(RasterTest, ConvertMatrix) {
  Matrix<float> f = Image<float>(1, 5, {300.7, -1.5, 7.9, 0, 255});
  Matrix<unsigned char> b;
  ConvertMatrix(b, f);  // truncated, then the low byte
  EXPECT_EQ(Pixels(b), std::vector<double>({44, 255, 7, 0, 255}));
  Matrix<float> back;
  ConvertMatrix(back, b);
  EXPECT_EQ(Pixels(back), std::vector<double>({44, 255, 7, 0, 255}));
}

TYPED_TEST(RasterTypesTest, Window) {
  Raster<TypeParam> image = Image<TypeParam>(1, 5, {5, 10, 15, 30, 50});
  // (v - 10) / 20 * 255 truncated; below 10 gives 0, above 30 gives 255.
  EXPECT_EQ(Pixels(image.Window(10, 30)), std::vector<double>({0, 0, 63, 255, 255}));
  EXPECT_EQ(Pixels(image.Window(15, 15)), std::vector<double>(5, 0.0));
  EXPECT_EQ(Pixels(image), std::vector<double>({5, 10, 15, 30, 50}));  // the image itself is unchanged
}

TYPED_TEST(RasterTypesTest, Stretch) {
  Raster<TypeParam> image = Image<TypeParam>(2, 2, {10, 20, 0, 30});
  EXPECT_EQ(Pixels(image.Stretch(false)), std::vector<double>({85, 170, 0, 255}));
  EXPECT_EQ(Pixels(image.Stretch(true)), std::vector<double>({255, 255, 0, 255}));
  // A constant image has no range: the result is all zeros, never leftover memory.
  Raster<TypeParam> constant = Image<TypeParam>(2, 2, {7, 7, 7, 7});
  EXPECT_EQ(Pixels(constant.Stretch(false)), std::vector<double>(4, 0.0));
  EXPECT_EQ(Pixels(constant.Stretch(true)), std::vector<double>(4, 0.0));
}

TEST(RasterTest, StretchOfFloatFractions) {
  Raster<float> image = Image<float>(1, 3, {-1.0, 0.5, 1.0});
  EXPECT_EQ(Pixels(image.Stretch(false)), std::vector<double>({0, 191, 255}));
  EXPECT_EQ(Pixels(image.Stretch(true)), std::vector<double>({255, 255, 255}));
}

TYPED_TEST(RasterTypesTest, Pad) {
  Raster<TypeParam> image = Image<TypeParam>(2, 2, {1, 2, 3, 4});
  Raster<TypeParam> padded = image.Pad(9, 1, 0, 2, 1);
  ASSERT_EQ(padded.rows, 3);
  ASSERT_EQ(padded.cols, 5);
  EXPECT_EQ(Pixels(padded), std::vector<double>({9, 9, 9, 9, 9, 9, 9, 1, 2, 9, 9, 9, 3, 4, 9}));
  // Negative margins crop.
  Raster<TypeParam> cropped = image.Pad(0, -1, 0, 0, -1);
  EXPECT_EQ(cropped.rows, 1);
  EXPECT_EQ(Pixels(cropped), std::vector<double>({3}));
}

TYPED_TEST(RasterTypesTest, SubImages) {
  Raster<TypeParam> image = Image<TypeParam>(3, 4, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
  Matrix<TypeParam> part;
  image.GetSubImage(1, 2, 1, 2, part);
  EXPECT_EQ(part.rows, 2);
  EXPECT_EQ(Pixels(part), std::vector<double>({6, 7, 10, 11}));
  // A rectangle reaching outside: the outside pixels are 0, the rest copied.
  image.GetSubImage(-1, 0, 2, 3, part);
  EXPECT_EQ(Pixels(part), std::vector<double>({0, 9, 0, 0}));
  // Into itself.
  image.GetSubImage(3, 3, 0, 2, image);
  EXPECT_EQ(Pixels(image), std::vector<double>({4, 8, 12}));

  Raster<TypeParam> source = Image<TypeParam>(2, 2, {1, 2, 3, 4});
  Matrix<TypeParam> target(3, 3);
  source.PutSubImage(0, 1, 0, 1, target, 1, 99, 1, 99);  // the end values are not used
  EXPECT_EQ(Pixels(target), std::vector<double>({0, 0, 0, 0, 1, 2, 0, 3, 4}));
  source.PutSubImage(0, 1, 0, 1, target, 2, 0, -1, 0);  // clipped on both sides
  EXPECT_EQ(Pixels(target), std::vector<double>({0, 0, 3, 0, 1, 2, 0, 3, 4}));
}

// The impulse response of the smoothing is its kernel: the Gaussian of order 0 with its
// mean removed (GaussianSmooth), or as built (GaussianSmoothExtent).
TEST(RasterTest, SmoothingImpulseResponse) {
  Matrix<float> kernel;
  kernel.GaussianDerivativeFilter(2, 1.0, 0, 3.0);  // 7 x 7
  ASSERT_EQ(kernel.rows, 7);
  Matrix<float> zeroMean = kernel;
  zeroMean.RemoveMean();

  Raster<float> image(9, 9);
  image.rowTable[4][4] = 1.0f;
  image.GaussianSmooth(1.0, 0);
  for (int r = 0; r < 9; ++r)
    for (int c = 0; c < 9; ++c) {
      const bool inside = r >= 1 && r <= 7 && c >= 1 && c <= 7;
      EXPECT_FLOAT_EQ(image.rowTable[r][c], inside ? zeroMean.rowTable[r - 1][c - 1] : 0.0f) << r << "," << c;
    }

  Raster<float> wide(9, 9);
  wide.rowTable[4][4] = 1.0f;
  wide.GaussianSmoothExtent(1.0, 0, 2.0);  // 5 x 5 kernel
  Matrix<float> small;
  small.GaussianDerivativeFilter(2, 1.0, 0, 2.0);
  EXPECT_FLOAT_EQ(wide.rowTable[4][4], small.rowTable[2][2]);
  EXPECT_FLOAT_EQ(wide.rowTable[2][3], small.rowTable[0][1]);
  EXPECT_EQ(wide.rowTable[1][4], 0.0f);

  // A byte image is filtered through floats and stored back truncated.
  Raster<unsigned char> bytes(9, 9);
  bytes.rowTable[4][4] = 200;
  bytes.GaussianSmoothExtent(1.0, 0, 2.0);
  EXPECT_EQ(bytes.rowTable[4][4], static_cast<unsigned char>(200.0f * small.rowTable[2][2]));
  EXPECT_GT(bytes.rowTable[4][4], 0);
}
