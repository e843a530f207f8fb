#pragma once
// Kro_ShapeGlobaAll: the 256 global shape models of a model folder, one per label.
//
// A label moves from unloaded to loaded (LoadAll reads "folder/label.pca") and from
// loaded to fitted (FitLabel against the label's region of `topology`, which the owner
// sets and keeps alive). Face energies are 0 for a label that is not both.
#include <string>
#include <vector>

#include "models/Kro_ShapeGlobalPCA.h"
#include "numerics/VectorQo.h"

class Kro_3DTopology;

class Kro_ShapeGlobaAll {
 public:
  Kro_ShapeGlobaAll();
  virtual ~Kro_ShapeGlobaAll() = default;

  // Reads every "folder/L.pca" that exists; a label whose file reads is marked loaded and
  // "shape L loaded" printed; a file that exists but does not read prints one line naming
  // it on the error stream and leaves the label unloaded. True when any label loaded.
  virtual bool LoadAll(const std::string& folder);
  // Counts the topology's voxels per label, then FitLabel for every label.
  virtual void FitAll();
  virtual double Energy(int label, int axis, int i, int j, int k);
  // The volume force at a face of `label`: its VolumeTerm (label > 0) minus the other
  // side's (other label >= 1); 0 unless both voxels of the face lie inside the volume.
  virtual double VolumeEnergy(int label, int axis, int i, int j, int k);
  virtual void FitLabel(int label);

  std::vector<Kro_ShapeGlobalPCA> models;
  Kro_3DTopology* topology = nullptr;
  VectorQo<bool> loaded;
  VectorQo<bool> fitted;
};
