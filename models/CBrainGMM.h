#pragma once
// CBrainGMM: one GaussianMixture per label value of a label volume, each fitted on the
// intensities of that label's voxels. Label 0 is never fitted.
#include <vector>

#include "models/GaussianMixture.h"
#include "models/Matrix2.h"
#include "volume/HeapMatrix3D.h"

class CBrainGMM {
 public:
  // K components per mixture; mixtures for the label values 0 .. maxLabel, each
  // Init(K, 1).
  CBrainGMM(int numComponents, int maxLabel);
  virtual ~CBrainGMM() = default;

  // Gathers the samples (GatherSamples with numMixtures matrices) and, for every label
  // l >= 1 with at least one sample, InitFromData then FitEM on them. A label without
  // samples keeps its previous mixture. Returns 0.
  int Fit(const HeapMatrix3D<short>& intensity, const HeapMatrix3D<unsigned char>& labels, int step);

  // Visits the voxels with x (column) outermost, then y, then z (slice) innermost.
  // Voxels of intensity 0 are skipped; each other voxel increments its label's
  // counter and becomes a sample when that counter is a multiple of step. samples[l]
  // is resized to (m, 1) for the m > 0 samples of label l (left as it was when m = 0)
  // and filled in visiting order. Labels at or beyond `count` are skipped, and so is a
  // label volume whose extents differ from the intensity's (nothing is gathered);
  // a step below 1 counts as 1.
  void GatherSamples(const HeapMatrix3D<short>& intensity, const HeapMatrix3D<unsigned char>& labels,
                     std::vector<Matrix2>& samples, int count, int step) const;

  int numComponents = 0;
  int numMixtures = 0;                    // largest label value + 1
  std::vector<GaussianMixture> mixtures;  // entry l belongs to label value l
};
