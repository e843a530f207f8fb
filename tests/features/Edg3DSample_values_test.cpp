// Feature values against brute-force computations written here: explicit loops over
// the volume with clamped indexes and direct finite differences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "FeatureTestSupport.h"
#include "TestSupport.h"
#include "features/Edg3DSample.h"
#include "features/HaarFilter3D.h"
#include "features/Object3DSample.h"
#include "platform/NativePath.h"

namespace {

int Clamp(int v, int n) { return std::min(std::max(v, 0), n - 1); }

// The voxel with each index held inside the volume.
int At(const HeapMatrix3D<unsigned char>& v, int z, int y, int x) {
  return v(Clamp(z, v.dim0()), Clamp(y, v.dim1()), Clamp(x, v.dim2()));
}

// The six plane-gradient sums written out voxel by voxel.
void PlaneSums(const HeapMatrix3D<unsigned char>& v, int z, int y, int x, double s[6]) {
  auto I = [&](int dz, int dy, int dx) { return At(v, z + dz, y + dy, x + dx); };
  s[0] = 0.25 * (2 * (I(0, 1, 0) - I(0, -1, 0)) + I(0, 1, -1) + I(0, 1, 1) - I(0, -1, -1) - I(0, -1, 1));
  s[1] = 0.25 * (2 * (I(0, 0, 1) - I(0, 0, -1)) + I(0, -1, 1) + I(0, 1, 1) - I(0, -1, -1) - I(0, 1, -1));
  s[2] = 0.25 * (2 * (I(1, 0, 0) - I(-1, 0, 0)) + I(1, 0, -1) + I(1, 0, 1) - I(-1, 0, -1) - I(-1, 0, 1));
  s[3] = 0.25 * (2 * (I(0, 0, 1) - I(0, 0, -1)) + I(-1, 0, 1) + I(1, 0, 1) - I(-1, 0, -1) - I(1, 0, -1));
  s[4] = 0.25 * (2 * (I(1, 0, 0) - I(-1, 0, 0)) + I(1, -1, 0) + I(1, 1, 0) - I(-1, -1, 0) - I(-1, 1, 0));
  s[5] = 0.25 * (2 * (I(0, 1, 0) - I(0, -1, 0)) + I(-1, 1, 0) + I(1, 1, 0) - I(-1, -1, 0) - I(1, -1, 0));
}

double Sign(double v) { return v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0); }

// A radius-4 edge sample (profiles up to length 3) with the pattern volume.
class ValueFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    sample.boxSpan = 8;
    sample.boxWidth = sample.boxHeight = sample.boxDepth = 9;
    sample.buildFeaturePool();
    sample.addCurvatureFeatures();
    volume = PatternVolume(7, 8, 9);
    sample.setVolume(volume);
  }
  void MoveTo(int z, int y, int x) {
    VoxelSampleRecord r;
    r.caseNumber = -1;
    r.z = static_cast<int16_t>(z);
    r.y = static_cast<int16_t>(y);
    r.x = static_cast<int16_t>(x);
    sample.invalidateCase();
    sample.setPosition(r);
  }
  // Every voxel: the interior and every face, corner and edge.
  template <class F>
  void ForEachVoxel(F f) {
    for (int z = 0; z < volume.dim0(); ++z)
      for (int y = 0; y < volume.dim1(); ++y)
        for (int x = 0; x < volume.dim2(); ++x) {
          MoveTo(z, y, x);
          f(z, y, x);
        }
  }
  Edg3DSample sample;
  HeapMatrix3D<unsigned char> volume;
};

TEST_F(ValueFixture, LocationQuotientsRoundedToFloatFirst) {
  const int W = 9, H = 8, D = 7;
  for (int z : {0, 3, D - 1})
    for (int y : {0, 5, H - 1})
      for (int x : {0, 2, W - 1}) {
        MoveTo(z, y, x);
        volatile float u = float(double(x) / W), v = float(double(y) / H), w = float(double(z) / D);
        const double expected[10] = {u,
                                     v,
                                     w,
                                     double(u) + v,
                                     double(u) + w,
                                     double(v) + w,
                                     double(u) - v,
                                     double(u) - w,
                                     double(v) - w,
                                     double(u) + v + w};
        for (int i = 0; i < 10; ++i) EXPECT_EQ(sample.locationFeatureValue(i), float(expected[i])) << i;
        EXPECT_EQ(sample.locationFeatureValue(10), 0.0f);
      }
  MoveTo(D - 1, H - 1, W - 1);
  EXPECT_FLOAT_EQ(sample.locationFeatureValue(9), 6.0f / 7 + 7.0f / 8 + 8.0f / 9);
}

