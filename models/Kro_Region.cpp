// Region lists: attaching, list walks and list edits.
#include "models/Kro_Region.h"

#include "models/Kro_3DTopology.h"
#include "numerics/RF_uniform.h"
#include "platform/Conversions.h"

namespace {

// The coordinate of (i, j, k) along axis p.
inline int Along(int p, int i, int j, int k) { return p == 0 ? i : p == 1 ? j : k; }
inline void SetAlong(int p, int& i, int& j, int& k, int value) { (p == 0 ? i : p == 1 ? j : k) = value; }

}  // namespace

Kro_Region::Kro_Region() : box(9999, 9999, 9999, -1, -1, -1) {}

void Kro_Region::Attach(Kro_3DTopology* t) {
  topology = t;
  for (int p = 0; p < 3; ++p) {
    int n = t ? t->Extent(p) : 0;
    sliceLists[p].assign(static_cast<size_t>(n > 0 ? n : 0), SliceEntry());
  }
  Clear();
}

void Kro_Region::Clear() {
  for (auto& list : sliceLists)
    for (auto& e : list) {
      e.head.Reset();
      e.tail.Reset();
    }
  for (int p = 0; p < 3; ++p) {
    sliceMin[p] = 9999;
    sliceMax[p] = -1;
    axisCursor[p].Reset();
  }
  currentAxis = -1;
}

Kro_FaceOfRegion* Kro_Region::OwnedSide(const Kro_FaceAddress& f) {
  if (!topology || !f.IsFace()) return nullptr;
  Kro_BndFace* face = topology->FindFace(f);
  return face ? face->OwnedSide(label) : nullptr;
}

int Kro_Region::ReportCursor(int p, int& i, int& j, int& k) const {
  const Kro_FaceAddress& c = axisCursor[p];
  if (!c.IsFace()) return -1;
  i = c.i;
  j = c.j;
  k = c.k;
  return c.axis;
}

int Kro_Region::SliceFace(int p, bool head, int& i, int& j, int& k) {
  if (p < 0 || p > 2) return -1;
  currentAxis = static_cast<int8_t>(p);
  int c = Along(p, i, j, k);
  if (c < 0 || c >= ListSize(p)) return -1;
  const SliceEntry& e = sliceLists[p][static_cast<size_t>(c)];
  axisCursor[p] = head ? e.head : e.tail;
  return ReportCursor(p, i, j, k);
}

int Kro_Region::SliceFirstFace(int p, int& i, int& j, int& k) { return SliceFace(p, true, i, j, k); }
int Kro_Region::SliceSecondFace(int p, int& i, int& j, int& k) { return SliceFace(p, false, i, j, k); }

int Kro_Region::FollowLink(int p, int link, int& i, int& j, int& k) {
  if (p < 0 || p > 2) return -1;
  Kro_FaceOfRegion* side = OwnedSide(axisCursor[p]);
  if (!side) return -1;
  axisCursor[p] = side->links[link];
  return ReportCursor(p, i, j, k);
}

int Kro_Region::FollowFaceLink(int p, int& i, int& j, int& k) { return FollowLink(p, 2 * p, i, j, k); }
int Kro_Region::FollowFaceLinkBack(int p, int& i, int& j, int& k) {
  return FollowLink(p, 2 * p + 1, i, j, k);
}

Kro_Region::SliceEntry& Kro_Region::RowEntry(int p, int c) { return sliceLists[p][static_cast<size_t>(c)]; }

void Kro_Region::AddFace(int p, int a, int i, int j, int k) {
  if (!topology || p < 0 || p > 2 || a == p) return;
  int c = Along(p, i, j, k);
  if (c < 0 || c >= ListSize(p)) return;
  Kro_BndFace* face = topology->FindOrCreateFace(a, i, j, k);
  Kro_FaceOfRegion* side = Kro_3DTopology::FaceCellSide(face, label);
  if (!side) return;
  if (c < sliceMin[p]) sliceMin[p] = c;
  if (c > sliceMax[p]) sliceMax[p] = c;
  SliceEntry& e = RowEntry(p, c);
  const Kro_FaceAddress self(a, i, j, k);
  if (side->links[2 * p + 1].IsFace() || e.head == self) return;
  side->label = label;
  side->links[2 * p].Reset();
  side->links[2 * p + 1].Reset();
  if (e.head.IsFace()) {
    side->links[2 * p + 1] = e.tail;
    if (Kro_FaceOfRegion* tailSide = OwnedSide(e.tail)) tailSide->links[2 * p] = self;
    e.tail = self;
  } else {
    e.tail = self;
    e.head = e.tail;
  }
}

