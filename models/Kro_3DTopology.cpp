#include "models/Kro_3DTopology.h"

#include <algorithm>

Kro_FaceStep gContourForward[54];
Kro_FaceStep gContourBackward[54];
Kro_FaceStep gVoxelFaces[6];

namespace {

struct StepRow {
  int p, a, s;
  int forward[3][4];
  int backward[3][4];
};

// Per (plane axis p, face axis a, side s): the three candidates of each walking direction
// as (axis, di, dj, dk): the face of the third axis beyond the other voxel, the face of
// axis a straight on, the face of the third axis on the region's own voxel.
const StepRow kContourSteps[12] = {
    {0, 1, 0, {{2, 0, -1, 1}, {1, 0, 0, 1}, {2, 0, 0, 1}}, {{2, 0, -1, 0}, {1, 0, 0, -1}, {2, 0, 0, 0}}},
    {0, 1, 1, {{2, 0, 0, 0}, {1, 0, 0, -1}, {2, 0, -1, 0}}, {{2, 0, 0, 1}, {1, 0, 0, 1}, {2, 0, -1, 1}}},
    {0, 2, 0, {{1, 0, 0, -1}, {2, 0, -1, 0}, {1, 0, 0, 0}}, {{1, 0, 1, -1}, {2, 0, 1, 0}, {1, 0, 1, 0}}},
    {0, 2, 1, {{1, 0, 1, 0}, {2, 0, 1, 0}, {1, 0, 1, -1}}, {{1, 0, 0, 0}, {2, 0, -1, 0}, {1, 0, 0, -1}}},
    {1, 0, 0, {{2, -1, 0, 1}, {0, 0, 0, 1}, {2, 0, 0, 1}}, {{2, -1, 0, 0}, {0, 0, 0, -1}, {2, 0, 0, 0}}},
    {1, 0, 1, {{2, 0, 0, 0}, {0, 0, 0, -1}, {2, -1, 0, 0}}, {{2, 0, 0, 1}, {0, 0, 0, 1}, {2, -1, 0, 1}}},
    {1, 2, 0, {{0, 0, 0, -1}, {2, -1, 0, 0}, {0, 0, 0, 0}}, {{0, 1, 0, -1}, {2, 1, 0, 0}, {0, 1, 0, 0}}},
    {1, 2, 1, {{0, 1, 0, 0}, {2, 1, 0, 0}, {0, 1, 0, -1}}, {{0, 0, 0, 0}, {2, -1, 0, 0}, {0, 0, 0, -1}}},
    {2, 0, 0, {{1, -1, 1, 0}, {0, 0, 1, 0}, {1, 0, 1, 0}}, {{1, -1, 0, 0}, {0, 0, -1, 0}, {1, 0, 0, 0}}},
    {2, 0, 1, {{1, 0, 0, 0}, {0, 0, -1, 0}, {1, -1, 0, 0}}, {{1, 0, 1, 0}, {0, 0, 1, 0}, {1, -1, 1, 0}}},
    {2, 1, 0, {{0, 0, -1, 0}, {1, -1, 0, 0}, {0, 0, 0, 0}}, {{0, 1, -1, 0}, {1, 1, 0, 0}, {0, 1, 0, 0}}},
    {2, 1, 1, {{0, 1, 0, 0}, {1, 1, 0, 0}, {0, 1, -1, 0}}, {{0, 0, 0, 0}, {1, -1, 0, 0}, {0, 0, -1, 0}}},
};

void FillWalkingTables() {
  for (const StepRow& r : kContourSteps)
    for (int n = 0; n < 3; ++n) {
      int e = ((r.p * 3 + r.a) * 2 + r.s) * 3 + n;
      gContourForward[e] = Kro_FaceStep(r.forward[n][0], r.forward[n][1], r.forward[n][2], r.forward[n][3]);
      gContourBackward[e] =
          Kro_FaceStep(r.backward[n][0], r.backward[n][1], r.backward[n][2], r.backward[n][3]);
    }
  for (int a = 0; a < 3; ++a)
    for (int s = 0; s < 2; ++s)
      gVoxelFaces[2 * a + s] = Kro_FaceStep(a, a == 0 ? s : 0, a == 1 ? s : 0, a == 2 ? s : 0);
}

// Unit step along an axis.
inline void AxisStep(int axis, int& di, int& dj, int& dk) {
  di = axis == 0;
  dj = axis == 1;
  dk = axis == 2;
}

}  // namespace

