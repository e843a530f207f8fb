// HeapMatrix3D: connected components of label volumes.
//
// The work arrays (forest, marks, per-label tables) are built afresh by every call.
// The forest volumes are sized here, so they own one block in voxel order and are
// walked through flat linear indices; this volume may be a view and is read through
// its slice table.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "numerics/VectorQo.h"
#include "platform/Conversions.h"
#include "volume/ComponentForest.h"
#include "volume/HeapMatrix3D.h"

namespace {

constexpr int kLabelCount = 2000;   // entries of every per-label table
constexpr int kLabelOutside = 2001;  // answer for a label outside the tables
constexpr int kSmallComponent = 1000;

// Face neighbours, in the order in which they are tried.
constexpr int kDz[6] = {-1, 1, 0, 0, 0, 0};
constexpr int kDy[6] = {0, 0, 0, -1, 0, 1};
constexpr int kDx[6] = {0, 0, -1, 0, 1, 0};

bool InTable(int label) { return label >= 0 && label < kLabelCount; }

template <class T>
int LabelOf(T v) {
  if constexpr (std::is_floating_point_v<T>) {
    return TruncToInt32(v);
  } else {
    return static_cast<int>(v);
  }
}

// The largest label T can hold: new labels beyond it would wrap (a byte volume's 256
// would read back as 0) and could be handed out again and again.
template <class T>
int LargestStorableLabel() {
  if constexpr (std::is_integral_v<T> && sizeof(T) < sizeof(int)) {
    return std::numeric_limits<T>::max();
  } else {
    return std::numeric_limits<int>::max();
  }
}

// Position of a linear index in a volume of the given row and slice widths.
struct Position {
  int z, y, x;
};
Position PositionOf(int index, int dim1, int dim2) {
  const int plane = dim1 * dim2;
  Position p;
  p.z = index / plane;
  const int rest = index - p.z * plane;
  p.y = rest / dim2;
  p.x = rest - p.y * dim2;
  return p;
}

// The largest component of every label, recorded in scan order of the roots (a later
// root replaces the record only when strictly larger).
struct LargestPerLabel {
  std::vector<int> size = std::vector<int>(kLabelCount, 0);
  std::vector<int> root = std::vector<int>(kLabelCount, -1);
};

}  // namespace

template <class T>
void HeapMatrix3D<T>::FindRoot(const HeapMatrix3D<int>& link, int z, int y, int x, int& rootZ, int& rootY,
                               int& rootX) const {
  int v = link[z][y][x];
  while (v >= 0) {
    const Position p = PositionOf(v, link.dim1(), link.dim2());
    z = p.z;
    y = p.y;
    x = p.x;
    v = link[z][y][x];
  }
  rootZ = z;
  rootY = y;
  rootX = x;
}

template <class T>
int HeapMatrix3D<T>::ConnectedComponents(HeapMatrix3D<int>& link, HeapMatrix3D<int>& size) const {
  link.SetSize(dim0_, dim1_, dim2_);
  size.SetSize(dim0_, dim1_, dim2_);
  link.Fill(-1);
  size.Fill(1);
  if (!slices_ || link.NumElements() < 1 || size.NumElements() < 1) return -1;

  int* L = &link[0][0][0];
  int* S = &size[0][0][0];
  const int plane = dim1_ * dim2_;
  int largest = -1;
  T largestValue = T(-1);  // float and double compare the running largest in T
  int index = 0;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y)
      for (int x = 0; x < dim2_; ++x, ++index) {
        const T v = slices_[z][y][x];
        if constexpr (std::is_floating_point_v<T>) {
          if (v > largestValue) largestValue = v;
        } else {
          if (LabelOf(v) > largest) largest = LabelOf(v);
        }
        int root = index;
        if (z > 0 && slices_[z - 1][y][x] == v) {
          root = ComponentRoot(L, index - plane);
          AttachToComponent(L, S, index, root);
        }
        if (y > 0 && slices_[z][y - 1][x] == v) root = JoinComponents(L, S, root, ComponentRoot(L, index - dim2_));
        if (x > 0 && slices_[z][y][x - 1] == v) root = JoinComponents(L, S, root, ComponentRoot(L, index - 1));
      }
  if constexpr (std::is_floating_point_v<T>) largest = LabelOf(largestValue);
  return largest;
}

template <class T>
int HeapMatrix3D<T>::KeepLargestComponents(bool keepTwo) {
  HeapMatrix3D<int> link, size;
  const int result = ConnectedComponents(link, size);
  if (link.NumElements() < 1) return result;
  const int* L = &link[0][0][0];
  const int* S = &size[0][0][0];
  const int count = static_cast<int>(link.NumElements());

  LargestPerLabel best, second;
  for (int i = 0; i < count; ++i) {
    if (L[i] >= 0) continue;
    const Position p = PositionOf(i, dim1_, dim2_);
    const int label = LabelOf(slices_[p.z][p.y][p.x]);
    if (!InTable(label)) return kLabelOutside;
    if (S[i] > best.size[label]) {
      second.size[label] = best.size[label];
      second.root[label] = best.root[label];
      best.size[label] = S[i];
      best.root[label] = i;
    } else if (S[i] > second.size[label]) {
      second.size[label] = S[i];
      second.root[label] = i;
    }
  }

  constexpr int kKept = -2;
  std::vector<int> mark(static_cast<size_t>(count), -1);
  for (int label = 0; label < kLabelCount; ++label) {
    if (best.size[label] > 0) mark[best.root[label]] = kKept;
    if (keepTwo && (label == 7 || label == 8) && second.size[label] > 0) mark[second.root[label]] = kKept;
  }
  int index = 0;
  for (int z = 0; z < dim0_; ++z)
    for (int y = 0; y < dim1_; ++y)
      for (int x = 0; x < dim2_; ++x, ++index)
        if (mark[ComponentRoot(L, index)] != kKept) slices_[z][y][x] = T(0);
  return result;
}

