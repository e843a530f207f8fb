#include "features/Object3DSample.h"

#include <typeinfo>

#include "features/FeatureFlags.h"

Object3DSample::Object3DSample(int maps, int radius) {
  boxSpan = 2 * radius;
  boxWidth = boxHeight = boxDepth = 2 * radius + 1;
  numContextMaps = maps;
  Object3DSample::buildFeaturePool();
}

Object3DSample* Object3DSample::workerCopy() const {
  // A derived class may hold state or compute features of its own: it copies itself.
  if (typeid(*this) != typeid(Object3DSample)) return nullptr;
  Object3DSample* copy = new Object3DSample(Empty{});
  copy->copyStateFrom(*this);
  return copy;
}

void Object3DSample::buildFeaturePool() {
  prepareDataChange();  // the Haar filters are data
  featurePool.clear();
  if (gFeatureVersion == 0) {
    addIntensityFeatures();
    addLocationFeatures();
    addDerivativeFeatures();
    addHaarFeaturesVersion0(haarFilters, boxDepth, boxHeight, boxWidth);
  } else if (gFeatureVersion == 1) {
    addAtlasFeatures();
    addIntensityFeatures();
    addLocationFeatures();
    addDerivativeFeatures();
    addHaarFeaturesVersion1(haarFilters, boxDepth, boxHeight, boxWidth);
  }
  Edg3DSample::addContextFeatures();
}

void Object3DSample::addAtlasFeatures() {
  PbtFid fid;
  fid.kind = 't';
  fid.setDescription("atlas");
  featurePool.push_back(fid);
}
