#pragma once
// Kro_AppearDiscrmModelVesk (model type 2): the single tree "clf" (hard descent); the
// posterior of a voxel is the tree's, times the lift factors, normalised, whatever
// the pass. Segment runs one pass with it.
#include "models/Kro_AppearDiscrmModel.h"

class Kro_AppearDiscrmModelVesk : public Kro_AppearDiscrmModel {
 public:
  // "clf" must load, with numClasses classes and only features of the provider's pool;
  // a "prob_lift.txt" that is there must hold valid factors. Prints "tree num of
  // features=%d" (no line end) when the load succeeds.
  bool Load(const std::string& folder, int numClasses, int radius) override;
  void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z, int y,
                         int x, int k) const override;

 protected:
  // The shared parts of the loads of types 1 and 2: "clf" with its class count, then
  // (after BuildProvider) its features, the lifts, the pass list and the count line.
  bool LoadSingleTree(const std::string& folder, int numClasses, int radius);
  bool FinishLoad(const std::string& folder);

 private:
  PbtMClassTree unusedTree;  // held by the stored layout of this model, never loaded
};
