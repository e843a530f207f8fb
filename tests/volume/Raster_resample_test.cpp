// Raster: resizing, rotation and crops.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "RasterTestUtil.h"
#include "volume/Raster.h"

namespace {

template <class T>
class ResampleTypesTest : public testing::Test {};
using PixelTypes = testing::Types<unsigned char, float>;
TYPED_TEST_SUITE(ResampleTypesTest, PixelTypes);

// Pixel (r, c) = 10 r + c, so a crop shows which rows and columns it took.
template <class T>
Raster<T> Coded(int rows, int cols) {
  Raster<T> image(rows, cols);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) image.rowTable[r][c] = static_cast<T>(10 * r + c);
  return image;
}

}  // namespace

TYPED_TEST(ResampleTypesTest, CropCenter) {
  struct Case {
    int size, outSize, first;
  } cases[] = {{5, 3, 1}, {6, 3, 2}, {5, 4, 1}, {4, 4, 0}, {6, 4, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.size << " to " << c.outSize);
    Raster<TypeParam> image = Coded<TypeParam>(c.size, c.size);
    Raster<TypeParam> out;
    image.CropCenter(out, c.outSize, c.outSize);
    ASSERT_EQ(out.rows, c.outSize);
    ASSERT_EQ(out.cols, c.outSize);
    EXPECT_EQ(out.rowTable[0][0], 11 * c.first);
    EXPECT_EQ(out.rowTable[c.outSize - 1][c.outSize - 1], 11 * (c.first + c.outSize - 1));
  }
  // A window larger than the image pads it with 0.
  Raster<TypeParam> image = Coded<TypeParam>(2, 2);
  Raster<TypeParam> out;
  image.CropCenter(out, 4, 3);
  EXPECT_EQ(Pixels(out), std::vector<double>({0, 0, 0, 0, 1, 0, 10, 11, 0, 0, 0, 0}));
}

