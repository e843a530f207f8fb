#pragma once
// A labelled synthetic subject for the road tests.
#include "volume/HeapMatrix3D.h"

// 16^3 voxels: label `first` in the cube [3, 7)^3, label `second` in [9, 13)^3, each
// with its own intensity and a little texture that `seed` shifts.
inline void SyntheticSubject(int seed, HeapMatrix3D<short>& brain, HeapMatrix3D<short>& labels, short first = 4,
                             short second = 9) {
  constexpr int kSide = 16;
  brain.SetSize(kSide, kSide, kSide);
  labels.SetSize(kSide, kSide, kSide);
  for (int z = 0; z < kSide; ++z)
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        auto in = [&](int lo, int hi) { return z >= lo && z < hi && y >= lo && y < hi && x >= lo && x < hi; };
        const bool inFirst = in(3, 7), inSecond = in(9, 13);
        labels(z, y, x) = inFirst ? first : inSecond ? second : 0;
        const int base = inFirst ? 150 : inSecond ? 220 : 60;
        brain(z, y, x) = static_cast<short>(base + (x * 7 + y * 3 + z * 5 + seed) % 9);
      }
}
