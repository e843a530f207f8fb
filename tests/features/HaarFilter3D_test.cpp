#include "features/HaarFilter3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

struct Box {
  int x0, x1, y0, y1, z0, z1;
  float weight;
  int count;
};

std::vector<Box> BoxesOf(const HaarFilter3D& f) {
  std::vector<Box> out;
  for (const HaarCube& b : f.boxes) out.push_back({b.x0, b.x1, b.y0, b.y1, b.z0, b.z1, b.weight, b.count});
  return out;
}

std::string Show(const std::vector<Box>& boxes) {
  std::string s;
  for (const Box& b : boxes) {
    s += "[x" + std::to_string(b.x0) + ".." + std::to_string(b.x1) + " y" + std::to_string(b.y0) + ".." +
         std::to_string(b.y1) + " z" + std::to_string(b.z0) + ".." + std::to_string(b.z1) + " w" +
         std::to_string(static_cast<int>(b.weight)) + " n" + std::to_string(b.count) + "]";
  }
  return s;
}

struct PatternCase {
  const char* name;
  int type, front, top, left, depth, height, width;
  bool built;
  bool degenerate;
  const char* boxes;  // Show() of the boxes; ignored when not built
};

const PatternCase kPatterns[] = {
    {"ColumnHalvesOf3", 0, 0, 0, 0, 3, 3, 3, true, false, "[x0..0 y0..2 z0..2 w1 n9][x1..2 y0..2 z0..2 w-1 n18]"},
    {"RowHalvesOf4", 1, 0, 0, 0, 2, 4, 3, true, false, "[x0..2 y0..1 z0..1 w1 n12][x0..2 y2..3 z0..1 w-1 n12]"},
    {"SliceHalvesOf5", 2, 0, 0, 0, 5, 1, 1, true, false, "[x0..0 y0..0 z0..1 w1 n2][x0..0 y0..0 z2..4 w-1 n3]"},
    {"ColumnHalvesOf2AreAdjacentSlabs", 0, 0, 0, 0, 3, 3, 2, true, true,
     "[x0..0 y0..2 z0..2 w1 n9][x1..1 y0..2 z0..2 w-1 n9]"},
    {"ColumnThirdsOf3AreAdjacentSlabs", 3, 0, 0, 0, 3, 3, 3, true, true,
     "[x0..0 y0..2 z0..2 w1 n9][x1..1 y0..2 z0..2 w-2 n9][x2..2 y0..2 z0..2 w1 n9]"},
    {"RowThirdsOf7", 4, 0, 0, 0, 1, 7, 1, true, false,
     "[x0..0 y0..1 z0..0 w1 n2][x0..0 y2..3 z0..0 w-2 n2][x0..0 y4..6 z0..0 w1 n3]"},
    {"SliceThirdsOf6", 5, 0, 0, 0, 6, 2, 2, true, false,
     "[x0..1 y0..1 z0..1 w1 n8][x0..1 y0..1 z2..3 w-2 n8][x0..1 y0..1 z4..5 w1 n8]"},
    {"ColumnRowQuarters", 6, 0, 0, 0, 1, 2, 3, true, false,
     "[x0..0 y0..0 z0..0 w1 n1][x1..2 y0..0 z0..0 w-1 n2][x0..0 y1..1 z0..0 w-1 n1][x1..2 y1..1 z0..0 w1 n2]"},
    {"RowSliceQuarters", 7, 0, 0, 0, 2, 3, 1, true, false,
     "[x0..0 y0..0 z0..0 w1 n1][x0..0 y1..2 z0..0 w-1 n2][x0..0 y0..0 z1..1 w-1 n1][x0..0 y1..2 z1..1 w1 n2]"},
    {"ColumnSliceQuarters", 8, 0, 0, 0, 3, 1, 2, true, false,
     "[x0..0 y0..0 z0..0 w1 n1][x0..0 y0..0 z1..2 w-1 n2][x1..1 y0..0 z0..0 w-1 n1][x1..1 y0..0 z1..2 w1 n2]"},
    {"SingleBoxOfOneVoxel", 9, 0, 0, 0, 1, 1, 1, true, false, "[x0..0 y0..0 z0..0 w1 n1]"},
    {"TranslatedByOffsets", 0, 1, 2, 3, 2, 2, 4,  true, false,
     "[x3..4 y2..3 z1..2 w1 n8][x5..6 y2..3 z1..2 w-1 n8]"},
    {"ColumnHalvesNeedWidth2", 0, 0, 0, 0, 3, 3, 1, false, true, ""},
    {"RowHalvesNeedHeight2", 1, 0, 0, 0, 3, 1, 3, false, true, ""},
    {"SliceHalvesNeedDepth2", 2, 0, 0, 0, 1, 3, 3, false, true, ""},
    {"ColumnThirdsNeedWidth3", 3, 0, 0, 0, 3, 3, 2, false, true, ""},
    {"RowThirdsNeedHeight3", 4, 0, 0, 0, 3, 2, 3, false, true, ""},
    {"SliceThirdsNeedDepth3", 5, 0, 0, 0, 2, 3, 3, false, true, ""},
    {"ColumnRowQuartersNeedHeight2", 6, 0, 0, 0, 3, 1, 3, false, true, ""},
    {"RowSliceQuartersNeedDepth2", 7, 0, 0, 0, 1, 3, 3, false, true, ""},
    {"ColumnSliceQuartersNeedWidth2", 8, 0, 0, 0, 3, 3, 1, false, true, ""},
    {"UnknownType", 11, 0, 0, 0, 3, 3, 3, false, true, ""},
    {"SpecialTypeIsNotAPattern", 10, 0, 0, 0, 13, 13, 13, false, true, ""},
};

