#pragma once
// Kro_3DTopology: a label volume (one byte per voxel) described by its boundary faces.
//
// Every unit face between two voxels of different labels, or between a voxel and the
// outside of the volume, is stored once in the store of its axis and linked into the
// face lists of the regions (Kro_Region) of the labels on its two sides. A voxel is
// (i, j, k) = (slice, row, column); the face (a, i, j, k) separates the before voxel
// (i, j, k) - e_a from the after voxel (i, j, k). A position outside the volume reads
// as label 65535, which is never a region.
//
// Faces exist exactly while their two labels differ: ChangeLabel keeps the stores and
// the region lists in step with the label volume. Voxel counts are right only after
// CountLabelVoxels and the ChangeLabel calls that follow it.
//
// Extents are limited to 32767 along each axis (face coordinates are 16-bit).
//
// Constructing a topology fills the three process-wide walking tables below.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "models/Kro_BndFace.h"
#include "models/Kro_BndFaceIndex.h"
#include "models/Kro_HashedMatrix3D.h"
#include "models/Kro_Region.h"
#include "volume/HeapMatrix3D.h"

// Contour steps: entry ((p * 3 + a) * 2 + s) * 3 + n is candidate n (tried in order
// 0, 1, 2) for the next face along a region's contour in the plane of constant
// coordinate along p, from a face of axis a; s is 0 when the region's label is the
// after voxel's, 1 otherwise. Entries with a == p stay reset.
extern Kro_FaceStep gContourForward[54];
extern Kro_FaceStep gContourBackward[54];
// The six faces of a voxel v: entry 2a + s is (a, v + s * e_a).
extern Kro_FaceStep gVoxelFaces[6];

class Kro_3DTopology {
 public:
  static constexpr int kOutside = 65535;
  static constexpr int kMaxExtent = 32767;

  // Empty (extents 0, regions unattached); fills the walking tables.
  Kro_3DTopology();
  virtual ~Kro_3DTopology() = default;
  Kro_3DTopology(const Kro_3DTopology&) = delete;
  Kro_3DTopology& operator=(const Kro_3DTopology&) = delete;

  // Empties the stores and every region's lists; keeps the extents and the labels.
  virtual void Clear();
  // Stores the extents, empties the stores and every region's lists and attaches the 256
  // regions. Unchanged extents keep the labels and activeLabels; other extents size the
  // label volume anew (all 0) and empty activeLabels. False, with the topology left
  // empty, for an extent above 32767 or below 0.
  virtual bool SetSize(int depth, int height, int width);
  // SetSize with the volume's extents, copies the labels, builds the faces and lists
  // the active labels. False (empty topology) for an extent above 32767.
  virtual bool Build(const HeapMatrix3D<unsigned char>& volume);
  // activeLabels := every label 0..255 whose region has a face, in increasing order.
  virtual void ListActiveLabels();
  virtual void BuildFaces();
  // Moves the face (axis, i, j, k) by one voxel: step +1 gives voxel (i, j, k) the label
  // of (i, j, k) - e_axis, step -1 gives (i, j, k) - e_axis the label of (i, j, k).
  // False, nothing changed, unless the move preserves topology and both voxels lie
  // inside the volume.
  virtual bool ChangeLabel(int axis, int i, int j, int k, int step);
  // Unlinks the face from the regions of both labels and erases it; true when erased.
  virtual bool RemoveFace(int axis, int i, int j, int k);
  virtual void RemoveFaceFromRegion(int axis, int i, int j, int k, int label);
  // Erases the face when its labels are equal; else stores it and links it into the
  // lists of both labels' regions.
  virtual void UpdateFace(int axis, int i, int j, int k);
  // Walks every list of labels 1..255 (forward or backward) applying `operation` to
  // each visited face's mark: 0 sets 0, 1 adds one, 2 subtracts one, 3 leaves it, any
  // other value v sets v (marks wrap as unsigned bytes). Returns the number of visits.
  virtual int MarkRegionFaces(bool forward, int operation, int unused = 0);
  // Runs the marking walks both ways; returns the last visit count.
  virtual int CheckFaceLinks();
  virtual void CountLabelVoxels();
  // The before voxel (b) and after voxel (a) of the face; true when both lie inside.
  virtual bool FaceVoxels(int& bi, int& bj, int& bk, int& ai, int& aj, int& ak, int axis, int i, int j,
                          int k) const;
  virtual bool IsTopologyPreserving(int axis, int i, int j, int k, int step);
  // Plane tests in the plane of constant i, k or j around voxel V = (vi, vj, vk) moving
  // along `axis` (which must lie in the plane) by `step`.
  virtual bool PlaneTestI(int axis, int vi, int vj, int vk, int step);
  virtual bool PlaneTestK(int axis, int vi, int vj, int vk, int step);
  virtual bool PlaneTestJ(int axis, int vi, int vj, int vk, int step);

  // The layer test of IsTopologyPreserving: the 3 x 3 window around V in V's layer
  // perpendicular to `axis`.
  bool LayerTest(int axis, int vi, int vj, int vk);

  // The stored face or null (also for an axis outside 0..2 or a negative coordinate).
  Kro_BndFace* FindFace(int axis, int i, int j, int k);
  Kro_BndFace* FindFace(const Kro_FaceAddress& f) { return FindFace(f.axis, f.i, f.j, f.k); }
  Kro_BndFace* FindOrCreateFace(int axis, int i, int j, int k);
  // The side of the face owned by `label`, else a free side claimed for it, else null.
  static Kro_FaceOfRegion* FaceCellSide(Kro_BndFace* face, int label) {
    return face ? face->ClaimSide(label) : nullptr;
  }
  // Labels of the before and after voxels; 65535 for a voxel outside the volume.
  void LabelsAcrossFace(int& before, int& after, int axis, int i, int j, int k) const;
  // The label at (i, j, k), 65535 outside.
  int LabelAt(int i, int j, int k) const {
    return labels.IsInside(i, j, k) ? labels(i, j, k) : kOutside;
  }
  // Extent along axis 0, 1, 2 (depth, height, width).
  int Extent(int axis) const { return axis == 0 ? depth : axis == 1 ? height : axis == 2 ? width : 0; }
  Kro_HashedMatrix3D<Kro_BndFace>& Store(int axis) { return faces[axis]; }
  Kro_Region& Region(int label) { return regions[label]; }

  Kro_HashedMatrix3D<Kro_BndFace> faces[3];
  HeapMatrix3D<unsigned char> labels;
  int32_t depth = 0;
  int32_t height = 0;
  int32_t width = 0;
  std::array<Kro_Region, 256> regions;
  std::vector<unsigned char> activeLabels;
  uint16_t planeWindow[6] = {0, 0, 0, 0, 0, 0};
  uint16_t cubeWindow[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

 private:
  // The plane test with moving axis a and in-plane axis b.
  bool PlaneTest(int a, int b, int vi, int vj, int vk, int step);
};
