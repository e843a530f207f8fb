// The versioned Haar families of the driver's voxel sample.
#include "features/HaarEnumeration.h"
#include "features/Object3DSample.h"

void Object3DSample::addHaarFeaturesVersion0(std::vector<HaarFilter3D*>& filters, int depth, int height, int width) {
  AddHaarFeaturesVersion0(filters, featurePool, depth, height, width);
}

void Object3DSample::addHaarFeaturesVersion1(std::vector<HaarFilter3D*>& filters, int depth, int height, int width) {
  AddHaarFeaturesVersion1(filters, featurePool, depth, height, width);
}
