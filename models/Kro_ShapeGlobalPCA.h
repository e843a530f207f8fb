#pragma once
// Kro_ShapeGlobalPCA: the shape model of one label as a signed, clamped distance grid of
// fixed size placed around the label's region.
//
// A grid has odd extents (e0, e1, e2) = (2h0 + 1, 2h1 + 1, 2h2 + 1) around the centre cell
// (h0, h1, h2); grid axis 0 runs along slices, 1 along rows, 2 along columns. Its cells
// flatten into a shape vector through indexGrid (g2 fastest, then g1, then g0). Cells
// inside the label hold 10, outside -10, face centres 0, and PropagateDistance turns
// that into a signed taxicab distance clamped at 10.
//
// ".pca" file, little-endian, no padding:
//   float32 x 3   scale (grid cells per voxel along the grid axes; finite and > 0)
//   int32 x 3     e0, e1, e2 (odd, 1 .. 1023, product equal to the model's dimension)
//   model record  of Kro_ShapePCA (see Kro_ShapePCA.h)
//   float64       meanVolume
//   float64       volumeSpread
// Read rejects (false, model unchanged) a short or foreign file and any field outside
// these bounds (a scale that is 0, negative, infinite or NaN among them). A model
// without modes stores d x 0 modes, 0 x 1 sigmas and d defects (see Kro_ShapePCA.h).
//
// Scale: BuildModel places each grid with the label's scale, baseScale *
// labelWeights[label] * 4 (0.7, 0.6 for labels 3 and 4, 1.4 for labels 7 and 8 with the
// default baseScale 0.5), which Write then stores; FitToRegion keeps the scale the model
// was read with.
#include <cstdint>
#include <string>
#include <vector>

#include "models/Kro_ShapePCASvd.h"
#include "models/Kro_BndFaceIndex.h"
#include "numerics/VectorQo.h"
#include "volume/HeapMatrix3D.h"

class Kro_3DTopology;
class Kro_Region;

class Kro_ShapeGlobalPCA {
 public:
  static constexpr int kMaxGridExtent = 1023;

  // Grid 19 x 17 x 15, scale 0.5, baseScale 0.5, no modes.
  Kro_ShapeGlobalPCA();
  // Copies every field.
  Kro_ShapeGlobalPCA(const Kro_ShapeGlobalPCA&) = default;
  // Copies grid, origin, trainingGrids, the half and full extents, scale, meanVolume and
  // volumeSpread; keeps its own pca, baseScale, gridCorner, workGrid and labelWeights.
  // indexGrid is numbered afresh for the copied extents (never left for other extents).
  Kro_ShapeGlobalPCA& operator=(const Kro_ShapeGlobalPCA& other);
  virtual ~Kro_ShapeGlobalPCA() = default;