void Kro_Region::AddFaceOnOtherAxes(int a, int i, int j, int k) {
  for (int p = 0; p < 3; ++p)
    if (p != a) AddFace(p, a, i, j, k);
}

bool Kro_Region::RemoveFace(int p, int a, int i, int j, int k) {
  if (!topology || p < 0 || p > 2 || a == p) return false;
  const Kro_FaceAddress self(a, i, j, k);
  Kro_FaceOfRegion* side = OwnedSide(self);
  if (!side) return false;
  int c = Along(p, i, j, k);
  if (c < 0 || c >= ListSize(p)) return false;
  SliceEntry& e = RowEntry(p, c);
  const Kro_FaceAddress next = side->links[2 * p];
  const Kro_FaceAddress prev = side->links[2 * p + 1];
  if (axisCursor[p] == self) axisCursor[p] = next;
  if (e.head == self) {
    e.head = next;
    if (Kro_FaceOfRegion* n = OwnedSide(next)) n->links[2 * p + 1].Reset();
    if (e.tail == self) e.tail.Reset();
  } else {
    if (!prev.IsFace()) return false;
    if (Kro_FaceOfRegion* ps = OwnedSide(prev)) ps->links[2 * p] = next;
    if (Kro_FaceOfRegion* n = OwnedSide(next)) n->links[2 * p + 1] = prev;
    if (e.tail == self) e.tail = prev;
  }
  side->links[2 * p].Reset();
  side->links[2 * p + 1].Reset();
  return true;
}

void Kro_Region::RemoveFaceOnOtherAxes(int a, int i, int j, int k) {
  if (!OwnedSide(Kro_FaceAddress(a, i, j, k))) return;
  for (int p = 0; p < 3; ++p)
    if (p != a) RemoveFace(p, a, i, j, k);
  if (Kro_FaceOfRegion* side = OwnedSide(Kro_FaceAddress(a, i, j, k))) side->Reset();
}

int Kro_Region::FirstFace(int& i, int& j, int& k) {
  currentAxis = 0;
  for (int p = 0; p < 3; ++p) {
    int a = FirstFaceOnAxis(p, i, j, k);
    if (a >= 0) return a;
  }
  return -1;
}

int Kro_Region::FirstFaceOnAxis(int p, int& i, int& j, int& k) {
  if (p < 0 || p > 2) return -1;
  for (currentSlice = sliceMin[p]; currentSlice <= sliceMax[p]; ++currentSlice) {
    SetAlong(p, i, j, k, currentSlice);
    int a = SliceFirstFace(p, i, j, k);
    if (a >= 0) return a;
  }
  return -1;
}

int Kro_Region::NextFace(int& i, int& j, int& k) {
  int p = currentAxis;
  if (p < 0 || p > 2) return -1;
  int a = NextFaceOnAxis(p, i, j, k);
  if (a >= 0) return a;
  for (int q = p + 1; q < 3; ++q) {
    a = FirstFaceOnAxis(q, i, j, k);
    if (a >= 0) return a;
  }
  return -1;
}

int Kro_Region::NextFaceOnAxis(int p, int& i, int& j, int& k) {
  if (p < 0 || p > 2) return -1;
  int a = FollowFaceLink(p, i, j, k);
  if (a >= 0) return a;
  for (++currentSlice; currentSlice <= sliceMax[p]; ++currentSlice) {
    SetAlong(p, i, j, k, currentSlice);
    a = SliceFirstFace(p, i, j, k);
    if (a >= 0) return a;
  }
  return -1;
}

int Kro_Region::CountSliceFaces(int p, int c) {
  int i = 0, j = 0, k = 0;
  if (p < 0 || p > 2) return 0;
  SetAlong(p, i, j, k, c);
  int n = 0;
  for (int a = SliceFirstFace(p, i, j, k); a >= 0; a = FollowFaceLink(p, i, j, k)) ++n;
  return n;
}

void Kro_Region::MoveFaceRandomly(int a, int i, int j, int k) {
  RF_uniform u;  // deliberate: its construction takes one draw
  u.Init(-1.0, 1.0, 2.0);
  double v = u.Draw();
  if (topology) topology->ChangeLabel(a, i, j, k, TruncToInt32(v + 0.5));
}
