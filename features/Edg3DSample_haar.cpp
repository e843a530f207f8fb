// The Haar families of the voxel sample and their values.
#include <algorithm>
#include <cmath>

#include "features/Edg3DSample.h"
#include "features/HaarEnumeration.h"
#include "features/HaarFilter3D.h"

void Edg3DSample::deleteFilters(std::vector<HaarFilter3D*>& filters) { DeleteHaarFilters(filters); }

void Edg3DSample::addHaarFeatures(std::vector<HaarFilter3D*>& filters, int depth, int height, int width) {
  AddEdgeHaarFeatures(filters, featurePool, depth, height, width);
}

float Edg3DSample::haarFeatureValue(const PbtFid& fid) const {
  // An index outside the filter list is the outside value 0.
  // An empty case is 0 too (rather than 0 / 0 through a zero intensity scale).
  const Edg3DSample& d = data();
  if (fid.index < 0 || fid.index >= static_cast<int>(d.haarFilters.size())) return 0.0f;
  if (d.volume.NumElements() <= 0) return 0.0f;
  const HaarFilter3D& filter = *d.haarFilters[fid.index];
  const ItgImage3D<double>& integral = d.integral;
  double value = 0.0;
  switch (fid.params[0]) {
    case 1:
      value = EvaluateHaarFilter(filter, integral, boxOriginZ, boxOriginY, boxOriginX);
      break;
    case 2: {
      const double sigma = HaarFirstBoxDeviation(filter, integral, boxOriginZ, boxOriginY, boxOriginX);
      value =
          EvaluateHaarFilter(filter, integral, boxOriginZ, boxOriginY, boxOriginX) / std::max(1.0, std::fabs(sigma));
      break;
    }
    case 3:
    case 4:
    case 5:
    case 6:
      value = EvaluateHaarFilter(filter, integral, boxOriginZ, boxOriginY, boxOriginX) / intensityScale;
      break;
    default:
      return 0.0f;
  }
  if (fid.params[1] == 1) value /= peakScale;
  return static_cast<float>(value);
}
