// Region geometry: contour walks and extraction, face lists, box and centroid, corners.
#include <cmath>

#include "models/Kro_3DTopology.h"
#include "models/Kro_Region.h"
#include "numerics/Angles.h"
#include "numerics/Point2D.h"

namespace {

inline int Along(int p, int i, int j, int k) { return p == 0 ? i : p == 1 ? j : k; }

}  // namespace

Kro_FloatPoint Kro_Region::FaceCentre(int a, int i, int j, int k) {
  const float x = static_cast<float>(k), y = static_cast<float>(j), z = static_cast<float>(i);
  switch (a) {
    case 0: return {x + 0.5f, y + 0.5f, z};
    case 1: return {x + 0.5f, y, z + 0.5f};
    case 2: return {x, y + 0.5f, z + 0.5f};
    default: return {x, y, z};
  }
}

bool Kro_Region::SetCursorFace(int p, int& a, int& i, int& j, int& k) {
  contourCursor = Kro_FaceAddress(a, i, j, k);
  planeAxis = static_cast<uint8_t>(p);
  planeCoord = Along(p, i, j, k);
  if (!topology) return false;
  int before, after;
  topology->LabelsAcrossFace(before, after, a, i, j, k);
  return before != after && (before == label || after == label);
}

bool Kro_Region::ContourStep(const Kro_FaceStep* table, int p, int& a, int& i, int& j, int& k) {
  if (!topology || p < 0 || p > 2) return false;
  const Kro_FaceAddress cur = contourCursor;
  if (cur.axis < 0 || cur.axis > 2) return false;
  int before, after;
  topology->LabelsAcrossFace(before, after, cur.axis, cur.i, cur.j, cur.k);
  const int s = (before == label || after != label) ? 1 : 0;
  for (int n = 0; n < 3; ++n) {
    const Kro_FaceStep& e = table[((p * 3 + cur.axis) * 2 + s) * 3 + n];
    if (!e.IsFace()) continue;
    const int ci = cur.i + e.i, cj = cur.j + e.j, ck = cur.k + e.k;
    topology->LabelsAcrossFace(before, after, e.axis, ci, cj, ck);
    if (before == after || (before != label && after != label)) continue;
    contourCursor = Kro_FaceAddress(e.axis, ci, cj, ck);
    a = e.axis;
    i = ci;
    j = cj;
    k = ck;
    planeCoord = Along(planeAxis, ci, cj, ck);
    return true;
  }
  return false;
}

bool Kro_Region::NextContourFace(int p, int& a, int& i, int& j, int& k) {
  return ContourStep(gContourForward, p, a, i, j, k);
}

bool Kro_Region::PrevContourFace(int p, int& a, int& i, int& j, int& k) {
  return ContourStep(gContourBackward, p, a, i, j, k);
}

void Kro_Region::GetCursor(int& p, int& a, int& i, int& j, int& k) const {
  p = planeAxis;
  a = contourCursor.axis;
  i = contourCursor.i;
  j = contourCursor.j;
  k = contourCursor.k;
}

void Kro_Region::FaceCorners(std::vector<Kro_IntPoint>& pts, int a, int i, int j, int k) const {
  pts.assign(4, Kro_IntPoint{0, 0, 0});
  switch (a) {
    case 0: pts = {{k, j, i}, {k + 1, j, i}, {k + 1, j + 1, i}, {k, j + 1, i}}; break;
    case 1: pts = {{k, j, i}, {k + 1, j, i}, {k + 1, j, i + 1}, {k, j, i + 1}}; break;
    case 2: pts = {{k, j, i}, {k, j + 1, i}, {k, j + 1, i + 1}, {k, j, i + 1}}; break;
    default: break;
  }
}

void Kro_Region::WalkSlice(int p, int c, std::vector<Kro_FaceAddress>& out) {
  int ijk[3] = {0, 0, 0};
  ijk[p] = c;
  for (int a = SliceFirstFace(p, ijk[0], ijk[1], ijk[2]); a >= 0; a = FollowFaceLink(p, ijk[0], ijk[1], ijk[2]))
    out.emplace_back(a, ijk[0], ijk[1], ijk[2]);
}

bool Kro_Region::BoundingBox() {
  box = SubVolume(9999, 9999, 9999, -1, -1, -1);
  centroid = {0.0f, 0.0f, 0.0f};
  faceCount = 0;
  std::vector<Kro_FaceAddress> slice;
  for (int p = 0; p < 3; ++p) {
    sliceMin[p] = 9999;
    sliceMax[p] = -1;
    for (int c = 0; c < ListSize(p); ++c) {
      slice.clear();
      WalkSlice(p, c, slice);
      for (const Kro_FaceAddress& f : slice) {
        if (f.k < box.x0) box.x0 = f.k;
        if (f.j < box.y0) box.y0 = f.j;
        if (f.i < box.z0) box.z0 = f.i;
        if (f.k > box.x1) box.x1 = f.k;
        if (f.j > box.y1) box.y1 = f.j;
        if (f.i > box.z1) box.z1 = f.i;
        const Kro_FloatPoint m = FaceCentre(f.axis, f.i, f.j, f.k);
        for (int n = 0; n < 3; ++n) centroid[n] += m[n];
        ++faceCount;
        if (c < sliceMin[p]) sliceMin[p] = c;
        if (c > sliceMax[p]) sliceMax[p] = c;
      }
    }
  }
  if (faceCount == 0) return false;
  for (int n = 0; n < 3; ++n) centroid[n] /= static_cast<float>(faceCount);
  faceCount /= 2;
  return true;
}