TEST_F(ValueFixture, IntensityAndGradientMagnitude) {
  double sum = 0, n = 0;
  for (int z = 0; z < 7; ++z)
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 9; ++x) sum += volume(z, y, x), ++n;
  PbtFid intensity, magnitude, other;
  intensity.kind = magnitude.kind = other.kind = 'I';
  magnitude.params[0] = 1;
  other.params[0] = 2;
  ForEachVoxel([&](int z, int y, int x) {
    EXPECT_EQ(sample.computeFeature(intensity),
              float((double(volume(z, y, x)) - double(sample.intensityMean)) / double(sample.intensityScale)));
    double s[6];
    PlaneSums(volume, z, y, x, s);
    double m = 0;
    for (double v : s) m += v * v;
    EXPECT_EQ(sample.computeFeature(magnitude), float(std::sqrt(m) / sample.intensityScale)) << z << y << x;
    EXPECT_EQ(sample.computeFeature(other), 0.0f);
  });
  PbtFid unknown;
  unknown.kind = 'Z';
  EXPECT_EQ(sample.computeFeature(unknown), 0.0f);
}

TEST_F(ValueFixture, DerivativesReadClampedNeighbours) {
  std::vector<PbtFid> derivatives;
  for (const PbtFid& f : sample.featurePool)
    if (f.kind == 'D') derivatives.push_back(f);
  ASSERT_EQ(derivatives.size(), 486u);
  ForEachVoxel([&](int z, int y, int x) {
    for (const PbtFid& f : derivatives) {
      const int pz = z + f.offset[0], py = y + f.offset[1], px = x + f.offset[2];
      const int a = f.subtype == 0, b = f.subtype == 1, c = f.subtype == 2;
      const int p = At(volume, pz, py, px), fw = At(volume, pz + a, py + b, px + c),
                bw = At(volume, pz - a, py - b, px - c);
      const int values[6] = {p - fw,           std::abs(p - fw), p - bw,
                             std::abs(p - bw), 2 * p - bw - fw,  std::abs(2 * p - bw - fw)};
      ASSERT_EQ(sample.computeFeature(f), float(values[f.index])) << f.getDescription() << " at " << z << y << x;
    }
  });
  PbtFid bad = derivatives[0];
  bad.index = 6;
  EXPECT_EQ(sample.computeFeature(bad), 0.0f);
}

TEST_F(ValueFixture, ProfilesAgainstExplicitRuns) {
  std::vector<PbtFid> profiles;
  for (const PbtFid& f : sample.featurePool)
    if (f.kind == '1') profiles.push_back(f);
  ASSERT_EQ(profiles.size(), 36u);
  ForEachVoxel([&](int z, int y, int x) {
    double s[6];
    PlaneSums(volume, z, y, x, s);
    for (const PbtFid& f : profiles) {
      const int n = f.index, axis = f.params[0];
      // Unit step along the profile's axis: 0 rows, 1 slices, 2 columns.
      const int dz = axis == 1, dy = axis == 0, dx = axis == 2;
      double S = 0;
      if (f.subtype <= 1) {
        for (int k = 1; k <= n; ++k) {
          if (volume.IsInside(z + k * dz, y + k * dy, x + k * dx)) S += volume(z + k * dz, y + k * dy, x + k * dx);
        }
        for (int k = -n + 1; k <= 0; ++k) {
          if (volume.IsInside(z + k * dz, y + k * dy, x + k * dx)) S -= volume(z + k * dz, y + k * dy, x + k * dx);
        }
      } else {
        // Both axes step together: rows with columns, slices with rows, slices with columns.
        static const int kStep[3][3] = {{0, 1, 1}, {1, 1, 0}, {1, 0, 1}};
        const int sz = kStep[axis][0], sy = kStep[axis][1], sx = kStep[axis][2];
        for (int k = 0; k < n; ++k)
          S += At(volume, z + (1 + k) * sz, y + (1 + k) * sy, x + (1 + k) * sx) -
               At(volume, z - k * sz, y - k * sy, x - k * sx);
      }
      double expected = S;
      if (f.subtype == 0) expected = S * Sign(axis == 0 ? s[0] : axis == 1 ? s[2] : s[5]);
      if (f.subtype == 2) expected = S * Sign(axis == 0 ? s[0] * s[1] : axis == 1 ? s[2] * s[3] : s[4] * s[5]);
      ASSERT_EQ(sample.computeFeature(f), float(expected)) << f.getDescription() << " at " << z << y << x;
    }
  });
}

