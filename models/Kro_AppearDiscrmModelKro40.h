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

  // "clf" must load; a "clf%d" that is present must load too, each with numClasses
  // classes and only features of the provider's pool; "clf_edge" is optional (one that
  // does not read or names a feature outside the pool is not used); a "known.3dm"
  // that is there must read whole (a missing one fixes no voxel); a "prob_lift.txt"
  // that is there must hold valid factors. Sets gAtlasPath to "<folder>\atlas.3dm"
  // once everything has loaded.
  bool Load(const std::string& folder, int numClasses, int radius) override;
  // True when no known-class volume was read or it has the extents of the box `b`
  // (the box the model will work in); else false with *error one line naming the file
  // and both extents (columns x rows x slices).
  bool KnownFitsBox(const SubVolume& b, std::string* error) const;
  void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                         int x, int k) const override;
  // Entry 1 of the edge tree's posterior inside the inner box; 0 outside it and
  // without an edge tree.
  float EdgeProbabilityWith(Object3DSample& sample, int z, int y, int x) const override;

  const HeapMatrix3D<unsigned char>& Known() const { return known; }

 private:
  // Reads the known-class volume when the file is there; false after one line when it
  // is there but does not read whole.
  bool LoadKnown(const std::string& path);

  HeapMatrix3D<unsigned char> known;
  std::string knownPath;  // the file `known` was read from; empty: none
};