TEST(HaarFilter3DTest, BuildersGiveTheTabledBoxesWeightsAndCounts) {
  for (const PatternCase& c : kPatterns) {
    SCOPED_TRACE(c.name);
    HaarFilter3D f(c.type, c.front, c.top, c.left, c.depth, c.height, c.width);
    EXPECT_EQ(f.built != 0, c.built);
    EXPECT_EQ(f.IsDegenerate(), c.degenerate);
    EXPECT_EQ(f.type, c.type);
    EXPECT_EQ(f.front, c.front);
    EXPECT_EQ(f.top, c.top);
    EXPECT_EQ(f.left, c.left);
    EXPECT_EQ(f.depth, c.depth);
    EXPECT_EQ(f.height, c.height);
    EXPECT_EQ(f.width, c.width);
    if (c.built) {
      EXPECT_EQ(Show(BoxesOf(f)), c.boxes);
      EXPECT_EQ(f.numBoxes, static_cast<int>(f.boxes.size()));
    }
  }
}

TEST(HaarFilter3DTest, FailedRebuildKeepsBoxesButIsNoLongerBuilt) {
  HaarFilter3D f(0, 0, 0, 0, 3, 3, 3);
  ASSERT_TRUE(f.built);
  EXPECT_FALSE(f.SetType(6, 0, 0, 0, 3, 1, 3));
  EXPECT_EQ(f.boxes.size(), 2u);
  EXPECT_TRUE(f.IsDegenerate());
  // A type without a pattern is never reported as built, whatever came before.
  ASSERT_TRUE(f.SetType(9, 0, 0, 0, 2, 2, 2));
  EXPECT_FALSE(f.SetType(12, 0, 0, 0, 2, 2, 2));
}

struct SpecialCase {
  const char* name;
  int depth, height, width, innerDepth, innerHeight, innerWidth;
  bool built, degenerate;
};

const SpecialCase kSpecials[] = {
    {"InnerOneSmallerIsRefused", 12, 12, 12, 11, 8, 8, false, true},
    {"InnerEqualIsRefused", 12, 12, 12, 8, 8, 12, false, true},
    {"SlicesExceedBy2", 12, 12, 12, 10, 8, 8, true, true},
    {"RowsExceedBy3", 12, 12, 12, 8, 9, 8, true, true},
    {"ColumnsExceedBy2", 12, 12, 12, 8, 8, 10, true, true},
    {"ColumnsExceedBy3", 12, 12, 12, 8, 8, 9, true, true},
    {"EveryAxisExceedsBy4", 12, 12, 12, 8, 8, 8, true, false},
    {"UnevenButWide", 14, 13, 12, 4, 9, 2, true, false},
};

