#pragma once
// Kro_AppearDiscrmModelVeskSepHippo (model type 1): the tree "clf" reweighted, and
// combined with the separate tree "hip_clf" for classes 1 and 2 (the two structures
// it separates). With p the tree posterior (at least 7 classes) and p[0] below 0.97:
//   p[5] x 1.4, p[6] x 1.3, p[0] x 0.8, then p divided by its sum (not when it is 0);
//   with q the hip tree's posterior (at least 3 entries): r = 1 - p[1] - p[2],
//   p[1] = 1.2 q[1], p[2] = 1.2 q[2], t = float(max(1 - p[1] - p[2], 0)), and when
//   r > 0 every other entry becomes t x p[i] / r.
// Fewer than 7 classes skip the reweighting (p is used as it is); a hip posterior of
// fewer than 3 entries skips the combination. No lift factors. Segment runs one pass.
#include "models/Kro_AppearDiscrmModelVesk.h"

class Kro_AppearDiscrmModelVeskSepHippo : public Kro_AppearDiscrmModelVesk {
 public:
  // As Kro_AppearDiscrmModelVesk; "hip_clf" is optional (one that does not read or
  // names a feature outside the pool is not used).
  bool Load(const std::string& folder, int numClasses, int radius) override;
  void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                         int x, int k) const override;
  // The combination above on a posterior p and a hip posterior q (null: no hip tree).
  static void Combine(VectorQo<double>& p, const VectorQo<double>* q);

 private:
  PbtMClassTree hipClassifier;
};