Kro_3DTopology::Kro_3DTopology() { FillWalkingTables(); }

void Kro_3DTopology::Clear() {
  for (auto& s : faces) s.Clear();
  for (auto& r : regions) r.Clear();
}

bool Kro_3DTopology::SetSize(int d, int h, int w) {
  bool valid = d >= 0 && h >= 0 && w >= 0 && d <= kMaxExtent && h <= kMaxExtent && w <= kMaxExtent;
  if (!valid) d = h = w = 0;
  const bool sameExtents = valid && d == depth && h == height && w == width && labels.dim0() == d &&
                           labels.dim1() == h && labels.dim2() == w;
  depth = d;
  height = h;
  width = w;
  for (auto& s : faces) s.Clear();
  if (!sameExtents) {
    // A new volume: zero labels, so the list of the old labels goes too.
    labels.SetSize(d, h, w);
    labels.SetZero();
    activeLabels.clear();
  }
  for (int L = 0; L < 256; ++L) {
    regions[L].Attach(this);
    regions[L].label = static_cast<int16_t>(L);
  }
  return valid;
}

bool Kro_3DTopology::Build(const HeapMatrix3D<unsigned char>& volume) {
  int d = volume.dim0(), h = volume.dim1(), w = volume.dim2();
  if (!SetSize(d, h, w)) return false;
  if (volume.NumElements() > 0 && labels.NumElements() == volume.NumElements())
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < h; ++j)
        for (int k = 0; k < w; ++k) labels(i, j, k) = volume(i, j, k);
  BuildFaces();
  ListActiveLabels();
  return true;
}

void Kro_3DTopology::ListActiveLabels() {
  activeLabels.clear();
  for (int L = 0; L < 256; ++L) {
    int i = 0, j = 0, k = 0;
    if (regions[L].FirstFace(i, j, k) >= 0) activeLabels.push_back(static_cast<unsigned char>(L));
  }
}

void Kro_3DTopology::BuildFaces() {
  auto visit = [this](int a, int i, int j, int k) {
    int before, after;
    LabelsAcrossFace(before, after, a, i, j, k);
    if (before == after) return;
    for (int L : {after, before}) {
      if (L == kOutside) continue;
      for (int p = 0; p < 3; ++p)
        if (p != a) regions[L].AddFace(p, a, i, j, k);
    }
  };
  for (int i = 0; i <= depth; ++i)
    for (int j = 0; j < height; ++j)
      for (int k = 0; k < width; ++k) visit(0, i, j, k);
  for (int j = 0; j <= height; ++j)
    for (int i = 0; i < depth; ++i)
      for (int k = 0; k < width; ++k) visit(1, i, j, k);
  for (int k = 0; k <= width; ++k)
    for (int i = 0; i < depth; ++i)
      for (int j = 0; j < height; ++j) visit(2, i, j, k);
}

bool Kro_3DTopology::ChangeLabel(int axis, int i, int j, int k, int step) {
  if (step != 1 && step != -1) return false;
  if (axis < 0 || axis > 2) return false;
  if (!IsTopologyPreserving(axis, i, j, k, step)) return false;
  int di, dj, dk;
  AxisStep(axis, di, dj, dk);
  int vs = (step - 1) / 2, ds = (step + 1) / 2;
  int vi = i + vs * di, vj = j + vs * dj, vk = k + vs * dk;
  int oi = i - ds * di, oj = j - ds * dj, ok = k - ds * dk;
  if (!labels.IsInside(vi, vj, vk) || !labels.IsInside(oi, oj, ok)) return false;
  int oldLabel = labels(vi, vj, vk);
  int newLabel = labels(oi, oj, ok);
  for (const Kro_FaceStep& f : gVoxelFaces)
    RemoveFaceFromRegion(f.axis, vi + f.i, vj + f.j, vk + f.k, oldLabel);
  labels(vi, vj, vk) = static_cast<unsigned char>(newLabel);
  for (const Kro_FaceStep& f : gVoxelFaces) UpdateFace(f.axis, vi + f.i, vj + f.j, vk + f.k);
  regions[newLabel].voxelCount += 1;
  regions[oldLabel].voxelCount -= 1;
  return true;
}

bool Kro_3DTopology::RemoveFace(int axis, int i, int j, int k) {
  int before, after;
  LabelsAcrossFace(before, after, axis, i, j, k);
  for (int L : {after, before})
    if (L != kOutside) regions[L].RemoveFaceOnOtherAxes(axis, i, j, k);
  if (axis < 0 || axis > 2) return false;
  return faces[axis].Erase(i, j, k);
}

