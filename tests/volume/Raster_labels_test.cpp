// Raster: label images.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "RasterTestUtil.h"
#include "TestSupport.h"
#include "volume/Raster.h"

namespace {

template <class T>
class LabelTypesTest : public testing::Test {};
using PixelTypes = testing::Types<unsigned char, float>;
TYPED_TEST_SUITE(LabelTypesTest, PixelTypes);

int CountRoots(const Matrix<int>& link) {
  int roots = 0;
  for (int i = 0; i < link.rows * link.cols; ++i)
    if (link.data[i] < 0) ++roots;
  return roots;
}

// Sets rows r0..r1, columns c0..c1 (inclusive) to value.
template <class T>
void FillBlock(Raster<T>& image, int r0, int r1, int c0, int c1, T value) {
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) image.rowTable[r][c] = value;
}

}  // namespace

TYPED_TEST(LabelTypesTest, ConnectedComponentsEdgeCases) {
  Matrix<int> link, size;
  Raster<TypeParam> empty;
  EXPECT_EQ(empty.ConnectedComponents(link, size), -1);
  EXPECT_EQ(link.rows * link.cols, 0);
  Raster<TypeParam> one = Image<TypeParam>(1, 1, {6});
  EXPECT_EQ(one.ConnectedComponents(link, size), 6);
  EXPECT_EQ(Pixels(link), std::vector<double>({-1}));
  EXPECT_EQ(Pixels(size), std::vector<double>({1}));
}