TEST(HaarFilter3DTest, SpecialFilterBoundsAndValidity) {
  for (const SpecialCase& c : kSpecials) {
    SCOPED_TRACE(c.name);
    HaarFilter3D f;
    EXPECT_EQ(f.SetBounds(1, 2, 3, c.depth, c.height, c.width, c.innerDepth, c.innerHeight, c.innerWidth), c.built);
    EXPECT_EQ(f.type, HaarFilter3D::kSpecialType);
    EXPECT_EQ(f.IsDegenerate(), c.degenerate);
    if (!c.built) continue;
    EXPECT_EQ(f.front, 1);
    EXPECT_EQ(f.top, 2);
    EXPECT_EQ(f.left, 3);
    const int x0 = 3 + (c.width - c.innerWidth) / 2, y0 = 2 + (c.height - c.innerHeight) / 2,
              z0 = 1 + (c.depth - c.innerDepth) / 2;
    const std::vector<Box> want = {
        {3, 3 + c.width - 1, 2, 2 + c.height - 1, 1, 1 + c.depth - 1, 1.0f, c.depth * c.height * c.width},
        {x0, x0 + c.innerWidth - 1, y0, y0 + c.innerHeight - 1, z0, z0 + c.innerDepth - 1, -2.0f,
         c.innerDepth * c.innerHeight * c.innerWidth}};
    EXPECT_EQ(Show(BoxesOf(f)), Show(want));
  }
}

TEST(HaarFilter3DTest, SpecialFilterWithEqualColumnExtentsIsUsable) {
  // Only reachable by editing the boxes: equal column extents pass, whatever the rows.
  HaarFilter3D f;
  ASSERT_TRUE(f.SetBounds(0, 0, 0, 12, 12, 12, 8, 8, 8));
  f.boxes[1].x0 = 0;
  f.boxes[1].x1 = 11;
  EXPECT_FALSE(f.IsDegenerate());
  f.boxes[1].x1 = 9;  // 12 against 10 columns
  EXPECT_TRUE(f.IsDegenerate());
}

TEST(HaarFilter3DTest, ScaleRebuildsPatternsAndScalesSpecialBoxes) {
  HaarFilter3D f(1, 1, 1, 1, 2, 3, 2);
  f.Scale(2.0, 1.5, 0.5);
  // r(v) = trunc(v + 0.5): front 2, top 2 (1.5), left 1 (0.5), depth 4, height 5 (4.5), width 1.
  EXPECT_EQ(f.front, 2);
  EXPECT_EQ(f.top, 2);
  EXPECT_EQ(f.left, 1);
  EXPECT_EQ(f.depth, 4);
  EXPECT_EQ(f.height, 5);
  EXPECT_EQ(f.width, 1);
  EXPECT_EQ(Show(BoxesOf(f)), "[x1..1 y2..3 z2..5 w1 n8][x1..1 y4..6 z2..5 w-1 n12]");

  HaarFilter3D s;
  ASSERT_TRUE(s.SetBounds(1, 0, 0, 12, 12, 12, 8, 8, 8));
  s.Scale(0.5, 1.0, 2.0);
  EXPECT_EQ(s.front, 1);  // 0.5 rounds up
  EXPECT_EQ(s.depth, 6);
  EXPECT_EQ(s.width, 24);
  // Box 1 was x 2..9, y 2..9, z 3..10.
  EXPECT_EQ(Show(BoxesOf(s)), "[x0..22 y0..11 z1..6 w1 n1656][x4..18 y2..9 z2..5 w-2 n480]");
}

TEST(HaarFilter3DTest, ReflectMirrorsEveryAxisInsideTheExtent) {
  HaarFilter3D f(6, 0, 0, 0, 2, 4, 6);
  f.Reflect(2, 4, 6);
  EXPECT_EQ(Show(BoxesOf(f)),
            "[x3..5 y2..3 z0..1 w1 n12][x0..2 y2..3 z0..1 w-1 n12][x3..5 y0..1 z0..1 w-1 n12][x0..2 y0..1 z0..1 w1 n12]");
}