void Kro_3DTopology::RemoveFaceFromRegion(int axis, int i, int j, int k, int label) {
  if (label < 0 || label > 255) return;
  regions[label].RemoveFaceOnOtherAxes(axis, i, j, k);
}

void Kro_3DTopology::UpdateFace(int axis, int i, int j, int k) {
  if (axis < 0 || axis > 2) return;
  int before, after;
  LabelsAcrossFace(before, after, axis, i, j, k);
  if (before == after) {
    RemoveFace(axis, i, j, k);
    return;
  }
  if (!FindOrCreateFace(axis, i, j, k)) return;
  if (after != kOutside) regions[after].AddFaceOnOtherAxes(axis, i, j, k);
  if (before != kOutside) regions[before].AddFaceOnOtherAxes(axis, i, j, k);
}

int Kro_3DTopology::MarkRegionFaces(bool forward, int operation, int /*unused*/) {
  int visits = 0;
  int top = std::max(depth, std::max(height, width));
  for (int L = 1; L < 256; ++L) {
    Kro_Region& r = regions[L];
    for (int p = 0; p < 3; ++p)
      for (int c = 0; c <= top; ++c) {
        int ijk[3] = {0, 0, 0};
        ijk[p] = c;
        int a = forward ? r.SliceFirstFace(p, ijk[0], ijk[1], ijk[2])
                        : r.SliceSecondFace(p, ijk[0], ijk[1], ijk[2]);
        while (a >= 0) {
          if (Kro_BndFace* f = FindFace(a, ijk[0], ijk[1], ijk[2])) {
            switch (operation) {
              case 0: f->mark = 0; break;
              case 1: f->mark = static_cast<uint8_t>(f->mark + 1); break;
              case 2: f->mark = static_cast<uint8_t>(f->mark - 1); break;
              case 3: break;
              default: f->mark = static_cast<uint8_t>(operation); break;
            }
          }
          ++visits;
          a = forward ? r.FollowFaceLink(p, ijk[0], ijk[1], ijk[2])
                      : r.FollowFaceLinkBack(p, ijk[0], ijk[1], ijk[2]);
        }
      }
  }
  return visits;
}

int Kro_3DTopology::CheckFaceLinks() {
  MarkRegionFaces(true, 0, 0);
  MarkRegionFaces(true, 1, 0);
  MarkRegionFaces(true, 3, 4);
  MarkRegionFaces(true, 0, 0);
  MarkRegionFaces(false, 0, 0);
  MarkRegionFaces(false, 1, 0);
  MarkRegionFaces(false, 3, 4);
  return MarkRegionFaces(false, 0, 0);
}

void Kro_3DTopology::CountLabelVoxels() {
  int32_t counts[256] = {};
  for (int i = 0; i < depth; ++i)
    for (int j = 0; j < height; ++j)
      for (int k = 0; k < width; ++k) ++counts[labels(i, j, k)];
  for (int L = 0; L < 256; ++L) regions[L].voxelCount = counts[L];
}

bool Kro_3DTopology::FaceVoxels(int& bi, int& bj, int& bk, int& ai, int& aj, int& ak, int axis, int i,
                                int j, int k) const {
  int di = 0, dj = 0, dk = 0;
  if (axis >= 0 && axis <= 2) AxisStep(axis, di, dj, dk);
  bi = i - di;
  bj = j - dj;
  bk = k - dk;
  ai = i;
  aj = j;
  ak = k;
  return labels.IsInside(bi, bj, bk) && labels.IsInside(ai, aj, ak);
}

Kro_BndFace* Kro_3DTopology::FindFace(int axis, int i, int j, int k) {
  if (axis < 0 || axis > 2) return nullptr;
  return faces[axis].Find(i, j, k);
}

Kro_BndFace* Kro_3DTopology::FindOrCreateFace(int axis, int i, int j, int k) {
  if (axis < 0 || axis > 2) return nullptr;
  return faces[axis].FindOrCreate(i, j, k);
}

void Kro_3DTopology::LabelsAcrossFace(int& before, int& after, int axis, int i, int j, int k) const {
  before = after = kOutside;
  if (axis < 0 || axis > 2) return;
  int di, dj, dk;
  AxisStep(axis, di, dj, dk);
  before = LabelAt(i - di, j - dj, k - dk);
  after = LabelAt(i, j, k);
}
