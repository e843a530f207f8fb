#pragma once
// The union-find forest behind the connected-component labelling of volumes and
// rasters (HeapMatrix3D, Raster). Both keep it in two flat int blocks, one entry per
// element in scan order:
//   link[i] >= 0  the parent of element i;
//   link[i] < 0   i is a root and -link[i] is its rank;
//   size[i]       the number of elements of the component rooted at i (0 off the roots).
// Elements are visited in scan order and only joined with earlier neighbours.
#include <algorithm>

// The root of the tree that holds `index`.
inline int ComponentRoot(const int* link, int index) {
  while (link[index] >= 0) index = link[index];
  return index;
}

// Hangs the fresh single element `index` under `root`, the root of the component of
// its first earlier neighbour; the root's rank becomes at least 2.
inline void AttachToComponent(int* link, int* size, int index, int root) {
  link[index] = root;
  link[root] = -std::max(-link[root], 2);
  size[index] = 0;
  size[root] += 1;
}

// Hangs the lower-ranked of the two roots under the other; on equal ranks `current`
// goes under `other`. Returns the root that remains.
inline int JoinComponents(int* link, int* size, int current, int other) {
  if (other == current) return current;
  const int rankCurrent = -link[current];
  const int rankOther = -link[other];
  if (rankCurrent > rankOther) {
    link[other] = current;
    link[current] = -std::max(rankCurrent, rankOther + 1);
    size[current] += size[other];
    size[other] = 0;
    return current;
  }
  link[current] = other;
  link[other] = -std::max(rankOther, rankCurrent + 1);
  size[other] += size[current];
  size[current] = 0;
  return other;
}
