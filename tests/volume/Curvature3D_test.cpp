#include "volume/Curvature3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "volume/ItgImage3D.h"

namespace {

void FillWith(HeapMatrix3D<unsigned char>& v, int d0, int d1, int d2, const std::function<int(int, int, int)>& f) {
  v.SetSize(d0, d1, d2);
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) v[z][y][x] = static_cast<unsigned char>(f(z, y, x));
}

}  // namespace

TEST(Curvature3DTest, GradientOfARampAndAtTheEdges) {
  Curvature3D<unsigned char> c;
  FillWith(c.Volume(), 4, 5, 6, [](int, int, int x) { return 10 * x; });
  c.SetPosition(2, 2, 2);
  c.ComputeGradient();
  c.ComputeHessian();
  EXPECT_EQ(c.Gradient()[0], 20.0);
  EXPECT_EQ(c.Gradient()[1], 0.0);
  EXPECT_EQ(c.Gradient()[2], 0.0);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(c.Hessian()[i], 0.0) << i;

  c.SetPosition(1, 1, 5);  // last column: V(X-1) - V(X-2)
  c.ComputeGradient();
  EXPECT_EQ(c.Gradient()[0], 10.0);
  c.SetPosition(1, 1, 0);  // first column: V(1) - V(0)
  c.ComputeGradient();
  EXPECT_EQ(c.Gradient()[0], 10.0);
}

TEST(Curvature3DTest, HessianOfAQuadraticVolume) {
  // V = x*y + z*z: gx = 2y, gy = 2x, gz = 4z; the mixed xy and yx entries are 2, zz is 4.
  Curvature3D<unsigned char> c;
  FillWith(c.Volume(), 6, 6, 6, [](int z, int y, int x) { return x * y + z * z; });
  c.SetPosition(2, 2, 2);
  c.ComputeGradient();
  c.ComputeHessian();
  EXPECT_EQ(c.Gradient()[0], 4.0);
  EXPECT_EQ(c.Gradient()[1], 4.0);
  EXPECT_EQ(c.Gradient()[2], 8.0);
  const double want[9] = {0, 2, 0, 2, 0, 0, 0, 0, 4};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(c.Hessian()[i], want[i]) << i;

  // On the low faces the step back is held inside the volume: the mixed entries are 0.
  c.SetPosition(0, 0, 0);
  c.ComputeGradient();
  c.ComputeHessian();
  for (int i : {1, 2, 3, 5, 6, 7}) EXPECT_EQ(c.Hessian()[i], 0.0) << i;
  // A position outside the volume gives zeros instead of reading outside it.
  c.SetPosition(6, 0, 0);
  c.ComputeGradient();
  c.ComputeHessian();
  EXPECT_EQ(c.Gradient()[2], 0.0);
  EXPECT_EQ(c.Hessian()[8], 0.0);
}

TEST(Curvature3DTest, MeanDirectionCountsOnlyStrongGradients) {
  const struct {
    int step;
    float x;
  } cases[] = {{31, 0.0f}, {32, -1.0f}};  // m^2 = 961 does not count, 1024 does
  for (const auto& c : cases) {
    Curvature3D<unsigned char> curv;
    FillWith(curv.Volume(), 9, 9, 9, [&c](int, int, int x) { return x >= 5 ? c.step : 0; });
    float out[3] = {9, 9, 9};
    curv.GradientDirection(out, 4, 4, 4);
    EXPECT_EQ(out[0], c.x) << c.step;
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
  }
}

TEST(Curvature3DTest, DirectionAtASphereSurfacePointsOutward) {
  Curvature3D<unsigned char> c;
  FillWith(c.Volume(), 25, 25, 25, [](int z, int y, int x) {
    const int d2 = (z - 12) * (z - 12) + (y - 12) * (y - 12) + (x - 12) * (x - 12);
    return d2 <= 36 ? 200 : 20;
  });
  const struct {
    int z, y, x;
  } points[] = {{12, 12, 19}, {12, 5, 12}, {19, 12, 12}, {16, 16, 16}, {7, 12, 8}};
  for (const auto& p : points) {
    float out[3];
    c.GradientDirection(out, p.z, p.y, p.x);
    double ox = p.x - 12, oy = p.y - 12, oz = p.z - 12;
    const double len = std::sqrt(ox * ox + oy * oy + oz * oz);
    const double cosine = (out[0] * ox + out[1] * oy + out[2] * oz) / len;
    EXPECT_GT(cosine, 0.95) << p.z << " " << p.y << " " << p.x;
    EXPECT_NEAR(std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]), 1.0, 1e-6);
  }
  // Near a face and on an empty volume nothing is read outside (checked by the sanitizers).
  float out[3];
  c.GradientDirection(out, 0, 0, 24);
  Curvature3D<unsigned char> empty;
  empty.GradientDirection(out, 0, 0, 0);
  EXPECT_EQ(out[0], 0.0f);
}

TEST(Curvature3DTest, SubVolumeIntersect) {
  SubVolume box(-3, 2, 5, 4, 12, 9);
  box.Intersect(SubVolume(0, 0, 0, 9, 9, 7));
  EXPECT_EQ(box.x0, 0);
  EXPECT_EQ(box.y0, 2);
  EXPECT_EQ(box.z0, 5);
  EXPECT_EQ(box.x1, 4);
  EXPECT_EQ(box.y1, 9);
  EXPECT_EQ(box.z1, 7);
  box.Intersect(SubVolume(6, 0, 0, 9, 9, 9));  // disjoint along x
  EXPECT_GT(box.x0, box.x1);
}

TEST(ItgImage3DTest, ClearEmptiesTheTablesAndKeepsTheExtents) {
  ItgImage3D<double> itg;
  EXPECT_EQ(itg.xSize + itg.ySize + itg.zSize, 0);
  itg.xSize = 4;
  itg.ySize = 3;
  itg.zSize = 2;
  itg.sums.SetSize(2, 3, 4);
  itg.squares.SetSize(2, 3, 4);
  itg.Clear();
  EXPECT_EQ(itg.sums.NumElements(), 0);
  EXPECT_EQ(itg.squares.dim0(), 0);
  EXPECT_EQ(itg.xSize, 4);
  EXPECT_EQ(itg.zSize, 2);
}
