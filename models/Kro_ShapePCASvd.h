#pragma once
// Kro_ShapePCASvd: the shape model fitted by singular value decomposition of the d x n
// matrix of centred samples, which suits d much larger than n.
#include "models/Kro_ShapePCA.h"

class Kro_ShapePCASvd : public Kro_ShapePCA {
 public:
  // At most m modes: the left singular vectors of the largest singular values above 1.0
  // (of the first 1000 such), sigma_t = sqrt(|w|). No modes when there are fewer
  // entries than samples (d < n) or no samples.
  void Fit(int m) override;
};
