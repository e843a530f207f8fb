// Raster: drawing, statistics and erosion along point lists.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "RasterTestUtil.h"
#include "volume/Raster.h"

namespace {

template <class T>
class DrawTypesTest : public testing::Test {};
using PixelTypes = testing::Types<unsigned char, float>;
TYPED_TEST_SUITE(DrawTypesTest, PixelTypes);

ImageRect Rect(int colStart, int colEnd, int rowStart, int rowEnd) {
  ImageRect r;
  r.colStart = colStart;
  r.colEnd = colEnd;
  r.rowStart = rowStart;
  r.rowEnd = rowEnd;
  return r;
}

// The image as text rows, '#' for `value` and '.' for anything else.
template <class T>
std::vector<std::string> Picture(const Raster<T>& image, T value) {
  std::vector<std::string> out;
  for (int r = 0; r < image.rows; ++r) {
    std::string line;
    for (int c = 0; c < image.cols; ++c) line += image.rowTable[r][c] == value ? '#' : '.';
    out.push_back(line);
  }
  return out;
}

std::vector<std::pair<int, int>> Points(PointList2D& points) {
  std::vector<std::pair<int, int>> out;
  int r = 0, c = 0;
  for (bool more = points.rows.First(&r) && points.cols.First(&c); more;
       more = points.rows.Next(&r) && points.cols.Next(&c))
    out.emplace_back(r, c);
  return out;
}

}  // namespace

TYPED_TEST(DrawTypesTest, Rectangles) {
  Raster<TypeParam> image(6, 7);
  image.DrawRectangle(Rect(1, 8, -1, 2), 5);  // right and top sides outside
  EXPECT_EQ(Picture<TypeParam>(image, 5), std::vector<std::string>({".#.....", ".#.....", ".######", ".......",
                                                                     ".......", "......."}));
  Raster<TypeParam> filled(3, 4);
  filled.FillRectangle(Rect(-2, 1, 1, 5), 5);
  EXPECT_EQ(Picture<TypeParam>(filled, 5), std::vector<std::string>({"....", "##..", "##.."}));

  // The thick outline is the three rings around the rectangle; its own outline and
  // inside are left as they are.
  Raster<TypeParam> thick(10, 10);
  thick.DrawThickRectangle(Rect(4, 5, 4, 5), 5);
  EXPECT_EQ(Picture<TypeParam>(thick, 5),
            std::vector<std::string>({"..........", ".########.", ".########.", ".########.", ".###..###.",
                                      ".###..###.", ".########.", ".########.", ".########.", ".........."}));
}

TYPED_TEST(DrawTypesTest, Discs) {
  // Radius 1 on a pixel: its edge neighbours lie at exactly 1, so only the pixel itself.
  Raster<TypeParam> image(5, 5);
  image.FillDisc(1.0, 2.0, 2.0, 9);
  EXPECT_EQ(Picture<TypeParam>(image, 9), std::vector<std::string>({".....", ".....", "..#..", ".....", "....."}));

  // A 4 x 6 image: the disc of radius 2 centred at (1.5, 1.5) touches the top and left.
  Raster<TypeParam> centred(4, 6);
  centred.DrawCenteredCircle(9);
  EXPECT_EQ(Picture<TypeParam>(centred, 9), std::vector<std::string>({".##...", "####..", "####..", ".##..."}));
}

TYPED_TEST(DrawTypesTest, Circles) {
  Raster<TypeParam> image(9, 9);
  image.DrawCircle(-2, 4, 4, 7);  // a negative radius ends at once and draws nothing
  EXPECT_EQ(Pixels(image), std::vector<double>(81, 0.0));
  image.DrawCircle(0, 4, 4, 7);
  EXPECT_EQ(image.Sum(), TypeParam(7));
  image.SetZero();
  image.DrawCircle(3, 4, 4, 7);
  EXPECT_EQ(Picture<TypeParam>(image, 7),
            std::vector<std::string>({".........", "..#####..", ".##...##.", ".#.....#.", ".#.....#.", ".#.....#.",
                                      ".##...##.", "..#####..", "........."}));
  // Centred on a corner: positions are truncated toward zero, so points just above
  // and left of the image land on row and column 0; the rest outside are skipped.
  Raster<TypeParam> corner(3, 3);
  corner.DrawCircle(2, 0, 0, 7);
  EXPECT_EQ(Picture<TypeParam>(corner, 7), std::vector<std::string>({"###", "###", "##."}));
}

