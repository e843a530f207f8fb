#include "app/Roads.h"

#include <cstdio>

// The segmentation road is not built yet; it says so rather than pretending to succeed.

bool SegmentVolumes(const Kro_BrainSetting&, bool) {
  std::printf("Segmentation is not available yet.\n");
  return false;
}
