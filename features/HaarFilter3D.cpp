#include "features/HaarFilter3D.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/Conversions.h"

namespace {

// Sets box i to the inclusive ranges and the weight, with its count.
void SetBox(HaarCube& b, int x0, int x1, int y0, int y1, int z0, int z1, float w) {
  b.x0 = LowShort(x0);
  b.x1 = LowShort(x1);
  b.y0 = LowShort(y0);
  b.y1 = LowShort(y1);
  b.z0 = LowShort(z0);
  b.z1 = LowShort(z1);
  b.weight = w;
  b.UpdateCount();
}

// trunc(v + 0.5), the rounding of Scale.
int RoundHalfUp(double v) { return TruncToInt32(v + 0.5); }

int Clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

}  // namespace

HaarFilter3D::HaarFilter3D(int type, int front, int top, int left, int depth, int height, int width) {
  SetType(type, front, top, left, depth, height, width);
}

void HaarFilter3D::Clear() {
  boxes.clear();
  numBoxes = 0;
  built = 0;
}

void HaarFilter3D::Allocate(int n) {
  if (n == numBoxes && !boxes.empty()) return;
  Clear();
  if (n >= 1) {
    boxes.assign(static_cast<size_t>(n), HaarCube());
    numBoxes = LowShort(n);
  }
}

void HaarFilter3D::SetWeights(int n) {
  static const float kWeights[3] = {1.0f, -2.0f, -2.0f};
  int boxesFor = 0;
  switch (n) {
    case 1: boxesFor = 1; break;
    case 2: boxesFor = 2; break;
    case 3: boxesFor = 2; break;
    case 4: boxesFor = 3; break;
    default: return;
  }
  Allocate(boxesFor);
  for (int i = 0; i < boxesFor; ++i) boxes[i].weight = kWeights[i];
}

void HaarFilter3D::Translate(int newFront, int newTop, int newLeft) {
  const int dz = newFront - front, dy = newTop - top, dx = newLeft - left;
  for (HaarCube& b : boxes) {
    b.x0 = LowShort(b.x0 + dx);
    b.x1 = LowShort(b.x1 + dx);
    b.y0 = LowShort(b.y0 + dy);
    b.y1 = LowShort(b.y1 + dy);
    b.z0 = LowShort(b.z0 + dz);
    b.z1 = LowShort(b.z1 + dz);
  }
}

bool HaarFilter3D::SetType(int t, int newFront, int newTop, int newLeft, int d, int h, int w) {
  type = LowByte(t);
  depth = LowShort(d);
  height = LowShort(h);
  width = LowShort(w);
  front = top = left = 0;
  switch (t) {
    case 0: BuildPattern1(); break;
    case 1: BuildPattern2(); break;
    case 2: BuildPattern3(); break;
    case 3: BuildPattern4(); break;
    case 4: BuildPattern5(); break;
    case 5: BuildPattern6(); break;
    case 6: BuildPattern7(); break;
    case 7: BuildPattern8(); break;
    case 8: BuildPattern9(); break;
    case 9: SetSingleBox(); break;
    default: built = 0; break;  // no pattern: never reported as built
  }
  Translate(newFront, newTop, newLeft);
  for (HaarCube& b : boxes) b.UpdateCount();
  front = LowShort(newFront);
  top = LowShort(newTop);
  left = LowShort(newLeft);
  return built != 0;
}

// Axis 0 = columns (x, extent width), 1 = rows (y, height), 2 = slices (z, depth).
bool HaarFilter3D::BuildHalves(int axis) {
  const int e = axis == 0 ? width : (axis == 1 ? height : depth);
  if (e < 2) {
    built = 0;
    return false;
  }
  Allocate(2);
  const int lo[3] = {0, 0, 0}, hi[3] = {width - 1, height - 1, depth - 1};
  for (int i = 0; i < 2; ++i) {
    int a[3] = {lo[0], lo[1], lo[2]}, b[3] = {hi[0], hi[1], hi[2]};
    a[axis] = i == 0 ? 0 : e / 2;
    b[axis] = i == 0 ? e / 2 - 1 : e - 1;
    SetBox(boxes[i], a[0], b[0], a[1], b[1], a[2], b[2], i == 0 ? 1.0f : -1.0f);
  }
  built = 1;
  return true;
}

bool HaarFilter3D::BuildThirds(int axis) {
  const int e = axis == 0 ? width : (axis == 1 ? height : depth);
  if (e < 3) {
    built = 0;
    return false;
  }
  Allocate(3);
  const int starts[3] = {0, e / 3, 2 * e / 3}, ends[3] = {e / 3 - 1, 2 * e / 3 - 1, e - 1};
  const float weights[3] = {1.0f, -2.0f, 1.0f};
  for (int i = 0; i < 3; ++i) {
    int a[3] = {0, 0, 0}, b[3] = {width - 1, height - 1, depth - 1};
    a[axis] = starts[i];
    b[axis] = ends[i];
    SetBox(boxes[i], a[0], b[0], a[1], b[1], a[2], b[2], weights[i]);
  }
  built = 1;
  return true;
}

