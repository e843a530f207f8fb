#pragma once
// Kro_AppearDiscrmModelVesk (model type 2): the single tree "clf" (hard descent); the
// posterior of a voxel is the tree's, times the lift factors, normalised, whatever
// the pass. Segment runs one pass with it.
#include "models/Kro_AppearDiscrmModel.h"

class Kro_AppearDiscrmModelVesk : public Kro_AppearDiscrmModel {
 public:
  // "clf" must load; prints "tree num of features=%d" (no line end).
  bool Load(const std::string& folder, int numClasses, int radius) override;
  void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                         int x, int k) const override;

 protected:
  // The shared part of the loads of types 1 and 2.
  bool LoadSingleTree(const std::string& folder, int numClasses, int radius);

 private:
  PbtMClassTree unusedTree;  // held by the stored layout of this model, never loaded
};
