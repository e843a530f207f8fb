// The Haar families of the voxel sample.
#include "features/Edg3DSample.h"

void Edg3DSample::deleteFilters(std::vector<HaarFilter3D*>& filters) { filters.clear(); }

void Edg3DSample::addHaarFeatures(std::vector<HaarFilter3D*>& filters, int, int, int) { deleteFilters(filters); }

float Edg3DSample::haarFeatureValue(const PbtFid&) const { return 0.0f; }