void HaarFilter3D::BuildPattern1() { BuildHalves(0); }
void HaarFilter3D::BuildPattern2() { BuildHalves(1); }
void HaarFilter3D::BuildPattern3() { BuildHalves(2); }
void HaarFilter3D::BuildPattern4() { BuildThirds(0); }
void HaarFilter3D::BuildPattern5() { BuildThirds(1); }
void HaarFilter3D::BuildPattern6() { BuildThirds(2); }

void HaarFilter3D::BuildPattern7() {
  if (width < 2 || height < 2) {
    built = 0;
    return;
  }
  Allocate(4);
  const int W = width, H = height, D = depth;
  SetBox(boxes[0], 0, W / 2 - 1, 0, H / 2 - 1, 0, D - 1, 1.0f);
  SetBox(boxes[1], W / 2, W - 1, 0, H / 2 - 1, 0, D - 1, -1.0f);
  SetBox(boxes[2], 0, W / 2 - 1, H / 2, H - 1, 0, D - 1, -1.0f);
  SetBox(boxes[3], W / 2, W - 1, H / 2, H - 1, 0, D - 1, 1.0f);
  built = 1;
}

void HaarFilter3D::BuildPattern8() {
  if (depth < 2 || height < 2) {
    built = 0;
    return;
  }
  Allocate(4);
  const int W = width, H = height, D = depth;
  SetBox(boxes[0], 0, W - 1, 0, H / 2 - 1, 0, D / 2 - 1, 1.0f);
  SetBox(boxes[1], 0, W - 1, H / 2, H - 1, 0, D / 2 - 1, -1.0f);
  SetBox(boxes[2], 0, W - 1, 0, H / 2 - 1, D / 2, D - 1, -1.0f);
  SetBox(boxes[3], 0, W - 1, H / 2, H - 1, D / 2, D - 1, 1.0f);
  built = 1;
}

void HaarFilter3D::BuildPattern9() {
  if (depth < 2 || width < 2) {
    built = 0;
    return;
  }
  Allocate(4);
  const int W = width, H = height, D = depth;
  SetBox(boxes[0], 0, W / 2 - 1, 0, H - 1, 0, D / 2 - 1, 1.0f);
  SetBox(boxes[1], 0, W / 2 - 1, 0, H - 1, D / 2, D - 1, -1.0f);
  SetBox(boxes[2], W / 2, W - 1, 0, H - 1, 0, D / 2 - 1, -1.0f);
  SetBox(boxes[3], W / 2, W - 1, 0, H - 1, D / 2, D - 1, 1.0f);
  built = 1;
}

void HaarFilter3D::SetSingleBox() {
  Allocate(1);
  SetBox(boxes[0], 0, width - 1, 0, height - 1, 0, depth - 1, 1.0f);
  built = 1;
}

bool HaarFilter3D::SetBounds(int newFront, int newTop, int newLeft, int d, int h, int w, int innerDepth,
                             int innerHeight, int innerWidth) {
  type = kSpecialType;
  depth = LowShort(d);
  height = LowShort(h);
  width = LowShort(w);
  front = top = left = 0;
  if (h - innerHeight < 2 || w - innerWidth < 2 || d - innerDepth < 2) {
    built = 0;
    return false;
  }
  Allocate(2);
  SetBox(boxes[0], 0, w - 1, 0, h - 1, 0, d - 1, 1.0f);
  const int x0 = (w - innerWidth) / 2, y0 = (h - innerHeight) / 2, z0 = (d - innerDepth) / 2;
  SetBox(boxes[1], x0, x0 + innerWidth - 1, y0, y0 + innerHeight - 1, z0, z0 + innerDepth - 1, -2.0f);
  Translate(newFront, newTop, newLeft);
  for (HaarCube& b : boxes) b.UpdateCount();
  front = LowShort(newFront);
  top = LowShort(newTop);
  left = LowShort(newLeft);
  built = 1;
  return true;
}

void HaarFilter3D::Scale(double sd, double sh, double sw) {
  if (type <= 9) {
    SetType(type, RoundHalfUp(front * sd), RoundHalfUp(top * sh), RoundHalfUp(left * sw),
            RoundHalfUp(depth * sd), RoundHalfUp(height * sh), RoundHalfUp(width * sw));
    return;
  }
  for (HaarCube& b : boxes) {
    b.x0 = LowShort(RoundHalfUp(b.x0 * sw));
    b.x1 = LowShort(RoundHalfUp(b.x1 * sw));
    b.y0 = LowShort(RoundHalfUp(b.y0 * sh));
    b.y1 = LowShort(RoundHalfUp(b.y1 * sh));
    b.z0 = LowShort(RoundHalfUp(b.z0 * sd));
    b.z1 = LowShort(RoundHalfUp(b.z1 * sd));
    b.UpdateCount();
  }
  depth = LowShort(RoundHalfUp(depth * sd));
  front = LowShort(RoundHalfUp(front * sd));
  height = LowShort(RoundHalfUp(height * sh));
  top = LowShort(RoundHalfUp(top * sh));
  width = LowShort(RoundHalfUp(width * sw));
  left = LowShort(RoundHalfUp(left * sw));
}