int Kro_Region::ExtractSliceContours(std::vector<Kro_FaceAddress>& contour, int p, int c) {
  contour.clear();
  if (!topology || p < 0 || p > 2) return 0;
  std::vector<Kro_FaceAddress> slice;
  WalkSlice(p, c, slice);
  for (const Kro_FaceAddress& f : slice)
    if (Kro_BndFace* face = topology->FindFace(f)) face->mark = 0;
  int contours = 0;
  Kro_FaceAddress separator;
  for (const Kro_FaceAddress& start : slice) {
    Kro_BndFace* face = topology->FindFace(start);
    if (!face || face->mark != 0) continue;
    ++contours;
    face->mark = 1;
    contour.push_back(start);
    int a = start.axis, i = start.i, j = start.j, k = start.k;
    SetCursorFace(p, a, i, j, k);
    while (NextContourFace(p, a, i, j, k)) {
      Kro_BndFace* next = topology->FindFace(a, i, j, k);
      if (!next) break;
      const bool closed = start.Is(a, i, j, k) || next->mark == 1;
      next->mark = 1;
      if (closed) {
        contour.push_back(separator);
        break;
      }
      contour.emplace_back(a, i, j, k);
    }
  }
  return contours;
}

void Kro_Region::ListFaces(std::vector<Kro_FaceAddress>& faces) {
  faces.clear();
  if (!topology) return;
  std::vector<Kro_FaceAddress> all;
  for (int p = 0; p < 3; ++p)
    for (int c = 0; c < ListSize(p); ++c) WalkSlice(p, c, all);
  for (const Kro_FaceAddress& f : all)
    if (Kro_BndFace* face = topology->FindFace(f)) face->mark = 0;
  for (const Kro_FaceAddress& f : all) {
    Kro_BndFace* face = topology->FindFace(f);
    if (face && face->mark == 0) {
      face->mark = 1;
      faces.push_back(f);
    }
  }
}

void Kro_Region::ContourNeighbourCentres(int p, int a, int i, int j, int k, Kro_FloatPoint& centre,
                                         Kro_FloatPoint& forward, Kro_FloatPoint& backward,
                                         Kro_FloatPoint* forwardThird, Kro_FloatPoint* backwardThird) {
  centre = FaceCentre(a, i, j, k);
  auto walk = [&](bool fwd, Kro_FloatPoint& mid, Kro_FloatPoint* third) {
    int ca = a, ci = i, cj = j, ck = k;
    SetCursorFace(p, ca, ci, cj, ck);
    Kro_FloatPoint sum{0.0f, 0.0f, 0.0f};
    for (int n = 0; n < 2; ++n) {
      if (fwd)
        NextContourFace(p, ca, ci, cj, ck);
      else
        PrevContourFace(p, ca, ci, cj, ck);
      const Kro_FloatPoint m = FaceCentre(contourCursor.axis, contourCursor.i, contourCursor.j, contourCursor.k);
      for (int q = 0; q < 3; ++q) sum[q] += m[q];
    }
    for (int q = 0; q < 3; ++q) mid[q] = sum[q] * 0.5f;
    if (third) {
      if (fwd)
        NextContourFace(p, ca, ci, cj, ck);
      else
        PrevContourFace(p, ca, ci, cj, ck);
      *third = FaceCentre(contourCursor.axis, contourCursor.i, contourCursor.j, contourCursor.k);
    }
  };
  walk(true, forward, forwardThird);
  walk(false, backward, backwardThird);
}

void Kro_Region::ContourDirection(int p, int a, int i, int j, int k, Kro_FloatPoint& direction) {
  Kro_FloatPoint centre, forward, backward;
  ContourNeighbourCentres(p, a, i, j, k, centre, forward, backward);
  // The plane's two coordinates as (u, v): (x, y) for p = 0, (x, z) for 1, (y, z) for 2.
  const int u = p == 2 ? 1 : 0;
  const int v = p == 0 ? 1 : 2;
  const Point2D<double> pc(centre[u], centre[v]), pf(forward[u], forward[v]), pb(backward[u], backward[v]);
  const double angle = VertexAngle(&pb, &pc, &pf, nullptr);
  direction = {0.0f, 0.0f, 0.0f};
  direction[u] = static_cast<float>(std::cos(angle));
  direction[v] = static_cast<float>(std::sin(angle));
}
