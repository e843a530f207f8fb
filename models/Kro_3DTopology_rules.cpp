// Topology-preserving moves: the plane tests and the layer test.
#include "models/Kro_3DTopology.h"

namespace {

inline void Coord(int ijk[3], int axis, int value) { ijk[axis] = value; }

}  // namespace

bool Kro_3DTopology::IsTopologyPreserving(int axis, int i, int j, int k, int step) {
  if (step != 1 && step != -1) return false;
  if (axis < 0 || axis > 2) return false;
  int v[3] = {i, j, k};
  v[axis] += (step - 1) / 2;
  if (v[axis] < 0 || v[axis] >= Extent(axis)) return false;
  switch (axis) {
    case 0:
      if (!PlaneTestJ(axis, v[0], v[1], v[2], step) || !PlaneTestK(axis, v[0], v[1], v[2], step)) return false;
      break;
    case 1:
      if (!PlaneTestI(axis, v[0], v[1], v[2], step) || !PlaneTestK(axis, v[0], v[1], v[2], step)) return false;
      break;
    default:
      if (!PlaneTestI(axis, v[0], v[1], v[2], step) || !PlaneTestJ(axis, v[0], v[1], v[2], step)) return false;
      break;
  }
  return LayerTest(axis, v[0], v[1], v[2]);
}

// Plane of constant i: axes 1 and 2.
bool Kro_3DTopology::PlaneTestI(int axis, int vi, int vj, int vk, int step) {
  if (axis != 1 && axis != 2) return false;
  return PlaneTest(axis, axis == 1 ? 2 : 1, vi, vj, vk, step);
}

// Plane of constant k: axes 0 and 1.
bool Kro_3DTopology::PlaneTestK(int axis, int vi, int vj, int vk, int step) {
  if (axis != 0 && axis != 1) return false;
  return PlaneTest(axis, axis == 0 ? 1 : 0, vi, vj, vk, step);
}

// Plane of constant j: axes 0 and 2.
bool Kro_3DTopology::PlaneTestJ(int axis, int vi, int vj, int vk, int step) {
  if (axis != 0 && axis != 2) return false;
  return PlaneTest(axis, axis == 0 ? 2 : 0, vi, vj, vk, step);
}

bool Kro_3DTopology::PlaneTest(int a, int b, int vi, int vj, int vk, int s) {
  if (s != 1 && s != -1) return false;
  const int v[3] = {vi, vj, vk};
  // Cells along b: c_b + s, c_b, c_b - s when a < b, the other way when a > b.
  const int sb = a < b ? s : -s;
  for (int row = 0; row < 2; ++row)
    for (int t = 0; t < 3; ++t) {
      int c[3] = {v[0], v[1], v[2]};
      Coord(c, a, v[a] + row * s);
      Coord(c, b, v[b] + sb * (1 - t));
      planeWindow[row * 3 + t] = static_cast<uint16_t>(LabelAt(c[0], c[1], c[2]));
    }
  int d[3] = {v[0], v[1], v[2]};
  d[a] -= s;
  if (!labels.IsInside(d[0], d[1], d[2])) return false;
  const uint16_t L = labels(d[0], d[1], d[2]);
  const uint16_t* w = planeWindow;
  if (w[4] == L && w[0] != L && w[2] != L && w[0] != 0) return false;
  if (w[0] != 0 && w[0] == w[1] && w[1] == w[4] && w[1] != w[3]) return false;
  if (w[1] != 0 && w[1] == w[2] && w[2] == w[4] && w[1] != w[5]) return false;
  if (w[5] != 0 && w[5] == L && w[4] != w[5] && w[2] != w[5]) return false;
  if (w[3] != 0 && w[3] == L && w[4] != w[3] && w[0] != w[3]) return false;
  if (w[0] == 0 || w[0] != w[1] || w[1] != w[2]) return true;
  return w[0] == w[3] && w[3] == w[4] && w[4] == w[5] && w[5] == w[2];
}

bool Kro_3DTopology::LayerTest(int axis, int vi, int vj, int vk) {
  if (axis < 0 || axis > 2) return false;
  for (int r = 0; r < 3; ++r)
    for (int t = 0; t < 3; ++t) {
      int i = vi, j = vj, k = vk;
      if (axis == 0) {
        j += r - 1;
        k += t - 1;
      } else if (axis == 1) {
        i += r - 1;
        k += t - 1;
      } else {
        i += r - 1;
        j += t - 1;
      }
      cubeWindow[3 * r + t] = static_cast<uint16_t>(LabelAt(i, j, k));
    }
  const uint16_t* c = cubeWindow;
  const uint16_t m = c[4];
  auto all = [&](std::initializer_list<int> idx) {
    for (int n : idx)
      if (c[n] != m) return false;
    return true;
  };
  if (m == 0) return true;
  if (c[3] == m && c[7] == m && c[6] != m) return all({0, 1, 2, 5, 8});
  if (c[5] == m && c[7] == m && c[8] != m && !all({0, 1, 2, 3, 6})) return false;
  if (c[3] == m && c[1] == m && c[0] != m && !all({6, 7, 8, 5, 2})) return false;
  if (c[5] == m && c[1] == m && c[2] != m && !all({0, 3, 6, 7, 8})) return false;
  if (c[3] == m && c[5] == m && !all({6, 7, 8}) && !all({0, 1, 2})) return false;
  if (c[1] != m || c[7] != m) return true;
  if (c[6] == m && c[3] == m && c[0] == m) return true;
  if (c[8] != m || c[5] != m) return false;
  return c[2] == m;
}
