#pragma once
// Kro_AppearDiscrmModelKro40 (model type 3, written by training): one auto-context
// tree per pass ("clf", then "clf1" .. "clf19" where present, in that order), the
// edge tree "clf_edge" and the known-class volume "known.3dm". A voxel whose known
// class c is below the class count gets the one-hot posterior of c; the others get
// the pass's tree posterior times the lift factors, normalised.
#include "models/Kro_AppearDiscrmModel.h"

class Kro_AppearDiscrmModelKro40 : public Kro_AppearDiscrmModel {
 public:
  static constexpr int kMaxPassFiles = 19;

  // "clf" must load; a "clf%d" that is present must load too; "clf_edge" and
  // "known.3dm" are optional. Sets gAtlasPath to "<folder>\atlas.3dm".
  bool Load(const std::string& folder, int numClasses, int radius) override;
  void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                         int x, int k) const override;
  // Entry 1 of the edge tree's posterior inside the inner box; 0 outside it and
  // without an edge tree.
  float EdgeProbabilityWith(Object3DSample& sample, int z, int y, int x) const override;

  const HeapMatrix3D<unsigned char>& Known() const { return known; }

 private:
  HeapMatrix3D<unsigned char> known;
};
