#pragma once
// Kro_Region: the boundary of one label of a Kro_3DTopology.
//
// For each plane axis p (0, 1, 2) and each slice coordinate c along p the region keeps a
// doubly linked list of its boundary faces lying in that slice (faces of the two axes
// other than p whose coordinate along p is c). The links live in the region's side of
// each face in the topology's stores (Kro_FaceOfRegion::links[2p] next, [2p + 1]
// previous); a slice entry holds the list's head and tail. Faces are appended at the
// tail, so a slice lists its faces in the order they were added.
//
// Points are (x, y, z) = (column k, row j, slice i). The face centre of (a, i, j, k) is
// (k + 0.5, j + 0.5, i) for a = 0, (k + 0.5, j, i + 0.5) for a = 1 and (k, j + 0.5,
// i + 0.5) for a = 2.
//
// Walks never claim a side: a walk ends at a face that is not stored or of which the
// region owns no side. Only AddFace claims a free side, and it does nothing when both
// sides belong to other labels.
//
// Random sequence: MoveFaceRandomly constructs one RF_uniform (one draw) and draws from
// it; nothing else here draws.
#include <array>
#include <cstdint>
#include <vector>

#include "models/Kro_BndFace.h"
#include "models/Kro_BndFaceIndex.h"
#include "numerics/SubVolume.h"

class Kro_3DTopology;

// A point (x, y, z) of face corners.
using Kro_IntPoint = std::array<int, 3>;
// A point (x, y, z) of face centres.
using Kro_FloatPoint = std::array<float, 3>;

class Kro_Region {
 public:
  struct SliceEntry {
    Kro_FaceAddress head;
    Kro_FaceAddress tail;
  };

  Kro_Region();
  virtual ~Kro_Region() = default;
  Kro_Region(const Kro_Region&) = delete;
  Kro_Region& operator=(const Kro_Region&) = delete;

  // Binds the region to a topology, sizes the three lists to its depth, height and
  // width, then Clear.
  virtual void Attach(Kro_3DTopology* topology);
  // Empties every list (the faces in the stores are not touched), slice ranges
  // (9999, -1), cursors reset, currentAxis -1.
  virtual void Clear();

  // ---- list walks (results: the face axis 0..2, or -1 at the end) ----
  // Head of the list of slice c of plane axis p, c being the in-coordinate along p
  // (i for p = 0, j for 1, k for 2); -1 for an empty list or c outside the lists.
  virtual int SliceFirstFace(int p, int& i, int& j, int& k);
  // The next face after the axis cursor of p.
  virtual int FollowFaceLink(int p, int& i, int& j, int& k);
  virtual int SliceSecondFace(int p, int& i, int& j, int& k);
  virtual int FollowFaceLinkBack(int p, int& i, int& j, int& k);

  // ---- list edits ----
  // Links the face (a, i, j, k) at the tail of its slice list of plane axis p (creating
  // the face in the store when missing). Nothing when it is already linked there or
  // when both sides of the face belong to other labels.
  virtual void AddFace(int p, int a, int i, int j, int k);
  virtual void AddFaceOnOtherAxes(int a, int i, int j, int k);
  // Slice entry c of plane axis p; c must lie in 0 .. extent - 1.
  virtual SliceEntry& RowEntry(int p, int c);

  // ---- contour walks in one slice ----
  // Puts the contour cursor on (a, i, j, k) in plane axis p; true when the face lies
  // between the region's label and another.
  virtual bool SetCursorFace(int p, int& a, int& i, int& j, int& k);
  // One step along the contour (forward / backward); false, cursor unchanged, when no
  // candidate lies between the region's label and another.
  virtual bool NextContourFace(int p, int& a, int& i, int& j, int& k);
  virtual bool PrevContourFace(int p, int& a, int& i, int& j, int& k);
  virtual void GetCursor(int& p, int& a, int& i, int& j, int& k) const;

