#pragma once
// Shared fixtures of the voxel-feature tests.
#include <cstdint>
#include <string>

#include "features/FeatureFlags.h"
#include "features/VoxelSampleRecord.h"
#include "volume/HeapMatrix3D.h"

// Sets the process-wide feature flags for one test and puts them back afterwards.
class ScopedFeatureFlags {
 public:
  ScopedFeatureFlags(int version, int contextAvailable, const std::string& atlasPath = "")
      : version_(gFeatureVersion), context_(gContextAvailable), mode_(gContextFeatureMode), atlas_(gAtlasPath) {
    gFeatureVersion = version;
    gContextAvailable = contextAvailable;
    gContextFeatureMode = 0;
    gAtlasPath = atlasPath;
  }
  ~ScopedFeatureFlags() {
    gFeatureVersion = version_;
    gContextAvailable = context_;
    gContextFeatureMode = mode_;
    gAtlasPath = atlas_;
  }

 private:
  int version_, context_, mode_;
  std::string atlas_;
};

// A deterministic byte volume with structure on every axis (a small linear congruential
// sequence mixed with a ramp), so that no difference is zero by symmetry.
inline HeapMatrix3D<unsigned char> PatternVolume(int d, int h, int w, uint32_t seed = 12345u) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(d, h, w);
  uint32_t s = seed;
  for (int z = 0; z < d; ++z)
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        s = s * 1103515245u + 12345u;
        v(z, y, x) = static_cast<unsigned char>(((s >> 16) % 97) + 7 * x + 3 * y + 5 * z);
      }
  return v;
}

// The sample position (case, slice, row, column).
inline VoxelSampleRecord Record(int c, int z, int y, int x) {
  VoxelSampleRecord r;
  r.caseNumber = static_cast<int16_t>(c);
  r.z = static_cast<int16_t>(z);
  r.y = static_cast<int16_t>(y);
  r.x = static_cast<int16_t>(x);
  return r;
}
