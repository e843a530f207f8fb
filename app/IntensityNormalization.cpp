#include "app/IntensityNormalization.h"

void EstimateIntensityRange(const HeapMatrix3D<short>&, HeapMatrix3D<short>&, const SubVolume&, const std::string&) {}

void NormalizeIntensity(const HeapMatrix3D<short>&, HeapMatrix3D<short>&, const SubVolume&, const HeapMatrix3D<short>&,
                        const HeapMatrix3D<unsigned char>&, int, double*, int, const std::string&) {}

void FitIntensityMapping(const HeapMatrix3D<short>&, HeapMatrix3D<short>&, const HeapMatrix3D<short>&, int) {}

void MatchIntensityHistograms(const HeapMatrix3D<short>&, HeapMatrix3D<short>&, const HeapMatrix3D<short>&,
                              const SubVolume&) {}

void RefineIntensityMapping(const HeapMatrix3D<short>&, HeapMatrix3D<short>&, const HeapMatrix3D<short>&) {}