void HaarFilter3D::Reflect(int d, int h, int w) {
  const double m[3][3] = {{-1.0, 0.0, 0.0}, {0.0, -1.0, 0.0}, {0.0, 0.0, -1.0}};
  const double t[3] = {w - 1.0, h - 1.0, d - 1.0};
  UpdateBoxes(m, t);
}

void HaarFilter3D::UpdateBoxes(const double m[3][3], const double t[3]) {
  for (HaarCube& b : boxes) b.Transform(m, t);
}

bool HaarFilter3D::IsDegenerate() const {
  if (!built) return true;
  if (boxes.size() < 2) return false;
  const HaarCube& a = boxes[0];
  const HaarCube& b = boxes[1];
  // Two adjacent one-voxel slabs on one axis: slices, then rows, then columns.
  const int lo0[3] = {a.z0, a.y0, a.x0}, hi0[3] = {a.z1, a.y1, a.x1};
  const int lo1[3] = {b.z0, b.y0, b.x0}, hi1[3] = {b.z1, b.y1, b.x1};
  for (int k = 0; k < 3; ++k) {
    if (lo0[k] == hi0[k] && lo1[k] == hi1[k] && lo1[k] == hi0[k] + 1) return true;
  }
  if (type != kSpecialType) return false;
  for (int k = 0; k < 2; ++k) {
    const int e0 = hi0[k] - lo0[k] + 1, e1 = hi1[k] - lo1[k] + 1;
    if (e0 != e1 && std::abs(e0 - e1) < 4) return true;
  }
  const int e0 = hi0[2] - lo0[2] + 1, e1 = hi1[2] - lo1[2] + 1;
  if (e0 == e1) return false;
  return std::abs(e0 - e1) < 4;
}

double ClampedBoxSum(const HeapMatrix3D<double>& J, int x0, int y0, int z0, int x1, int y1, int z1) {
  const int mx = J.dim2() - 1, my = J.dim1() - 1, mz = J.dim0() - 1;
  const int ax = Clamp(x0 - 1, mx), ay = Clamp(y0 - 1, my), az = Clamp(z0 - 1, mz);
  const int bx = Clamp(x1, mx), by = Clamp(y1, my), bz = Clamp(z1, mz);
  return J(bz, by, bx) - J(az, by, bx) - J(bz, ay, bx) - J(bz, by, ax) + J(az, ay, bx) + J(az, by, ax) +
         J(bz, ay, ax) - J(az, ay, ax);
}

namespace {

// The clamped sum of box b placed at the origin on table J.
double PlacedBoxSum(const HeapMatrix3D<double>& J, const HaarCube& b, int z, int y, int x) {
  return ClampedBoxSum(J, x + b.x0, y + b.y0, z + b.z0, x + b.x1, y + b.y1, z + b.z1);
}

}  // namespace

double EvaluateHaarFilter(const HaarFilter3D& f, const ItgImage3D<double>& J, int z, int y, int x) {
  if (!f.built || J.sums.NumElements() == 0) return 0.0;
  if (f.type == HaarFilter3D::kSpecialType) {
    if (f.boxes.size() < 2) return 0.0;
    const HaarCube& b0 = f.boxes[0];
    const HaarCube& b1 = f.boxes[1];
    // An empty box adds nothing (its sum and its term are dropped).
    const double s0 = b0.count != 0 ? PlacedBoxSum(J.sums, b0, z, y, x) : 0.0;
    const double s1 = b1.count != 0 ? PlacedBoxSum(J.sums, b1, z, y, x) : 0.0;
    double v = b0.count != 0 ? (s0 - s1) / b0.count : 0.0;
    if (b1.count != 0) v -= s1 / b1.count;
    return v;
  }
  double v = 0.0;
  for (const HaarCube& b : f.boxes) {
    if (b.count == 0) continue;
    v += PlacedBoxSum(J.sums, b, z, y, x) * (static_cast<double>(b.weight) / b.count);
  }
  return v;
}

double HaarFirstBoxDeviation(const HaarFilter3D& f, const ItgImage3D<double>& J, int z, int y, int x) {
  if (!f.built || f.boxes.empty() || J.sums.NumElements() == 0 || J.squares.NumElements() == 0) return 0.0;
  const HaarCube& b = f.boxes[0];
  const HeapMatrix3D<double>& J1 = J.sums;
  // The clamped corners, as in ClampedBoxSum, give the voxel count of the mean.
  const int mx = J1.dim2() - 1, my = J1.dim1() - 1, mz = J1.dim0() - 1;
  const int n = (Clamp(x + b.x1, mx) - Clamp(x + b.x0 - 1, mx)) * (Clamp(y + b.y1, my) - Clamp(y + b.y0 - 1, my)) *
                (Clamp(z + b.z1, mz) - Clamp(z + b.z0 - 1, mz));
  if (n <= 0) return 0.0;
  const double m1 = PlacedBoxSum(J1, b, z, y, x) / n;
  const double m2 = PlacedBoxSum(J.squares, b, z, y, x) / n;
  const double var = m2 - m1 * m1;
  return var > 0.0 ? std::sqrt(var) : 0.0;
}