  // False when the file does not open or a write fails.
  virtual bool Write(const std::string& path);
  // False (model unchanged) when the file does not open or is rejected (see above).
  virtual bool Read(const std::string& path);
  // Empties the training grids (the shape model keeps its training vectors).
  virtual void ClearSamples();
  // ClearSamples and empties the shape model's training vectors; optionally builds the
  // grids first (BuildModel(source, label, folder, isolate)), then loads every ".3dm"
  // grid of "folder\label", takes the grid geometry from the first, adds every grid of
  // that geometry and fits six modes. False when no grid loads.
  virtual bool TrainFromFolder(const std::string& folder, int label, bool build,
                               const std::string& source = "", bool isolate = false);
  // meanVolume and volumeSpread from the label's voxel counts in the folder's ".3dm"
  // label volumes; a file that does not load is not counted (n counts the volumes
  // read); nothing changes when none loads.
  virtual void LoadTrainingShapes(const std::string& folder, int label);
  // Read of "folder/label.pca".
  virtual bool LoadFromDir(const std::string& folder, int label);
  virtual double GridEnergy(const HeapMatrix3D<short>& grid);
  virtual void SampleGrid(HeapMatrix3D<short>& out, int kind, int t);
  // "mean.3dm", "mode_N+.3dm" / "mode_N-.3dm" per mode and "rand_N.3dm" in the folder;
  // false when a file cannot be written.
  virtual bool WriteMeanAndModes(const std::string& folder, int randomCount);
  virtual double EnergyDerivativeAt(int g0, int g1, int g2);
  // False with fewer than 2 modes or a region without faces; else the region's distance
  // grid is analysed (its energy computed), which Energy then uses.
  virtual bool FitToRegion(Kro_3DTopology& topology, Kro_Region& region);
  // The shape force at face (axis, i, j, k): the mean EnergyDerivativeAt of the grid
  // cells -2 .. +2 along the face's axis around the face centre's cell.
  virtual float Energy(int axis, int i, int j, int k);
  virtual double VolumeTerm(Kro_3DTopology& topology, int label);
  // Builds the training grids of one label: each ".3dm" label volume of the folder
  // (optionally reduced to its largest part of the label) is saved in "folder\label",
  // then each of those becomes a distance grid (ShapeToGrid with keepScale false, so
  // at the label's scale) saved in "target\label". A volume without a face of the label
  // gives no grid (rather than one of -10 only). False when a folder cannot be made or
  // no grid was made.
  virtual bool BuildModel(const std::string& folder, int label, const std::string& target, bool isolate);
  // Unless keepScale: scale := baseScale * labelWeights[label] * 4 on every axis; then
  // the grid corner is placed so that the centre cell falls on the region's centroid.
  virtual void PlaceGrid(const Kro_Region& region, bool keepScale, int label);
  // The region's distance grid: -10 everywhere, the grid placed (PlaceGrid with
  // keepScale), the label painted, the face centres marked 0, six propagation passes.
  virtual void ShapeToGrid(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& labels,
                           const std::vector<Kro_FaceAddress>& faces, const Kro_Region& region, int label,
                           bool keepScale);
  virtual void PaintLabel(HeapMatrix3D<short>& out, const HeapMatrix3D<unsigned char>& labels, int label);
  // passes sweeps: a cell of magnitude above a face neighbour's + 1 takes that magnitude
  // + 1, keeping its sign. Never changes a sign, never raises a magnitude.
  virtual void PropagateDistance(HeapMatrix3D<short>& grid, int passes);
  virtual void AddGridSample(const HeapMatrix3D<short>& grid);
  // out := the grid's cells in shape-vector order; empty for a grid of other extents.
  virtual void GridToVector(VectorQo<double>& out, const HeapMatrix3D<short>& grid);
  // out := the vector's entries as cells (truncated); zero cells for a vector of
  // another length.
  virtual void VectorToGrid(HeapMatrix3D<short>& out, const VectorQo<double>& v);
  virtual void Fit(int m) { pca.Fit(m); }
  // Slice, row and column position to grid cell, and back (false for a scale of 0).
  virtual void WorldToGrid(int& g0, int& g1, int& g2, double p0, double p1, double p2) const;
  virtual bool GridToWorld(int& p0, int& p1, int& p2, int g0, int g1, int g2) const;
  // Grid extents and scale from a box of d0 x d1 x d2 voxels.
  virtual void SetGridForBox(int d0, int d1, int d2);
  // Half extents (a - 1) / 2 etc. (at least 0), odd extents, indexGrid renumbered.
  virtual void SetGrid(int a, int b, int c);
  // out := 1 where labels carry `label`, reduced to its largest connected part, then
  // given the label; true when any voxel remains.
  virtual bool IsolateLabel(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& labels,
                            int label);

  bool InsideGrid(int g0, int g1, int g2) const {
    return g0 >= 0 && g0 < gridExtents[0] && g1 >= 0 && g1 < gridExtents[1] && g2 >= 0 && g2 < gridExtents[2];
  }

  HeapMatrix3D<short> grid;
  float origin[3] = {0.0f, 0.0f, 0.0f};
  Kro_ShapePCASvd pca;
  std::vector<HeapMatrix3D<short>> trainingGrids;
  int32_t halfExtents[3] = {0, 0, 0};
  int32_t gridExtents[3] = {0, 0, 0};
  float scale[3] = {0.5f, 0.5f, 0.5f};
  float baseScale = 0.5f;
  int16_t gridCorner[3] = {0, 0, 0};  // (column, row, slice) of grid cell (0, 0, 0)
  HeapMatrix3D<short> workGrid;
  HeapMatrix3D<int> indexGrid;
  VectorQo<float> labelWeights;
  double meanVolume = 0.0;
  double volumeSpread = 0.0;
};
