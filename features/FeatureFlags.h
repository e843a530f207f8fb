#pragma once
// Process-wide settings of the voxel features, set by the drivers and the
// appearance-model loader before the samples are built (one thread only).
#include <string>

// Path of the atlas volume read by the atlas feature. At most kMaxAtlasPath characters.
extern std::string gAtlasPath;
constexpr int kMaxAtlasPath = 499;

// Feature-pool version (0 or 1).
extern int gFeatureVersion;
// Context-probability features are enumerated (1) or not (0).
extern int gContextAvailable;
// 1 would select the alternative context-feature family; nothing sets it.
extern int gContextFeatureMode;
