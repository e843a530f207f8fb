#include "app/Roads.h"

#include <cstdio>

// The roads are not built yet; each says so rather than pretending to succeed.

bool PrepareTrainingData(const std::string&, const std::string&, int) {
  std::printf("Training is not available yet.\n");
  return false;
}

bool TrainAutoContext(const std::string&, int, int, int, int) {
  std::printf("Training is not available yet.\n");
  return false;
}

bool SegmentVolumes(const Kro_BrainSetting&, bool) {
  std::printf("Segmentation is not available yet.\n");
  return false;
}
