// Raster: label images. 4-connected components by union-find, relabelling so that
// every value forms one region, merging of small components, renumbering.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <type_traits>
#include <vector>

#include "platform/Conversions.h"
#include "volume/ComponentForest.h"
#include "volume/Raster.h"
#include "volume/RasterPixels.h"

namespace {

constexpr int kLabelCount = 2000;    // entries of the per-label tables
constexpr int kLabelOutside = 2001;  // answer for a value outside the tables
constexpr int kSmallComponent = 900;

// (row, column) offsets, in the order in which they are tried.
constexpr int kEdgeDr[4] = {0, -1, 0, 1};
constexpr int kEdgeDc[4] = {-1, 0, 1, 0};
constexpr int kDiagDr[4] = {1, -1, -1, 1};
constexpr int kDiagDc[4] = {-1, -1, 1, 1};

bool InTable(int label) { return label >= 0 && label < kLabelCount; }

// The largest label a pixel can hold.
template <class T>
int LargestStorableLabel() {
  return std::is_same_v<T, unsigned char> ? 255 : std::numeric_limits<int>::max();
}

// A component number or rank as a pixel: bytes saturate at 255.
template <class T>
T LabelPixel(int label) {
  if constexpr (std::is_same_v<T, unsigned char>) {
    return static_cast<unsigned char>(std::clamp(label, 0, 255));
  } else {
    return static_cast<T>(label);
  }
}

}  // namespace

template <class T>
bool Raster<T>::IsDiagonallyConnected(int row, int col) const {
  if (row < 0 || row >= rows || col < 0 || col >= cols) return false;
  const T p = rowTable[row][col];
  for (int k = 0; k < 4; ++k) {
    const int r = row + kEdgeDr[k], c = col + kEdgeDc[k];
    if (r >= 0 && r < rows && c >= 0 && c < cols && rowTable[r][c] == p) return false;
  }
  int equal = 0;
  for (int k = 0; k < 4; ++k) {
    const int r = row + kDiagDr[k], c = col + kDiagDc[k];
    if (r >= 0 && r < rows && c >= 0 && c < cols && rowTable[r][c] == p) ++equal;
  }
  return equal >= 2;
}

template <class T>
void Raster<T>::CleanBoundary() {
  for (int r = 0; r + 1 < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      const T p = rowTable[r][c];
      T* below = rowTable[r + 1];
      if (c - 1 >= 0 && below[c - 1] == p && below[c] != p && rowTable[r][c - 1] != p &&
          !IsDiagonallyConnected(r + 1, c))
        below[c] = p;
      if (c + 1 < cols && below[c + 1] == p && below[c] != p && rowTable[r][c + 1] != p &&
          !IsDiagonallyConnected(r + 1, c))
        below[c] = p;
    }
}

template <class T>
int Raster<T>::ConnectedComponents(Matrix<int>& link, Matrix<int>& size) const {
  link.SetSize(rows, cols);
  size.SetSize(rows, cols);
  link.Fill(-1);
  size.Fill(1);
  int result = -1;
  if (data == nullptr || link.data == nullptr) return result;
  int* L = link.data;
  int* S = size.data;
  int index = 0;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c, ++index) {
      const T v = rowTable[r][c];
      if (v > result) result = PixelLabel(v);
      int root = index;
      if (r >= 1 && rowTable[r - 1][c] == v) {
        root = ComponentRoot(L, index - cols);
        AttachToComponent(L, S, index, root);
      }
      if (c >= 1 && rowTable[r][c - 1] == v) root = JoinComponents(L, S, root, ComponentRoot(L, index - 1));
    }
  return result;
}

template <class T>
int Raster<T>::FindRoot(const Matrix<int>& link, int row, int col, int& rootRow, int& rootCol) const {
  int entry = link.rowTable[row][col];
  while (entry >= 0) {
    link.IndexToRowCol(entry, &row, &col);
    entry = link.rowTable[row][col];
  }
  rootRow = row;
  rootCol = col;
  return entry;
}

template <class T>
int Raster<T>::RangeAtOrAbove(int level) {
  if (data == nullptr) return 0;
  const int64_t n = static_cast<int64_t>(rows) * cols;
  // The distinct values in increasing order; a value's label is its place + 1.
  std::vector<int> values;
  for (int64_t i = 0; i < n; ++i)
    if (PixelLabel(data[i]) >= level) values.push_back(PixelLabel(data[i]));
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  if (values.empty()) return 0;
  for (int64_t i = 0; i < n; ++i) {
    const int v = PixelLabel(data[i]);
    if (v < level) continue;
    const auto place = std::lower_bound(values.begin(), values.end(), v) - values.begin();
    data[i] = LabelPixel<T>(static_cast<int>(place) + 1);
  }
  return static_cast<int>(values.size());
}

