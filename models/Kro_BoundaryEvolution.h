#pragma once
// Kro_BoundaryEvolution: one segmentation's boundary-face topology, appearance model and
// per-label global shape models, and the face-by-face evolution of label boundaries
// under an appearance term and a shape term.
//
// The segmentation driver uses only LoadAppearanceModels and the `appearance` member.
// The evolution proper (LoadShapeModels, Initialize, Evolve, EvolveLabel,
// EvolveRegions, MoveFace) needs Initialize first: before it every evolution operation
// does nothing.
//
// Construction builds the members in the order topology, appearance, shapes; the
// topology's construction fills the process-wide face-walking tables.
//
// Random sequence: construction takes the draws of its members (Kro_AppearanceAll: 512).
// EvolveLabel on a label that has faces constructs one RF_uniform (one draw) and draws
// from it three times to order the plane axes; nothing else here draws.
//
// Coordinates: voxels and faces are (i, j, k) = (slice, row, column); a face (a, i, j, k)
// separates voxel (i, j, k) - e_a from (i, j, k).
#include <string>

#include "models/Kro_3DTopology.h"
#include "models/Kro_AppearanceAll.h"
#include "models/Kro_ShapeGlobaAll.h"
#include "volume/HeapMatrix3D.h"

class Kro_BoundaryEvolution {
 public:
  // Empty topology (fills the walking tables), no appearance model, no shape model;
  // both weights 1.0.
  Kro_BoundaryEvolution();
  virtual ~Kro_BoundaryEvolution() = default;
  Kro_BoundaryEvolution(const Kro_BoundaryEvolution&) = delete;
  Kro_BoundaryEvolution& operator=(const Kro_BoundaryEvolution&) = delete;

  // LoadAll of the shape models ("<folder>/<label>.pca"); true when any label loaded.
  virtual bool LoadShapeModels(const std::string& folder);
  // Load of the appearance facade: with a folder, its settings and model (true when the
  // model loaded); without, `labels` becomes the loaded model's atlas volume (false).
  virtual bool LoadAppearanceModels(const char* folder, const HeapMatrix3D<unsigned char>* labels);
  // Builds the topology of `labels`, hands `volume` to the appearance facade, points the
  // facade's label volume and the shape models at the topology and fits the shapes.
  // False (and the object stays uninitialised) when the topology cannot be built.
  virtual bool Initialize(const HeapMatrix3D<unsigned char>& volume, const HeapMatrix3D<unsigned char>& labels);
  // Moves the faces of one label, slice by slice along the three plane axes in a drawn
  // order, then refits its shape model. Nothing (and no draw) for a label without faces.
  virtual void EvolveLabel(int label, bool recount);
  // Counts the voxels, takes the two weights when given, then EvolveLabel for labels 255
  // down to 0.
  virtual void Evolve(const double* weights);
  // Offers each face of the slice c of plane axis p one move, at most as many moves as
  // the slice held faces at the start.
  virtual void EvolveRegions(int label, int p, int c);
  // The energy E of the face: 2.5 d * shapeWeight + 1.5 L * 0.9 in single precision,
  // with d the shape force of the label's model at the face (0 without a fitted model)
  // and L the appearance likelihood. With s the sign of the contour direction's
  // component along the face's axis, s * E < -1 moves the face by +1 and s * E > 1 by -1.
  virtual void MoveFace(int label, int p, int a, int i, int j, int k);

  bool Initialized() const { return initialized; }

  Kro_3DTopology topology;
  Kro_AppearanceAll appearance;
  Kro_ShapeGlobaAll shapes;
  double shapeWeight = 1.0;
  double secondWeight = 1.0;  // stored by Evolve, read by nothing

 private:
  bool initialized = false;
};