  // ---- whole-region iteration: every face twice, once per list it lies in ----
  virtual int FirstFace(int& i, int& j, int& k);
  virtual int FirstFaceOnAxis(int p, int& i, int& j, int& k);
  virtual int NextFace(int& i, int& j, int& k);
  virtual int NextFaceOnAxis(int p, int& i, int& j, int& k);

  // The four corners of face (a, i, j, k) as (x, y, z) points; another axis gives four
  // zero points.
  virtual void FaceCorners(std::vector<Kro_IntPoint>& points, int a, int i, int j, int k) const;
  // Unlinks the face from its slice list of plane axis p; false when it is not stored,
  // the region owns no side of it, or it is not in that list.
  virtual bool RemoveFace(int p, int a, int i, int j, int k);
  // RemoveFace for both plane axes, then frees the region's side of the face.
  virtual void RemoveFaceOnOtherAxes(int a, int i, int j, int k);
  // One draw v in {-1, +1}; ChangeLabel(a, i, j, k, trunc(v + 0.5)): a draw of -1 asks
  // for step 0, which ChangeLabel refuses.
  virtual void MoveFaceRandomly(int a, int i, int j, int k);
  // Recomputes box, centroid, faceCount and the slice ranges from the lists; false
  // (box reset, centroid 0, faceCount 0) when the region has no face.
  virtual bool BoundingBox();
  // The closed contours of slice c of plane axis p, one after the other, each closed
  // one followed by a separator (axis and coordinates -1); returns their number.
  virtual int ExtractSliceContours(std::vector<Kro_FaceAddress>& contour, int p, int c);
  // Every face of the region once, at its first list position (p, then c, then list order).
  virtual void ListFaces(std::vector<Kro_FaceAddress>& faces);
  // The in-plane direction of the contour at face (a, i, j, k) of plane axis p: the
  // bisector angle at the face centre between the backward and forward neighbour
  // midpoints (VertexAngle), as a unit vector (x, y, z) with 0 along p.
  virtual void ContourDirection(int p, int a, int i, int j, int k, Kro_FloatPoint& direction);
  // The face centre; the mean centre of the next two contour faces (forward) and of the
  // previous two (backward); with `forwardThird` / `backwardThird` also the centre of
  // the third face each way. A failed step reuses the cursor's face.
  virtual void ContourNeighbourCentres(int p, int a, int i, int j, int k, Kro_FloatPoint& centre,
                                       Kro_FloatPoint& forward, Kro_FloatPoint& backward,
                                       Kro_FloatPoint* forwardThird = nullptr,
                                       Kro_FloatPoint* backwardThird = nullptr);
  // The number of faces in the list of slice c of plane axis p.
  virtual int CountSliceFaces(int p, int c);

  static Kro_FloatPoint FaceCentre(int a, int i, int j, int k);

  int Label() const { return label; }
  int ListSize(int p) const { return static_cast<int>(sliceLists[p].size()); }

  SubVolume box;
  Kro_FloatPoint centroid{0.0f, 0.0f, 0.0f};
  int32_t faceCount = 0;
  int32_t voxelCount = 0;
  int32_t sliceMin[3] = {9999, 9999, 9999};
  int32_t sliceMax[3] = {-1, -1, -1};
  Kro_FaceAddress axisCursor[3];
  std::vector<SliceEntry> sliceLists[3];
  Kro_3DTopology* topology = nullptr;
  int16_t label = 0;
  int8_t currentAxis = -1;
  int32_t currentSlice = 0;
  int32_t planeCoord = 0;
  uint8_t planeAxis = 0;
  Kro_FaceAddress contourCursor;

 private:
  // The region's side of a stored face, or null (never claims).
  Kro_FaceOfRegion* OwnedSide(const Kro_FaceAddress& f);
  int ReportCursor(int p, int& i, int& j, int& k) const;
  int FollowLink(int p, int link, int& i, int& j, int& k);
  int SliceFace(int p, bool head, int& i, int& j, int& k);
  bool ContourStep(const Kro_FaceStep* table, int p, int& a, int& i, int& j, int& k);
  void WalkSlice(int p, int c, std::vector<Kro_FaceAddress>& out);
};