// The union rules: a join through the row above links to that pixel's root and raises
// its rank to 2; a join through the left neighbour hangs the lower-ranked root under
// the other, the left neighbour's root winning a tie.
TYPED_TEST(LabelTypesTest, ForestFollowsTheUnionRules) {
  struct Case {
    const char* name;
    int rows, cols;
    std::vector<double> pixels;
    std::vector<double> link, size;
  } cases[] = {
      {"block", 2, 2, {4, 4, 4, 4}, {-2, 0, 0, 0}, {4, 0, 0, 0}},
      // (1,1) joins (0,1) from above (rank 2), then (1,0) of rank 1 goes under it.
      {"above raises rank", 2, 2, {9, 5, 5, 5}, {-1, -2, 1, 1}, {1, 3, 0, 0}},
      // (1,2) links straight to the root 0 of (0,2), not to (0,2).
      {"above links to root", 2, 3, {1, 1, 1, 0, 0, 1}, {-2, 0, 0, -2, 3, 0}, {4, 0, 0, 2, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Raster<TypeParam> image = Image<TypeParam>(c.rows, c.cols, c.pixels);
    Matrix<int> link, size;
    image.ConnectedComponents(link, size);
    EXPECT_EQ(Pixels(link), c.link);
    EXPECT_EQ(Pixels(size), c.size);
    int rootRow = -1, rootCol = -1;
    EXPECT_EQ(image.FindRoot(link, c.rows - 1, c.cols - 1, rootRow, rootCol), -2);
  }
}

TYPED_TEST(LabelTypesTest, DiagonalContactsAndCleanBoundary) {
  // Two 1s touching only at a corner are two components; CleanBoundary fills the
  // pixel below the upper one.
  Raster<TypeParam> image = Image<TypeParam>(2, 2, {1, 0, 0, 1});
  Matrix<int> link, size;
  image.ConnectedComponents(link, size);
  EXPECT_EQ(CountRoots(link), 4);
  image.CleanBoundary();
  EXPECT_EQ(Pixels(image), std::vector<double>({1, 0, 1, 1}));
  image.ConnectedComponents(link, size);
  EXPECT_EQ(CountRoots(link), 2);

  // The other diagonal: the upper 0 reaches the lower 0 first.
  image = Image<TypeParam>(2, 2, {0, 1, 1, 0});
  image.CleanBoundary();
  EXPECT_EQ(Pixels(image), std::vector<double>({0, 1, 0, 0}));

  // A checkerboard: every pixel of the middle row is held by two equal diagonal
  // neighbours and no equal edge neighbour, so the first row fills nothing; the
  // second row fills (2,0), after which (2,1) has an equal edge neighbour and takes
  // the 0 from above.
  image = Image<TypeParam>(3, 3, {0, 1, 0, 1, 0, 1, 0, 1, 0});
  EXPECT_TRUE(image.IsDiagonallyConnected(1, 1));
  EXPECT_TRUE(image.IsDiagonallyConnected(1, 0));
  EXPECT_FALSE(image.IsDiagonallyConnected(0, 0));  // a single equal diagonal
  EXPECT_FALSE(image.IsDiagonallyConnected(-1, 0));
  EXPECT_FALSE(image.IsDiagonallyConnected(0, 3));
  image.CleanBoundary();
  EXPECT_EQ(Pixels(image), std::vector<double>({0, 1, 0, 1, 0, 1, 1, 0, 0}));
}

TYPED_TEST(LabelTypesTest, RangeAtOrAbove) {
  Raster<TypeParam> image = Image<TypeParam>(2, 3, {3, 7, 1, 7, 9, 0});
  EXPECT_EQ(image.RangeAtOrAbove(10), 0);
  EXPECT_EQ(Pixels(image), std::vector<double>({3, 7, 1, 7, 9, 0}));
  EXPECT_EQ(image.RangeAtOrAbove(2), 3);
  EXPECT_EQ(Pixels(image), std::vector<double>({1, 2, 1, 2, 3, 0}));
}

TEST(RasterLabelsTest, RangeAtOrAboveTruncatesFloats) {
  Raster<float> image = Image<float>(1, 4, {2.9, 2.1, 5.5, 1.9});
  EXPECT_EQ(image.RangeAtOrAbove(2), 2);
  EXPECT_EQ(Pixels(image), std::vector<double>({1, 1, 2, 1.9f}));
}

TYPED_TEST(LabelTypesTest, KeepMainComponent) {
  struct Case {
    const char* name;
    int rows, cols;
    std::vector<double> pixels;
    short minSize;
    int result;
    std::vector<double> expected;
  } cases[] = {
      {"one component", 2, 3, {0, 4, 4, 0, 4, 0}, 2, 1, {0, 1, 1, 0, 1, 0}},
      {"no positive pixel", 1, 3, {0, 0, 0}, 2, 0, {0, 0, 0}},
      {"few pixels in all", 2, 3, {3, 0, 5, 0, 0, 6}, 3, 1, {1, 0, 1, 0, 0, 1}},
      // 5s (4 pixels) touch the small 6; the 7s are small but touch nothing.
      {"merge", 3, 5, {5, 5, 0, 7, 7, 5, 6, 0, 0, 0, 5, 0, 0, 0, 0}, 3, 2, {1, 1, 0, 2, 2, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
      // The small 2 touches both 3s and 4s: it joins the first in component order.
      {"merge into first", 1, 7, {3, 3, 3, 2, 4, 4, 4}, 2, 2, {1, 1, 1, 1, 2, 2, 2}},
      {"minSize 0 keeps all", 1, 4, {2, 3, 0, 9}, 0, 3, {1, 2, 0, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Raster<TypeParam> image = Image<TypeParam>(c.rows, c.cols, c.pixels);
    EXPECT_EQ(image.KeepMainComponent(c.minSize), c.result);
    EXPECT_EQ(Pixels(image), c.expected);
  }
}

// More components than a byte can number: the numbers are kept in ints, so the merging
// is right, and the stored numbers saturate at 255 instead of wrapping to 0.
TEST(RasterLabelsTest, KeepMainComponentBeyond255Components) {
  Raster<unsigned char> image(1, 600);
  for (int c = 0; c < 600; c += 2) image.data[c] = 1;  // 300 single pixels
  EXPECT_EQ(image.KeepMainComponent(1), 300);
  EXPECT_EQ(image.data[0], 1);
  EXPECT_EQ(image.data[2 * 254], 255);
  EXPECT_EQ(image.data[2 * 299], 255);
  EXPECT_EQ(image.data[1], 0);
}

TYPED_TEST(LabelTypesTest, MakeLabelsConnected) {
  // Every value already one region: nothing changes.
  Raster<TypeParam> image = Image<TypeParam>(2, 3, {1, 1, 2, 3, 3, 2});
  EXPECT_EQ(image.MakeLabelsConnected(true, nullptr), 3);
  EXPECT_EQ(Pixels(image), std::vector<double>({1, 1, 2, 3, 3, 2}));

  // A second region of 4 gets label 5 and the map says where it came from.
  image = Image<TypeParam>(2, 4, {4, 4, 0, 4, 0, 0, 0, 0});
  VectorQo<short> map;
  EXPECT_EQ(image.MakeLabelsConnected(false, &map), 5);
  EXPECT_EQ(Pixels(image), std::vector<double>({4, 4, 0, 5, 0, 0, 0, 0}));
  ASSERT_EQ(map.cols, 2000);
  EXPECT_EQ(map[5], 4);
  EXPECT_EQ(map[4], -1);

  // With merging the small region takes its kept neighbour's value.
  image = Image<TypeParam>(2, 4, {4, 4, 0, 4, 0, 0, 0, 0});
  EXPECT_EQ(image.MakeLabelsConnected(true, &map), 4);
  EXPECT_EQ(Pixels(image), std::vector<double>({4, 4, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(map[5], -1);

  // A diagonal-only contact is closed first, so the two 7s become one region.
  image = Image<TypeParam>(2, 2, {7, 0, 0, 7});
  EXPECT_EQ(image.MakeLabelsConnected(false, nullptr), 7);
  EXPECT_EQ(Pixels(image), std::vector<double>({7, 0, 7, 7}));
}

// Merging needs fewer than 900 pixels.
TEST(RasterLabelsTest, MergeThresholdIs900Pixels) {
  for (int extra : {899, 900}) {
    SCOPED_TRACE(extra);
    Raster<unsigned char> image(40, 60);
    image.Fill(1);
    FillBlock<unsigned char>(image, 0, 39, 0, 24, 2);  // 1000 pixels of 2
    for (int i = 0; i < extra; ++i) image.rowTable[i / 30][30 + i % 30] = 2;
    EXPECT_EQ(image.MakeLabelsConnected(true, nullptr), extra < 900 ? 2 : 3);
    EXPECT_EQ(image.rowTable[0][30], extra < 900 ? 1 : 3);
    EXPECT_EQ(image.rowTable[0][0], 2);
  }
}

TEST(RasterLabelsTest, MakeLabelsConnectedLimits) {
  // A float value outside the tables ends the passes with 2001.
  for (double bad : {2000.0, -3.0}) {
    Raster<float> image = Image<float>(1, 3, {1, bad, 1});
    EXPECT_EQ(image.MakeLabelsConnected(false, nullptr), 2001) << bad;
  }
  // A byte image past 255 labels stops instead of wrapping.
  Raster<unsigned char> bytes = Image<unsigned char>(1, 5, {255, 0, 3, 0, 3});
  EXPECT_EQ(bytes.MakeLabelsConnected(false, nullptr), 2001);
  // New labels from 2000 on get no map entry; the next pass reports 2001.
  Raster<float> floats = Image<float>(1, 5, {1999, 0, 3, 0, 3});
  VectorQo<short> map;
  EXPECT_EQ(floats.MakeLabelsConnected(false, &map), 2001);
  EXPECT_EQ(Pixels(floats), std::vector<double>({1999, 0, 3, 2000, 2001}));
}

// Cross-check with scipy.ndimage.label (4-connectivity) on random label images.
TYPED_TEST(LabelTypesTest, AgreesWithScipyLabel) {
  const std::string script = R"(
import sys, numpy as np
from scipy import ndimage
rows, cols = int(sys.argv[1]), int(sys.argv[2])
v = np.array([int(t) for t in sys.argv[3].split(',')]).reshape(rows, cols)
print(sum(ndimage.label(v == label)[1] for label in np.unique(v)))
)";
  uint32_t seed = 777;
  for (int labels : {2, 3, 6}) {
    SCOPED_TRACE(labels);
    const int rows = 23, cols = 31;
    Raster<TypeParam> image(rows, cols);
    std::string text;
    for (int i = 0; i < rows * cols; ++i) {
      seed = seed * 1103515245u + 12345u;
      const int v = static_cast<int>((seed >> 16) % labels);
      image.data[i] = static_cast<TypeParam>(v);
      text += (i ? "," : "") + std::to_string(v);
    }
    ProcessResult r = RunPython(script, {std::to_string(rows), std::to_string(cols), text});
    ASSERT_EQ(r.status, 0) << r.err;
    Matrix<int> link, size;
    image.ConnectedComponents(link, size);
    EXPECT_EQ(CountRoots(link), std::stoi(r.out));
    int total = 0;
    for (int i = 0; i < rows * cols; ++i) total += size.data[i];
    EXPECT_EQ(total, rows * cols);
  }
}
