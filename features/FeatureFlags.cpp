#include "features/FeatureFlags.h"

std::string gAtlasPath;
int gFeatureVersion = 0;
int gContextAvailable = 1;
int gContextFeatureMode = 0;