TEST(HaarFilter3DTest, AllocateAndSetWeights) {
  HaarFilter3D f;
  const struct {
    int n;
    std::vector<float> weights;
  } cases[] = {{1, {1.0f}}, {2, {1.0f, -2.0f}}, {3, {1.0f, -2.0f}}, {4, {1.0f, -2.0f, -2.0f}}};
  for (const auto& c : cases) {
    f.SetWeights(c.n);
    ASSERT_EQ(f.boxes.size(), c.weights.size()) << c.n;
    EXPECT_EQ(f.numBoxes, static_cast<int>(c.weights.size()));
    for (size_t i = 0; i < c.weights.size(); ++i) EXPECT_EQ(f.boxes[i].weight, c.weights[i]);
  }
  f.SetWeights(5);  // nothing
  EXPECT_EQ(f.boxes.size(), 3u);
  f.boxes[0].x1 = 7;
  f.Allocate(3);  // same size: boxes kept
  EXPECT_EQ(f.boxes[0].x1, 7);
  f.Allocate(0);
  EXPECT_TRUE(f.boxes.empty());
  EXPECT_EQ(f.numBoxes, 0);
  EXPECT_FALSE(f.built);
}

// ---- evaluation against brute force on a small deterministic volume ----

class HaarEvaluationTest : public ::testing::Test {
 protected:
  static constexpr int D = 7, H = 8, W = 9;

  void SetUp() override {
    std::mt19937 gen(12345);
    vol.assign(D * H * W, 0);
    for (int& v : vol) v = static_cast<int>(gen() % 256);
    J.sums.SetSize(D, H, W);
    J.squares.SetSize(D, H, W);
    J.zSize = D;
    J.ySize = H;
    J.xSize = W;
    // Prefix sums by explicit loops over every voxel at or below (z, y, x).
    for (int z = 0; z < D; ++z)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          double s = 0, q = 0;
          for (int k = 0; k <= z; ++k)
            for (int j = 0; j <= y; ++j)
              for (int i = 0; i <= x; ++i) {
                s += I(k, j, i);
                q += static_cast<double>(I(k, j, i)) * I(k, j, i);
              }
          J.sums(z, y, x) = s;
          J.squares(z, y, x) = q;
        }
  }

  int I(int z, int y, int x) const { return vol[(z * H + y) * W + x]; }

  static int Clamp(int v, int n) { return v < 0 ? 0 : (v >= n ? n - 1 : v); }

  // Voxels strictly above the clamped low - 1 corner and at or below the clamped high corner.
  void BruteBox(int x0, int y0, int z0, int x1, int y1, int z1, double* sum, double* squares, int* n) const {
    *sum = *squares = 0;
    *n = 0;
    for (int z = Clamp(z0 - 1, D) + 1; z <= Clamp(z1, D); ++z)
      for (int y = Clamp(y0 - 1, H) + 1; y <= Clamp(y1, H); ++y)
        for (int x = Clamp(x0 - 1, W) + 1; x <= Clamp(x1, W); ++x) {
          *sum += I(z, y, x);
          *squares += static_cast<double>(I(z, y, x)) * I(z, y, x);
          ++*n;
        }
  }

  double BruteValue(const HaarFilter3D& f, int oz, int oy, int ox) const {
    std::vector<double> sums;
    for (const HaarCube& b : f.boxes) {
      double s, q;
      int n;
      BruteBox(ox + b.x0, oy + b.y0, oz + b.z0, ox + b.x1, oy + b.y1, oz + b.z1, &s, &q, &n);
      sums.push_back(s);
    }
    if (f.type == HaarFilter3D::kSpecialType) {
      return (sums[0] - sums[1]) / f.boxes[0].count - sums[1] / f.boxes[1].count;
    }
    double v = 0;
    for (size_t i = 0; i < sums.size(); ++i) v += sums[i] * f.boxes[i].weight / f.boxes[i].count;
    return v;
  }

  std::vector<int> vol;
  ItgImage3D<double> J;
};

