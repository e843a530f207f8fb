// The diagonal profile features (subtypes 2 and 3) sum one difference per step of a
// run whose length comes from the stored tree. Past the volume's corners every read is
// held at the border, so the value of any run length, up to 2^31 - 1, is the
// step-by-step int sum (wrapping as it does) and takes no longer than a short run.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>

#include "FeatureTestSupport.h"
#include "features/Edg3DSample.h"

namespace {

int Held(const HeapMatrix3D<unsigned char>& v, int z, int y, int x) {
  auto clamp = [](int i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : i); };
  return v(clamp(z, v.dim0()), clamp(y, v.dim1()), clamp(x, v.dim2()));
}

// The exact sum of the run's differences in 64 bits: the steps up to `plain` one by one
// (past every face of the 9-voxel volume by then), the rest as one product of the
// last difference; then the low 32 bits as a signed value, as the program's int keeps.
int32_t ReferenceSum(const HeapMatrix3D<unsigned char>& v, int axis, int z, int y, int x, int64_t n) {
  static const int kStep[3][3] = {{0, 1, 1}, {1, 1, 0}, {1, 0, 1}};  // rows+columns, slices+rows, slices+columns
  const int sz = kStep[axis][0], sy = kStep[axis][1], sx = kStep[axis][2];
  auto term = [&](int64_t k) {
    const int kk = static_cast<int>(k);
    return Held(v, z + (1 + kk) * sz, y + (1 + kk) * sy, x + (1 + kk) * sx) -
           Held(v, z - kk * sz, y - kk * sy, x - kk * sx);
  };
  const int64_t plain = 64;
  int64_t sum = 0;
  for (int64_t k = 0; k < n && k < plain; ++k) sum += term(k);
  if (n > plain) sum += (n - plain) * term(plain);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(sum) & 0xFFFFFFFFu));
}

double Sign(double v) { return v > 0 ? 1.0 : (v < 0 ? -1.0 : 0.0); }

TEST(ProfileRunBound, AnyRunLengthGivesTheStepByStepSumWithoutALongLoop) {
  Edg3DSample sample;
  const HeapMatrix3D<unsigned char> volume = PatternVolume(7, 8, 9);
  sample.setVolume(volume);
  const int lengths[] = {0, 1, 3, 8, 9, 17, 40, 1000, INT_MAX};
  const int voxels[][3] = {{0, 0, 0}, {3, 4, 4}, {6, 7, 8}, {1, 6, 2}};
  // A worker copy reads the sample's volume and must give the same values.
  std::unique_ptr<Edg3DSample> copy(sample.workerCopy());
  ASSERT_NE(copy, nullptr);
  const auto start = std::chrono::steady_clock::now();
  for (const auto& p : voxels) {
    const int z = p[0], y = p[1], x = p[2];
    sample.invalidateCase();
    sample.setPosition(Record(-1, z, y, x));
    PbtSample::Place place;
    ASSERT_TRUE(sample.getPlace(place));
    copy->moveTo(place);
    for (int axis = 0; axis < 3; ++axis)
      for (int subtype : {2, 3})
        for (int n : lengths) {
          PbtFid f;
          f.kind = '1';
          f.params[0] = axis;
          f.subtype = subtype;
          f.index = n;
          const double S = ReferenceSum(volume, axis, z, y, x, n);
          double expected = S;
          if (subtype == 2) {
            // The sign of the plane-gradient product, as the profile values take it.
            sample.gradient.ApplyInteger(z, y, x);
            const double* s = sample.gradient.sums;
            expected = S * Sign(axis == 0 ? s[0] * s[1] : axis == 1 ? s[2] * s[3] : s[4] * s[5]);
          }
          ASSERT_EQ(sample.computeFeature(f), static_cast<float>(expected))
              << "axis " << axis << " subtype " << subtype << " n " << n << " at " << z << " " << y << " " << x;
          ASSERT_EQ(copy->computeFeature(f), static_cast<float>(expected))
              << "worker copy: axis " << axis << " subtype " << subtype << " n " << n << " at " << z << " " << y
              << " " << x;
        }
  }
  // A loop of 2^31 steps per value would take minutes here.
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

}  // namespace