TEST_F(ValueFixture, CurvatureRoundingAndThreshold) {
  sample.getDerivedVolumes().Volume() = volume;
  Curvature3D<unsigned char> reference;
  reference.Volume() = volume;
  int strong = 0, weak = 0;
  ForEachVoxel([&](int z, int y, int x) {
    reference.SetPosition(z, y, x);
    reference.ComputeGradient();
    reference.ComputeHessian();
    const double* g = reference.Gradient();
    const double* h = reference.Hessian();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sample.curvatureFeatureValue(i, z, y, x), float(g[i]));
    for (int i = 0; i < 9; ++i) EXPECT_EQ(sample.curvatureFeatureValue(3 + i, z, y, x), float(h[i]));
    const double gx = g[0], gy = g[1], gz = g[2];
    const double n2 = gx * gx + gy * gy + gz * gz;
    const double xx = h[0], xy = h[1], xz = h[2], yy = h[4], yz = h[5], zz = h[8];
    double K = 0, Hm = 0;
    if (n2 > 1000.0) {
      ++strong;
      const float kn = float(gx * gx * (yy * zz - yz * yz) + gy * gy * (xx * zz - xz * xz) +
                             gz * gz * (xx * yy - xy * xy) + 2 * gx * gy * (xz * yz - xy * zz) +
                             2 * gy * gz * (xy * xz - xx * yz) + 2 * gx * gz * (xy * yz - xz * yy));
      K = double(kn) / double(float(n2 * n2));
      const float hn = float(gx * gx * (yy + zz) + gy * gy * (xx + zz) + gz * gz * (xx + yy) - 2 * gx * gy * xy -
                             2 * gx * gz * xz - 2 * gy * gz * yz);
      Hm = double(hn) / double(float(2 * std::pow(n2, 1.5)));
    } else {
      ++weak;
    }
    EXPECT_EQ(sample.curvatureFeatureValue(14, z, y, x), float(K));
    EXPECT_EQ(sample.curvatureFeatureValue(15, z, y, x), float(Hm));
    // The principal-curvature volumes are empty: 0, no read.
    EXPECT_EQ(sample.curvatureFeatureValue(12, z, y, x), 0.0f);
    EXPECT_EQ(sample.curvatureFeatureValue(13, z, y, x), 0.0f);
  });
  EXPECT_GT(strong, 0);
  EXPECT_GT(weak, 0);
}

TEST_F(ValueFixture, ShapeVolumesAndTheirFeatures) {
  PbtFid shape, curved;
  shape.kind = 'S';
  curved.kind = 'V';
  MoveTo(1, 2, 3);
  EXPECT_EQ(sample.computeFeature(shape), 0.0f);  // empty shape volumes read as 0
  sample.principal1.SetSize(7, 8, 9);
  sample.principal2.SetSize(7, 8, 9);
  sample.principal1.Fill(0.0f);
  sample.principal2.Fill(0.0f);
  sample.principal1(1, 2, 3) = 0.5f;
  sample.principal2(1, 2, 3) = -0.25f;
  sample.computeShapeVolumes(sample.shapeIndex, sample.curvedness, sample.principal1);
  const float angle = std::atan2(0.5f + -0.25f, 0.5f - -0.25f);
  EXPECT_EQ(sample.computeFeature(shape), float(0.5 - angle / 3.14159265358979323846));
  EXPECT_EQ(sample.computeFeature(curved), float(std::sqrt((0.25 + 0.0625) / 2)));
  MoveTo(0, 0, 0);
  EXPECT_EQ(sample.computeFeature(shape), 0.0f);
  EXPECT_EQ(sample.computeFeature(curved), 0.0f);
}