TEST(RasterDrawTest, MeanAlongPoints) {
  Raster<float> image = Image<float>(1, 4, {0, 3, 3, 6});
  PointList2D points;
  EXPECT_EQ(image.MeanAlongPoints(points, 1), 0.0f);  // no points
  EXPECT_EQ(image.MeanAlongPoints(points, 2), 0.0f);
  points.Append(0, 0);
  points.Append(0, 1);
  points.Append(0, 2);
  EXPECT_FLOAT_EQ(image.MeanAlongPoints(points, 1), 2.0f);
  points.Append(5, 0);  // outside the image: skipped, not counted
  EXPECT_FLOAT_EQ(image.MeanAlongPoints(points, 1), 2.0f);
  EXPECT_FLOAT_EQ(image.MeanAlongPoints(points, 2), static_cast<float>(std::sqrt(2.0)));  // (4 + 1 + 1) / 3
  EXPECT_FLOAT_EQ(image.MeanAlongPoints(points, 3), static_cast<float>(-std::cbrt(2.0)));  // (-8 + 1 + 1) / 3
  points.Append(0, 3);
  EXPECT_FLOAT_EQ(image.MeanAlongPoints(points, 3), 0.0f);  // symmetric about the mean 3

  // Byte sums do not wrap: 200 and 100 have the mean 150 and the deviation 50.
  Raster<unsigned char> bytes = Image<unsigned char>(1, 3, {200, 100, 7});
  PointList2D two;
  two.Append(0, 0);
  two.Append(0, 1);
  EXPECT_EQ(bytes.MeanAlongPoints(two, 1), 150);
  EXPECT_EQ(bytes.MeanAlongPoints(two, 2), 50);
}

TYPED_TEST(DrawTypesTest, Erosion) {
  PointList2D points;
  Raster<TypeParam> empty(4, 4);
  EXPECT_EQ(empty.ErodeOnce(points), 0);
  EXPECT_EQ(points.Count(), 0);

  Raster<TypeParam> single(3, 3);
  single.rowTable[1][1] = 4;
  EXPECT_EQ(single.ErodeOnce(points), 1);
  EXPECT_EQ(single.Sum(), TypeParam(0));
  EXPECT_EQ(Points(points), (std::vector<std::pair<int, int>>{{1, 1}}));

  // A 3 x 3 block: the ring goes first and its corners, left without a non-zero edge
  // neighbour, are recorded; then the centre.
  Raster<TypeParam> block(5, 5);
  block.FillRectangle(Rect(1, 3, 1, 3), 2);
  EXPECT_EQ(block.Erode(points, 5), 2);
  EXPECT_EQ(Points(points), (std::vector<std::pair<int, int>>{{1, 1}, {1, 3}, {3, 1}, {3, 3}, {2, 2}}));
  EXPECT_EQ(block.Sum(), TypeParam(0));

  // Pixels on the border are peeled whatever their neighbours.
  Raster<TypeParam> full(2, 3);
  full.Fill(1);
  EXPECT_EQ(full.ErodeOnce(points), 6);

  EXPECT_EQ(block.Erode(points, 0), 0);
  EXPECT_EQ(points.Count(), 0);  // emptied first
}

TEST(RasterDrawTest, ErosionComparesFloatsWithTheirTruncatedValue) {
  Raster<float> image(5, 5);
  image.FillRectangle(Rect(1, 3, 1, 3), 2.5f);
  PointList2D points;
  EXPECT_EQ(image.ErodeOnce(points), 9);  // 2.5 differs from 2, so every pixel goes at once
  Raster<float> whole(5, 5);
  whole.FillRectangle(Rect(1, 3, 1, 3), 2.0f);
  EXPECT_EQ(whole.ErodeOnce(points), 8);
}