TYPED_TEST(ResampleTypesTest, CropAround) {
  Raster<TypeParam> image = Coded<TypeParam>(14, 14);
  Raster<TypeParam> out;
  testing::internal::CaptureStdout();
  image.CropAround(out, 4, 3, 10, 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_EQ(out.rows, 4);
  ASSERT_EQ(out.cols, 3);
  EXPECT_EQ(out.rowTable[0][0], 94);  // rows 9 .. 12, columns 4 .. 6
  EXPECT_EQ(out.rowTable[3][2], 126);

  Raster<TypeParam> outside = Coded<TypeParam>(4, 3);  // same extents: left unwritten
  testing::internal::CaptureStdout();
  image.CropAround(outside, 4, 3, 12, 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Cannot crop: out of bounds. \n"
            " rows: 14 cols: 14 row_start: 11 row_end: 14 col_start: 4 col_end: 6\n");
  EXPECT_EQ(Pixels(outside), Pixels(Coded<TypeParam>(4, 3)));
}

TYPED_TEST(ResampleTypesTest, ResampleWritesNothingForTinyImagesOrUnknownModes) {
  Raster<TypeParam> image = Coded<TypeParam>(3, 3);
  Raster<TypeParam> single = Coded<TypeParam>(1, 1);
  struct Case {
    const char* name;
    const Raster<TypeParam>* source;
    int rows, cols;
    char mode;
  } cases[] = {{"1x1 target", &image, 1, 1, 0}, {"1x1 source", &single, 2, 2, 1}, {"mode 2", &image, 2, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Matrix<TypeParam> out(c.rows, c.cols);
    out.Fill(TypeParam(77));
    c.source->Resample(out, c.mode);
    EXPECT_EQ(Pixels(out), std::vector<double>(c.rows * c.cols, 77.0));
  }
}

TYPED_TEST(ResampleTypesTest, ScaleAndBilinear) {
  Raster<TypeParam> image = Coded<TypeParam>(5, 5);
  Matrix<TypeParam> out;
  image.Scale(out, 0.5f, 0.5f, 0);
  EXPECT_EQ(out.rows, 2);
  EXPECT_EQ(out.cols, 2);

  // Halving: each out pixel is the mean of a 2 x 2 block.
  Raster<TypeParam> even = Image<TypeParam>(2, 4, {10, 20, 30, 50, 30, 40, 70, 90});
  Matrix<TypeParam> half(1, 2);
  even.Resample(half, 0);
  EXPECT_EQ(Pixels(half), std::vector<double>({25, 60}));
}

// Doubling a ramp: interior samples lie on the ramp; at the top-left the source
// position -0.25 is truncated to row 0 (not floored to -1), so the corner pixel is
// the image's own corner.
TEST(RasterResampleTest, BilinearUpsamplingTruncatesNegativePositions) {
  Raster<float> ramp(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) ramp.rowTable[r][c] = static_cast<float>(10 + 3 * r + 5 * c);
  Matrix<float> out(6, 6);
  ramp.Resample(out, 0);
  EXPECT_FLOAT_EQ(out.rowTable[0][0], 10.0f);
  for (int i = 1; i <= 4; ++i)
    for (int j = 1; j <= 4; ++j) {
      const double y = (i + 0.5) * 0.5 - 0.5, x = (j + 0.5) * 0.5 - 0.5;
      EXPECT_FLOAT_EQ(out.rowTable[i][j], static_cast<float>(10 + 3 * y + 5 * x)) << i << "," << j;
    }
}

TEST(RasterResampleTest, CubicBSpline) {
  EXPECT_DOUBLE_EQ(CubicBSpline(0.0), 2.0 / 3.0);
  EXPECT_DOUBLE_EQ(CubicBSpline(1.0), 1.0 / 6.0);
  EXPECT_DOUBLE_EQ(CubicBSpline(-1.0), 1.0 / 6.0);
  EXPECT_DOUBLE_EQ(CubicBSpline(-2.0), 0.0);
  EXPECT_DOUBLE_EQ(CubicBSpline(2.0), 0.0);
  for (double x : {0.0, 0.25, 0.5, 0.9})
    EXPECT_NEAR(CubicBSpline(x + 1) + CubicBSpline(x) + CubicBSpline(x - 1) + CubicBSpline(x - 2), 1.0, 1e-12);

  // A constant image: the weights sum to 1 where all 16 terms lie inside; at the
  // border terms are dropped without renormalising.
  Raster<float> flat(8, 8);
  flat.Fill(100.0f);
  Matrix<float> out(16, 16);
  flat.Resample(out, 1);
  EXPECT_NEAR(out.rowTable[7][7], 100.0, 1e-4);
  EXPECT_LT(out.rowTable[0][0], 99.0);
}

TYPED_TEST(ResampleTypesTest, RotateByZeroCopies) {
  Raster<TypeParam> image = Coded<TypeParam>(3, 4);
  SimpleMatrix<Point2D<double>> in, outPoints;
  in.SetSize(1, 2);
  in[0][0].Set(1.5, 2.5);
  in[0][1].Set(-1, 7);
  Raster<TypeParam> out;
  image.Rotate(out, 0.0, &outPoints, &in);
  EXPECT_EQ(Pixels(out), Pixels(image));
  EXPECT_EQ(out.rows, 3);
  ASSERT_EQ(outPoints.cols(), 2);
  EXPECT_EQ(outPoints[0][1].X(), -1);
  EXPECT_EQ(outPoints[0][1].Y(), 7);
}

TEST(RasterResampleTest, RotateQuarterTurn) {
  // 2 x 2 by a quarter turn: the corners land on whole numbers, so the out image is
  // 2 x 2 again, holding the pixels turned.
  Raster<float> image = Image<float>(2, 2, {1, 2, 3, 4});
  SimpleMatrix<Point2D<double>> in, moved;
  in.SetSize(1, 1);
  in[0][0].Set(0, 1);  // the pixel holding 2
  Raster<float> out;
  image.Rotate(out, M_PI / 2, &moved, &in);
  ASSERT_EQ(out.rows, 2);
  ASSERT_EQ(out.cols, 2);
  const std::vector<double> expected = {2, 4, 1, 3};
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(out.data[i], expected[i], 1e-9) << i;
  EXPECT_NEAR(moved[0][0].X(), 0.0, 1e-12);
  EXPECT_NEAR(moved[0][0].Y(), 0.0, 1e-12);

  // 2 x 3: the turned area's rows run from -1.5 to 1.5 (half numbers: 4 rows), its
  // columns from -1 to 1 (whole numbers: 2 columns).
  Raster<float> wide = Coded<float>(2, 3);
  wide.Rotate(out, M_PI / 2, nullptr, nullptr);
  EXPECT_EQ(out.rows, 4);
  EXPECT_EQ(out.cols, 2);
}

// Out pixels whose source lies outside hold the mean, taken without wrapping for bytes.
TEST(RasterResampleTest, RotateFillsWithTheMean) {
  Raster<unsigned char> image(3, 3);
  image.Fill(200);
  image.rowTable[1][1] = 110;  // mean 190
  Raster<unsigned char> out;
  image.Rotate(out, M_PI / 4, nullptr, nullptr);
  ASSERT_EQ(out.rows, 5);
  EXPECT_EQ(out.rowTable[0][0], 190);
  EXPECT_EQ(out.rowTable[2][2], 110);

  Raster<unsigned char> cropped;
  image.RotateAndCrop(cropped, M_PI / 4, nullptr, nullptr);
  EXPECT_EQ(cropped.rows, 3);
  EXPECT_EQ(cropped.cols, 3);
  EXPECT_EQ(cropped.rowTable[1][1], 110);
}