TEST(Edg3DSampleValues, ContextProbabilities) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(2, 1);
  // Feature of offset position `offset` on map `map`.
  auto feature = [&](int offset, int map) {
    for (const PbtFid& f : sample.featurePool)
      if (f.kind == 'O' && f.params[0] == offset && f.params[1] == map) return f;
    return PbtFid();
  };
  const PbtFid centre = feature(1224, 1), up = feature(0, 0), far = feature(1223, 0);
  ASSERT_EQ(centre.kind, 'O');
  // No maps yet: the outside value.
  EXPECT_EQ(sample.computeFeature(centre), -1.0f);
  HeapMatrix3D<unsigned char> maps[2];
  maps[0] = PatternVolume(4, 5, 6, 1);
  maps[1] = PatternVolume(4, 5, 6, 2);
  maps[1](2, 3, 4) = 0;
  sample.setVolume(PatternVolume(4, 5, 6));
  sample.setContextVolumes(maps);
  VoxelSampleRecord r;
  r.caseNumber = -1;
  r.z = 2, r.y = 3, r.x = 4;
  sample.invalidateCase();
  sample.setPosition(r);
  EXPECT_EQ(sample.computeFeature(centre), -1.0f);  // byte 0 minus 1
  EXPECT_EQ(sample.computeFeature(up), float(maps[0](3, 3, 4) - 1));
  EXPECT_EQ(sample.computeFeature(far), -1.0f);  // (20, -11, -39) leaves the map
  PbtFid beyond = centre;
  beyond.params[1] = 2;
  EXPECT_EQ(sample.computeFeature(beyond), -1.0f);
  beyond = centre;
  beyond.params[0] = 1250;
  EXPECT_EQ(sample.computeFeature(beyond), -1.0f);
  beyond = centre;
  beyond.params[5] = 3;
  EXPECT_EQ(sample.computeFeature(beyond), 0.0f);
  sample.clearContextVolumes();
  EXPECT_EQ(sample.computeFeature(up), -1.0f);
}

TEST(Edg3DSampleValues, AtlasLoadsGlobalPathOncePerPath) {
  TempFolder tmp;
  HeapMatrix3D<unsigned char> atlas = PatternVolume(3, 4, 5);
  ASSERT_TRUE(atlas.Save(tmp.file("atlas.3dm")));
  ScopedFeatureFlags flags(1, 0, tmp.file("missing.3dm"));
  Object3DSample sample(4, 1);
  sample.setVolume(PatternVolume(6, 6, 6));
  const PbtFid atlasFeature = sample.featurePool[0];
  ASSERT_EQ(atlasFeature.kind, 't');
  std::vector<std::string> opens;
  RecordInputOpensForTesting(&opens);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(sample.computeFeature(atlasFeature), 0.0f);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Cannot read the atlas volume " + tmp.file("missing.3dm") + "\n");
  EXPECT_EQ(opens.size(), 1u);
  // A new path is tried.
  gAtlasPath = tmp.file("atlas.3dm");
  VoxelSampleRecord r;
  r.caseNumber = -1;
  r.z = 2, r.y = 3, r.x = 4;
  sample.invalidateCase();
  sample.setPosition(r);
  EXPECT_EQ(sample.computeFeature(atlasFeature), float(atlas(2, 3, 4)));
  r.z = 5;  // outside the atlas
  sample.setPosition(r);
  EXPECT_EQ(sample.computeFeature(atlasFeature), 0.0f);
  EXPECT_EQ(opens.size(), 2u);
  // A later case without its own atlas loads the good path again.
  sample.atlas.Clear();
  r.z = 2;
  sample.setPosition(r);
  EXPECT_EQ(sample.computeFeature(atlasFeature), float(atlas(2, 3, 4)));
  RecordInputOpensForTesting(nullptr);
  EXPECT_EQ(opens.size(), 3u);
}

TEST(Edg3DSampleValues, EmptyCaseGivesZero) {
  ScopedFeatureFlags flags(1, 0, "");
  Object3DSample sample(4, 2);
  HeapMatrix3D<unsigned char> empty;
  sample.setVolume(empty);
  EXPECT_EQ(sample.intensityMean, 0.0f);
  EXPECT_EQ(sample.intensityScale, 0.0f);
  testing::internal::CaptureStdout();
  std::string nonZero;
  for (const PbtFid& f : sample.featurePool)
    if (sample.computeFeature(f) != 0.0f) nonZero += std::string(f.getDescription()) + "\n";
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(nonZero, "");
}

}  // namespace

