// The versioned Haar families of the driver's voxel sample.
#include "features/Object3DSample.h"

void Object3DSample::addHaarFeaturesVersion0(std::vector<HaarFilter3D*>& filters, int, int, int) {
  deleteFilters(filters);
}

void Object3DSample::addHaarFeaturesVersion1(std::vector<HaarFilter3D*>& filters, int, int, int) {
  deleteFilters(filters);
}
