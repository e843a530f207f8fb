#include "features/Kro_2DGrad.h"

#include <gtest/gtest.h>

#include "FeatureTestSupport.h"

namespace {

TEST(Kro_2DGrad, IntegerAndFloatKernelsAgreeEverywhere) {
  const HeapMatrix3D<unsigned char> v = PatternVolume(4, 5, 6);
  Kro_2DGrad a, b;
  a.SetVolume(v);
  b.SetVolume(v);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        a.Apply(z, y, x);
        b.ApplyInteger(z, y, x);
        for (int i = 0; i < 6; ++i) ASSERT_EQ(a.sums[i], b.sums[i]) << i << " at " << z << y << x;
      }
  // s1 at an inner voxel written out: columns in the slice plane.
  b.ApplyInteger(2, 2, 2);
  const double s1 = 0.25 * (2 * (v(2, 2, 3) - v(2, 2, 1)) + v(2, 1, 3) + v(2, 3, 3) - v(2, 1, 1) - v(2, 3, 1));
  EXPECT_EQ(b.sums[1], s1);
  EXPECT_FLOAT_EQ(b.kernelX(1, 2), 0.5f);
  EXPECT_FLOAT_EQ(b.kernelY(2, 1), 0.5f);
}

TEST(Kro_2DGrad, EmptyVolumeGivesZeroSums) {
  HeapMatrix3D<unsigned char> empty;
  Kro_2DGrad g;
  g.sums[3] = 5;
  g.ApplyInteger(0, 0, 0);
  EXPECT_EQ(g.sums[3], 0.0);
  g.SetVolume(empty);
  g.Apply(1, 1, 1);
  EXPECT_EQ(g.sums[0], 0.0);
}

}  // namespace