namespace {

// Clamped box sum by explicit loops: corners low - 1 and high held inside the volume,
// then the voxels strictly above the low corner and up to the high one.
double ClampedSumByLoops(const HeapMatrix3D<unsigned char>& v, int lz, int ly, int lx, int hz, int hy, int hx,
                         bool squares, double* voxels) {
  const int az = Clamp(lz - 1, v.dim0()), ay = Clamp(ly - 1, v.dim1()), ax = Clamp(lx - 1, v.dim2());
  const int bz = Clamp(hz, v.dim0()), by = Clamp(hy, v.dim1()), bx = Clamp(hx, v.dim2());
  double s = 0;
  for (int z = az + 1; z <= bz; ++z)
    for (int y = ay + 1; y <= by; ++y)
      for (int x = ax + 1; x <= bx; ++x) s += squares ? double(v(z, y, x)) * v(z, y, x) : v(z, y, x);
  if (voxels) *voxels = double(bx - ax) * (by - ay) * (bz - az);
  return s;
}

// Every Haar entry of a sample at several box origins (origin 0 and the high faces
// included) against the clamped sums by loops.
void CheckHaarEntries(Edg3DSample& sample, const HeapMatrix3D<unsigned char>& v, const std::vector<int>& centres) {
  int checked = 0;
  for (int c : centres) {
    VoxelSampleRecord r;
    r.caseNumber = -1;
    r.z = r.y = r.x = static_cast<int16_t>(c);
    sample.invalidateCase();
    sample.setPosition(r);
    const int oz = sample.boxOriginZ, oy = sample.boxOriginY, ox = sample.boxOriginX;
    for (PbtFid f : sample.featurePool) {
      if (f.kind != 'H') continue;
      const HaarFilter3D& filter = *sample.haarFilters[f.index];
      double R = 0, sigma = 0;
      std::vector<double> S, counts;
      for (const HaarCube& b : filter.boxes) {
        S.push_back(
            ClampedSumByLoops(v, oz + b.z0, oy + b.y0, ox + b.x0, oz + b.z1, oy + b.y1, ox + b.x1, false, nullptr));
        counts.push_back((b.x1 - b.x0 + 1) * (b.y1 - b.y0 + 1) * (b.z1 - b.z0 + 1));
      }
      if (filter.type == 10) {
        R = (S[0] - S[1]) / counts[0] - S[1] / counts[1];
      } else {
        for (size_t i = 0; i < S.size(); ++i) R += S[i] * (filter.boxes[i].weight / counts[i]);
      }
      const HaarCube& b0 = filter.boxes[0];
      double n = 0;
      const double s1 =
          ClampedSumByLoops(v, oz + b0.z0, oy + b0.y0, ox + b0.x0, oz + b0.z1, oy + b0.y1, ox + b0.x1, false, &n);
      const double s2 =
          ClampedSumByLoops(v, oz + b0.z0, oy + b0.y0, ox + b0.x0, oz + b0.z1, oy + b0.y1, ox + b0.x1, true, nullptr);
      if (n > 0) sigma = std::sqrt(std::max(0.0, s2 / n - (s1 / n) * (s1 / n)));
      const int variant = f.params[0];
      const double expected = variant == 1   ? R
                              : variant == 2 ? R / std::max(1.0, std::fabs(sigma))
                                             : R / sample.intensityScale;
      ASSERT_NEAR(sample.computeFeature(f), expected, 1e-4 * (1 + std::fabs(expected)))
          << f.getDescription() << " variant " << variant << " centre " << c;
      f.params[1] = 1;
      ASSERT_NEAR(sample.computeFeature(f), expected / sample.peakScale, 1e-4 * (1 + std::fabs(expected)));
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

TEST(Edg3DSampleValues, HaarVariantsAgainstClampedSumsByLoops) {
  ScopedFeatureFlags flags(1, 0);
  Object3DSample sample(4, 2);
  const HeapMatrix3D<unsigned char> v = PatternVolume(7, 7, 7);
  sample.setVolume(v);
  ASSERT_GT(sample.peakScale, 1.0f);
  // Centre 2: origin 0 (the first plane is dropped); 6: the box leaves the high faces.
  CheckHaarEntries(sample, v, {2, 3, 6});
  PbtFid beyond = sample.featurePool[13 + 486];
  ASSERT_EQ(beyond.kind, 'H');
  beyond.index = static_cast<int>(sample.haarFilters.size());
  EXPECT_EQ(sample.computeFeature(beyond), 0.0f);
  beyond.index = 0;
  beyond.params[0] = 7;
  EXPECT_EQ(sample.computeFeature(beyond), 0.0f);
}

TEST(Edg3DSampleValues, EdgeHaarWithSpecialFilters) {
  Edg3DSample sample;
  sample.boxSpan = 12;
  sample.boxWidth = sample.boxHeight = sample.boxDepth = 13;
  sample.buildFeaturePool();
  int special = 0;
  for (const HaarFilter3D* f : sample.haarFilters) special += f->type == 10;
  ASSERT_GT(special, 0);
  const HeapMatrix3D<unsigned char> v = PatternVolume(14, 14, 14);
  sample.setVolume(v);
  CheckHaarEntries(sample, v, {6, 8});
}

}  // namespace