TEST_F(HaarEvaluationTest, MatchesBruteForceClampedSumsAtRandomPlacements) {
  std::mt19937 gen(777);
  int checked = 0;
  for (int trial = 0; trial < 400; ++trial) {
    HaarFilter3D f;
    const int type = static_cast<int>(gen() % 11);
    if (type == 10) {
      const int d = 4 + gen() % 4, h = 4 + gen() % 4, w = 4 + gen() % 4;
      f.SetBounds(0, 0, 0, d, h, w, d - 2 - gen() % 2, h - 2 - gen() % 2, w - 2 - gen() % 2);
    } else {
      f.SetType(type, gen() % 3, gen() % 3, gen() % 3, 1 + gen() % 6, 1 + gen() % 6, 1 + gen() % 6);
    }
    if (!f.built) continue;
    // Origins from 0 (first plane lost) to beyond the far faces (clamped).
    const int oz = trial % 5 == 0 ? 0 : static_cast<int>(gen() % D);
    const int oy = trial % 5 == 0 ? 0 : static_cast<int>(gen() % H);
    const int ox = trial % 5 == 0 ? 0 : static_cast<int>(gen() % W);
    const double want = BruteValue(f, oz, oy, ox);
    EXPECT_NEAR(EvaluateHaarFilter(f, J, oz, oy, ox), want, 1e-9 * (1 + std::fabs(want)))
        << "type " << type << " at " << oz << "," << oy << "," << ox;
    ++checked;
  }
  EXPECT_GT(checked, 200);
}

TEST_F(HaarEvaluationTest, BoxAtOriginZeroLosesItsFirstPlaneButNotItsCount) {
  HaarFilter3D f(9, 0, 0, 0, 3, 3, 3);
  double s, q;
  int n;
  BruteBox(1, 1, 1, 2, 2, 2, &s, &q, &n);  // only the voxels 1..2 on every axis count
  EXPECT_EQ(n, 8);
  EXPECT_DOUBLE_EQ(EvaluateHaarFilter(f, J, 0, 0, 0), s / 27.0);
  // One plane in: nothing is lost.
  BruteBox(1, 1, 1, 3, 3, 3, &s, &q, &n);
  EXPECT_DOUBLE_EQ(EvaluateHaarFilter(f, J, 1, 1, 1), s / 27.0);
}

TEST_F(HaarEvaluationTest, FirstBoxDeviationMatchesBruteForce) {
  const struct {
    int type, depth, height, width, oz, oy, ox;
  } cases[] = {{0, 4, 4, 4, 1, 2, 3}, {6, 3, 5, 2, 0, 0, 1}, {9, 6, 6, 6, 3, 4, 5}, {2, 2, 3, 4, 6, 7, 8}};
  for (const auto& c : cases) {
    HaarFilter3D f(c.type, 0, 0, 0, c.depth, c.height, c.width);
    const HaarCube& b = f.boxes[0];
    double s, q;
    int n;
    BruteBox(c.ox + b.x0, c.oy + b.y0, c.oz + b.z0, c.ox + b.x1, c.oy + b.y1, c.oz + b.z1, &s, &q, &n);
    ASSERT_GT(n, 0);
    const double var = q / n - (s / n) * (s / n);
    EXPECT_NEAR(HaarFirstBoxDeviation(f, J, c.oz, c.oy, c.ox), std::sqrt(var), 1e-9) << c.type;
  }
}

TEST_F(HaarEvaluationTest, UnusableInputsGiveZero) {
  HaarFilter3D unbuilt(6, 0, 0, 0, 3, 1, 3);
  EXPECT_EQ(EvaluateHaarFilter(unbuilt, J, 1, 1, 1), 0.0);
  EXPECT_EQ(HaarFirstBoxDeviation(unbuilt, J, 1, 1, 1), 0.0);
  HaarFilter3D f(9, 0, 0, 0, 2, 2, 2);
  ItgImage3D<double> empty;
  EXPECT_EQ(EvaluateHaarFilter(f, empty, 0, 0, 0), 0.0);
  EXPECT_EQ(HaarFirstBoxDeviation(f, empty, 0, 0, 0), 0.0);
  // A one-voxel box on the first plane spans no voxel after clamping: deviation 0, not NaN.
  HaarFilter3D thin(9, 0, 0, 0, 1, 1, 1);
  EXPECT_EQ(HaarFirstBoxDeviation(thin, J, 0, 0, 0), 0.0);
  // A box emptied by hand is skipped instead of dividing by its zero count.
  f.boxes[0].x1 = -1;
  f.boxes[0].UpdateCount();
  EXPECT_EQ(EvaluateHaarFilter(f, J, 2, 2, 2), 0.0);
}

}  // namespace