template <class T>
int Raster<T>::MakeLabelsConnected(bool mergeSmall, VectorQo<short>* labelMap) {
  CleanBoundary();
  if (labelMap) {
    labelMap->SetSize(kLabelCount);
    labelMap->Fill(-1);
  }
  constexpr int kKept = -2;
  constexpr int kUndecided = -1;
  Matrix<int> link, size;
  std::vector<int> label;
  for (;;) {
    bool stable = true;
    bool changed = false;
    int last = ConnectedComponents(link, size);
    if (link.data == nullptr) return last;
    const int* L = link.data;
    const int* S = size.data;
    const int count = rows * cols;

    label.assign(static_cast<size_t>(count), kUndecided);
    std::vector<int> bestSize(kLabelCount, 0), bestRoot(kLabelCount, -1);
    for (int i = 0; i < count; ++i) {
      if (L[i] >= 0) continue;
      const int v = PixelLabel(data[i]);
      if (!InTable(v)) return kLabelOutside;
      if (S[i] > bestSize[v]) {
        bestSize[v] = S[i];
        bestRoot[v] = i;
      }
    }
    for (int v = 0; v < kLabelCount; ++v)
      if (bestSize[v] > 0) label[bestRoot[v]] = kKept;

    // Gives label[root] the value of the first edge neighbour of pixel `index` that
    // differs from the root's value and lies in a kept component.
    auto takeNeighbour = [&](int index, int root) {
      const int r = index / cols, c = index % cols;
      for (int k = 0; k < 4; ++k) {
        const int nr = r + kEdgeDr[k], nc = c + kEdgeDc[k];
        if (nr < 0 || nr >= rows || nc < 0 || nc >= cols) continue;
        const int n = nr * cols + nc;
        if (data[n] == data[root] || label[ComponentRoot(L, n)] != kKept) continue;
        label[root] = PixelLabel(data[n]);
        return true;
      }
      return false;
    };

    for (int i = 0; i < count; ++i) {
      const int root = ComponentRoot(L, i);
      if (label[root] == kUndecided) {
        stable = false;
        if (!mergeSmall || S[root] >= kSmallComponent) {
          if (last >= LargestStorableLabel<T>()) return kLabelOutside;
          ++last;
          label[root] = last;
          if (labelMap && InTable(last)) (*labelMap)[last] = LowShort(PixelLabel(data[root]));
        } else if (!takeNeighbour(root, root)) {
          for (int w = 0; w < count; ++w)
            if (ComponentRoot(L, w) == root && takeNeighbour(w, root)) break;
        }
      }
      if (label[root] >= 0) {
        const T relabelled = static_cast<T>(label[root]);
        if (!(data[i] == relabelled)) changed = true;
        data[i] = relabelled;
      }
    }
    if (stable || !changed) return last;
  }
}

template <class T>
int Raster<T>::KeepMainComponent(short minSize) {
  Matrix<int> link, size;
  ConnectedComponents(link, size);
  if (data == nullptr) return 0;
  const int count = rows * cols;
  const int* L = link.data;

  // Component numbers in first-pixel order, kept as ints so that no count is bounded
  // by the pixel type.
  std::vector<int> number(static_cast<size_t>(count), 0);
  std::vector<int> rootNumber(static_cast<size_t>(count), 0);
  int components = 0;
  int positive = 0;
  for (int i = 0; i < count; ++i) {
    if (!(data[i] > T(0))) continue;
    const int root = ComponentRoot(L, i);
    if (rootNumber[root] == 0) rootNumber[root] = ++components;
    number[i] = rootNumber[root];
    ++positive;
  }
  if (components <= 1 || positive <= minSize) {
    for (int i = 0; i < count; ++i)
      if (number[i] > 0) data[i] = T(1);
    return std::min(components, 1);
  }

  std::vector<int> pixels(static_cast<size_t>(components) + 1, 0);
  std::vector<std::set<int>> adjacent(static_cast<size_t>(components) + 1);
  for (int i = 0; i < count; ++i) {
    const int a = number[i];
    if (a == 0) continue;
    const int c = i % cols;
    const int right = c + 1 < cols ? number[i + 1] : 0;
    const int below = i + cols < count ? number[i + cols] : 0;
    for (int b : {right, below})
      if (b > 0 && b != a) {
        adjacent[a].insert(b);
        adjacent[b].insert(a);
      }
    ++pixels[a];
  }

  // Merge the first small component into its first adjacent live one, again and again.
  // A component passed over never qualifies again (counts only grow, or drop to 0 when
  // merged), so the search resumes where it stopped.
  std::vector<int> mergedInto(static_cast<size_t>(components) + 1);
  for (int k = 0; k <= components; ++k) mergedInto[k] = k;
  for (int k = 1; k <= components; ++k) {
    if (!(pixels[k] >= 1 && pixels[k] < minSize)) continue;
    int target = -1;
    for (int j : adjacent[k])
      if (j != k && pixels[j] >= 1) {
        target = j;
        break;
      }
    if (target < 0) {
      pixels[k] = minSize;  // no live neighbour: kept as it is
      continue;
    }
    pixels[target] += pixels[k];
    pixels[k] = 0;
    mergedInto[k] = target;
    const std::vector<int> neighbours(adjacent[k].begin(), adjacent[k].end());
    for (int m : neighbours) {
      adjacent[target].insert(m);
      adjacent[m].insert(target);
    }
  }

  std::vector<int> renumbered(static_cast<size_t>(components) + 1, 0);
  int kept = 0;
  for (int k = 1; k <= components; ++k)
    if (pixels[k] > 0) renumbered[k] = ++kept;
  for (int i = 0; i < count; ++i) {
    int k = number[i];
    if (k == 0) continue;
    while (pixels[k] == 0) k = mergedInto[k];
    data[i] = LabelPixel<T>(renumbered[k]);
  }
  return kept;
}

// The label members are instantiated here; the rest of the class in Raster.cpp.
#define SEGMENTER_INSTANTIATE_RASTER_LABELS(T)                                         \
  template bool Raster<T>::IsDiagonallyConnected(int, int) const;                      \
  template void Raster<T>::CleanBoundary();                                            \
  template int Raster<T>::ConnectedComponents(Matrix<int>&, Matrix<int>&) const;       \
  template int Raster<T>::FindRoot(const Matrix<int>&, int, int, int&, int&) const;    \
  template int Raster<T>::RangeAtOrAbove(int);                                         \
  template int Raster<T>::MakeLabelsConnected(bool, VectorQo<short>*);                 \
  template int Raster<T>::KeepMainComponent(short);

SEGMENTER_INSTANTIATE_RASTER_LABELS(unsigned char)
SEGMENTER_INSTANTIATE_RASTER_LABELS(float)