template <class T>
int HeapMatrix3D<T>::MakeLabelsConnected(bool mergeSmall, VectorQo<short>* newLabelSource) {
  if (newLabelSource) {
    newLabelSource->SetSize(kLabelCount);
    newLabelSource->Fill(-1);
  }
  constexpr int kKept = -2;
  constexpr int kUndecided = -1;
  HeapMatrix3D<int> link, size;
  std::vector<int> mark;
  for (;;) {
    bool stable = true;
    bool changed = false;
    int last = ConnectedComponents(link, size);
    if (link.NumElements() < 1) return last;
    const int* L = &link[0][0][0];
    const int* S = &size[0][0][0];
    const int count = static_cast<int>(link.NumElements());
    auto valueAt = [this](int index) -> T& {
      const Position p = PositionOf(index, dim1_, dim2_);
      return slices_[p.z][p.y][p.x];
    };

    mark.assign(static_cast<size_t>(count), kUndecided);
    LargestPerLabel best;
    for (int i = 0; i < count; ++i) {
      if (L[i] >= 0) continue;
      const int label = LabelOf(valueAt(i));
      if (!InTable(label)) return kLabelOutside;
      if (S[i] > best.size[label]) {
        best.size[label] = S[i];
        best.root[label] = i;
      }
    }
    for (int label = 0; label < kLabelCount; ++label)
      if (best.size[label] > 0) mark[best.root[label]] = kKept;

    // Sets mark[root] to the label of the first face neighbour of voxel `index`
    // that has another value and lies in a kept component.
    auto takeNeighbour = [&](int index, int root) {
      const Position p = PositionOf(index, dim1_, dim2_);
      const T rootValue = valueAt(root);
      for (int k = 0; k < 6; ++k) {
        const int nz = p.z + kDz[k], ny = p.y + kDy[k], nx = p.x + kDx[k];
        if (!IsInside(nz, ny, nx)) continue;
        const T neighbour = slices_[nz][ny][nx];
        if (neighbour == rootValue) continue;
        if (mark[ComponentRoot(L, (nz * dim1_ + ny) * dim2_ + nx)] != kKept) continue;
        mark[root] = LabelOf(neighbour);
        return true;
      }
      return false;
    };

    int index = 0;
    for (int z = 0; z < dim0_; ++z)
      for (int y = 0; y < dim1_; ++y)
        for (int x = 0; x < dim2_; ++x, ++index) {
          const int root = ComponentRoot(L, index);
          if (mark[root] == kUndecided) {
            stable = false;
            if (!mergeSmall || S[root] >= kSmallComponent) {
              if (last >= LargestStorableLabel<T>()) return kLabelOutside;
              ++last;
              mark[root] = last;
              if (newLabelSource && InTable(last)) (*newLabelSource)[last] = LowShort(LabelOf(valueAt(root)));
            } else if (!takeNeighbour(root, root)) {
              // Around every voxel of the component, in scan order.
              for (int w = 0; w < count; ++w)
                if (ComponentRoot(L, w) == root && takeNeighbour(w, root)) break;
            }
          }
          if (mark[root] >= 0) {
            const T relabelled = static_cast<T>(mark[root]);
            if (!(slices_[z][y][x] == relabelled)) changed = true;
            slices_[z][y][x] = relabelled;
          }
        }
    if (stable || !changed) return last;
  }
}

template <class T>
bool HeapMatrix3D<T>::AreLabelsConnected() const {
  HeapMatrix3D<int> link, size;
  ConnectedComponents(link, size);
  if (link.NumElements() < 1) return true;
  const int* L = &link[0][0][0];
  const int count = static_cast<int>(link.NumElements());
  std::vector<bool> seen(kLabelCount, false);
  for (int i = 0; i < count; ++i) {
    if (L[i] >= 0) continue;
    const Position p = PositionOf(i, dim1_, dim2_);
    const int label = LabelOf(slices_[p.z][p.y][p.x]);
    if (!InTable(label)) return true;
    if (seen[label]) return false;
    seen[label] = true;
  }
  return true;
}

// The component members are instantiated here; the rest of the class in HeapMatrix3D.cpp.
#define SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(T)                                                  \
  template void HeapMatrix3D<T>::FindRoot(const HeapMatrix3D<int>&, int, int, int, int&, int&, int&) \
      const;                                                                                        \
  template int HeapMatrix3D<T>::ConnectedComponents(HeapMatrix3D<int>&, HeapMatrix3D<int>&) const;  \
  template int HeapMatrix3D<T>::KeepLargestComponents(bool);                                        \
  template int HeapMatrix3D<T>::MakeLabelsConnected(bool, VectorQo<short>*);                        \
  template bool HeapMatrix3D<T>::AreLabelsConnected() const;

SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(unsigned char)
SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(short)
SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(int)
SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(float)
SEGMENTER_INSTANTIATE_VOLUME_COMPONENTS(double)
