// Connected components of label volumes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "numerics/VectorQo.h"
#include "volume/HeapMatrix3D.h"

namespace {

// A volume from its voxels in storage order (slice, row, column).
template <class T>
HeapMatrix3D<T> Volume(int d0, int d1, int d2, const std::vector<double>& voxels) {
  HeapMatrix3D<T> v;
  v.SetSize(d0, d1, d2);
  size_t i = 0;
  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) v[z][y][x] = static_cast<T>(voxels.at(i++));
  return v;
}

template <class T>
std::vector<double> Voxels(const HeapMatrix3D<T>& v) {
  std::vector<double> out;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) out.push_back(v[z][y][x]);
  return out;
}

// Sets the box z0..z1, y0..y1, x0..x1 (inclusive) to `value`.
template <class T>
void FillBox(HeapMatrix3D<T>& v, int z0, int z1, int y0, int y1, int x0, int x1, T value) {
  for (int z = z0; z <= z1; ++z)
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) v[z][y][x] = value;
}

int CountRoots(const HeapMatrix3D<int>& link) {
  int roots = 0;
  for (int64_t i = 0; i < link.NumElements(); ++i)
    if ((&link[0][0][0])[i] < 0) ++roots;
  return roots;
}

template <class T>
class ComponentTypesTest : public testing::Test {};
using ElementTypes = testing::Types<unsigned char, short, int, float, double>;
TYPED_TEST_SUITE(ComponentTypesTest, ElementTypes);

}  // namespace

TYPED_TEST(ComponentTypesTest, EmptyVolume) {
  HeapMatrix3D<TypeParam> v;
  HeapMatrix3D<int> link, size;
  link.SetSize(2, 2, 2);
  EXPECT_EQ(v.ConnectedComponents(link, size), -1);
  EXPECT_EQ(link.NumElements(), 0);
  EXPECT_EQ(size.NumElements(), 0);
  EXPECT_EQ(v.KeepLargestComponents(true), -1);
  EXPECT_TRUE(v.AreLabelsConnected());
  EXPECT_EQ(v.MakeLabelsConnected(true, nullptr), -1);
}

// The forest records the union rules exactly: a join through the slice below links to
// that neighbour's root (not to the neighbour) and raises its rank to 2; a join
// through the row above or the column before compares ranks, the neighbour's root
// winning a tie.
TYPED_TEST(ComponentTypesTest, ForestFollowsTheUnionRules) {
  struct Case {
    const char* name;
    int d0, d1, d2;
    std::vector<double> voxels;
    std::vector<int> link, size;
  } cases[] = {
      {"all equal 2x2x2", 2, 2, 2, {4, 4, 4, 4, 4, 4, 4, 4}, {-2, 0, 0, 0, 0, 0, 0, 0}, {8, 0, 0, 0, 0, 0, 0, 0}},
      // (1,1) joins (0,1) through z: rank 2; then (1,0) of rank 1 goes under it.
      {"z join raises rank", 2, 2, 1, {9, 5, 5, 5}, {-1, -2, 1, 1}, {1, 3, 0, 0}},
      // Along a row each new voxel hangs under the first one.
      {"row", 1, 1, 4, {3, 3, 3, 3}, {-2, 0, 0, 0}, {4, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeapMatrix3D<TypeParam> v = Volume<TypeParam>(c.d0, c.d1, c.d2, c.voxels);
    HeapMatrix3D<int> link, size;
    v.ConnectedComponents(link, size);
    EXPECT_EQ(Voxels(link), std::vector<double>(c.link.begin(), c.link.end()));
    EXPECT_EQ(Voxels(size), std::vector<double>(c.size.begin(), c.size.end()));
  }
}

TYPED_TEST(ComponentTypesTest, FaceNeighboursOnly) {
  struct Case {
    const char* name;
    std::vector<double> voxels;
    int components;
  } cases[] = {
      // 1s pairwise along edges; the 0 at (0,1,0) is cut off from the other 0s.
      {"edges", {1, 0, 0, 1, 0, 0, 1, 0}, 5},
      {"corner", {1, 0, 0, 0, 0, 0, 0, 1}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeapMatrix3D<TypeParam> v = Volume<TypeParam>(2, 2, 2, c.voxels);
    HeapMatrix3D<int> link, size;
    EXPECT_EQ(v.ConnectedComponents(link, size), 1);
    EXPECT_EQ(CountRoots(link), c.components);
    EXPECT_FALSE(v.AreLabelsConnected());
  }
  HeapMatrix3D<TypeParam> v = Volume<TypeParam>(2, 2, 2, cases[1].voxels);
  HeapMatrix3D<int> link, size;
  v.ConnectedComponents(link, size);
  int z = -1, y = -1, x = -1;
  v.FindRoot(link, 1, 1, 0, z, y, x);  // every 0 voxel hangs under the first one
  EXPECT_EQ(z * 4 + y * 2 + x, 1);
}

TEST(HeapMatrix3DComponentsTest, LargestLabel) {
  HeapMatrix3D<int> link, size;
  EXPECT_EQ(Volume<unsigned char>(1, 1, 3, {9, 4, 0}).ConnectedComponents(link, size), 9);
  EXPECT_EQ(Volume<float>(1, 1, 3, {1.5, 2.7, 2.2}).ConnectedComponents(link, size), 2);
  EXPECT_EQ(Volume<short>(1, 1, 2, {-3, -2}).ConnectedComponents(link, size), -1);
}

// Label 7: blobs of 5, 3 and 2 voxels; label 8: blobs of 4 and 2; label 6: 3 and 1;
// label 3: one blob. Blobs are separated by 0.
TEST(HeapMatrix3DComponentsTest, KeepLargestComponents) {
  const std::vector<double> row = {7, 7, 7, 7, 7, 0, 7, 7, 7, 0, 7, 7, 0, 3, 3, 0, 8, 8, 8, 8, 0, 8, 8, 0,
                                   6, 6, 6, 0, 6};
  const std::vector<double> keepOne = {7, 7, 7, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 0, 8, 8, 8, 8, 0, 0, 0, 0,
                                       6, 6, 6, 0, 0};
  const std::vector<double> keepTwo = {7, 7, 7, 7, 7, 0, 7, 7, 7, 0, 0, 0, 0, 3, 3, 0, 8, 8, 8, 8, 0, 8, 8, 0,
                                       6, 6, 6, 0, 0};
  for (bool two : {false, true}) {
    HeapMatrix3D<unsigned char> v = Volume<unsigned char>(1, 1, static_cast<int>(row.size()), row);
    EXPECT_EQ(v.KeepLargestComponents(two), 8);
    EXPECT_EQ(Voxels(v), two ? keepTwo : keepOne) << "keepTwo " << two;
  }
}

TEST(HeapMatrix3DComponentsTest, KeepLargestComponentsTieKeepsFirstRoot) {
  HeapMatrix3D<unsigned char> v = Volume<unsigned char>(1, 2, 5, {0, 0, 0, 5, 5, 5, 5, 0, 0, 0});
  v.KeepLargestComponents(false);
  EXPECT_EQ(Voxels(v), std::vector<double>({0, 0, 0, 5, 5, 0, 0, 0, 0, 0}));
}

// Labels outside the 2000-entry tables: no table is overrun, the volume is unchanged.
TEST(HeapMatrix3DComponentsTest, LabelsOutsideTheTables) {
  for (double bad : {2000.0, -1.0}) {
    SCOPED_TRACE(bad);
    const std::vector<double> voxels = {1, 1, bad, 1, 2};
    HeapMatrix3D<short> v = Volume<short>(1, 1, 5, voxels);
    EXPECT_EQ(v.KeepLargestComponents(false), 2001);
    EXPECT_EQ(Voxels(v), voxels);
    EXPECT_TRUE(v.AreLabelsConnected());
    EXPECT_EQ(v.MakeLabelsConnected(false, nullptr), 2001);
    EXPECT_EQ(Voxels(v), voxels);
    HeapMatrix3D<float> f = Volume<float>(1, 1, 5, voxels);
    EXPECT_EQ(f.KeepLargestComponents(true), 2001);
  }
}

TEST(HeapMatrix3DComponentsTest, MakeLabelsConnectedGivesNewLabels) {
  // Labels 0 .. 5; label 5 has a component of 3 voxels and a later one of 2.
  const std::vector<double> voxels = {0, 1, 5, 5, 5, 2, 3, 4, 5, 5};
  HeapMatrix3D<short> v = Volume<short>(1, 1, 10, voxels);
  EXPECT_FALSE(v.AreLabelsConnected());
  VectorQo<short> source;
  EXPECT_EQ(v.MakeLabelsConnected(false, &source), 6);
  EXPECT_EQ(Voxels(v), std::vector<double>({0, 1, 5, 5, 5, 2, 3, 4, 6, 6}));
  ASSERT_EQ(source.cols, 2000);
  EXPECT_EQ(source[6], 5);
  EXPECT_EQ(source[5], -1);
  EXPECT_EQ(source[7], -1);
  EXPECT_TRUE(v.AreLabelsConnected());
  // Already connected: nothing changes.
  EXPECT_EQ(v.MakeLabelsConnected(true, nullptr), 6);
  EXPECT_EQ(Voxels(v), std::vector<double>({0, 1, 5, 5, 5, 2, 3, 4, 6, 6}));
}

// A component of label 2 below 1000 voxels takes the label of the kept component it
// touches; one of 1000 voxels gets a new label.
TEST(HeapMatrix3DComponentsTest, MergeThresholdIsAThousandVoxels) {
  struct Case {
    int rows, cols, x0;
    bool merge;
    int result;
    short expected;
  } cases[] = {
      {27, 37, 1, true, 2, 1},    // 999 voxels: merged into the background label 1
      {25, 40, 0, true, 3, 3},    // 1000 voxels: new label 3
      {27, 37, 1, false, 3, 3},   // without merging every extra component is new
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rows * c.cols << " voxels, merge " << c.merge);
    HeapMatrix3D<short> v;
    v.SetSize(3, 40, 40);
    v.Fill(1);
    FillBox<short>(v, 0, 2, 0, 9, 0, 39, 2);                              // 1200 voxels of label 2
    FillBox<short>(v, 0, 0, 12, 12 + c.rows - 1, c.x0, c.x0 + c.cols - 1, 2);  // the extra one
    VectorQo<short> source;
    EXPECT_EQ(v.MakeLabelsConnected(c.merge, &source), c.result);
    EXPECT_EQ(v[0][12][c.x0], c.expected);
    EXPECT_EQ(v[0][5][5], 2);
    EXPECT_EQ(source[3], c.expected == 3 ? 2 : -1);
    EXPECT_TRUE(v.AreLabelsConnected());
  }
}

// A small component whose root touches no kept component looks around its other
// voxels (here the second voxel of the pair touches the kept 4s).
TEST(HeapMatrix3DComponentsTest, MergeLooksBeyondTheRoot) {
  HeapMatrix3D<unsigned char> v =
      Volume<unsigned char>(1, 1, 17, {2, 2, 2, 2, 1, 1, 1, 3, 2, 2, 4, 4, 4, 4, 3, 3, 3});
  EXPECT_EQ(v.MakeLabelsConnected(true, nullptr), 4);
  EXPECT_EQ(Voxels(v), std::vector<double>({2, 2, 2, 2, 1, 1, 1, 1, 4, 4, 4, 4, 4, 4, 3, 3, 3}));
}

// New labels that do not fit: a byte volume past 255 stops with 2001 instead of
// handing out wrapped labels for ever; a short volume writes label 2000 without a
// table entry and the next pass reports 2001.
TEST(HeapMatrix3DComponentsTest, NewLabelsRunOut) {
  HeapMatrix3D<unsigned char> bytes = Volume<unsigned char>(1, 1, 5, {255, 0, 7, 0, 7});
  VectorQo<short> source;
  EXPECT_EQ(bytes.MakeLabelsConnected(false, &source), 2001);

  HeapMatrix3D<short> shorts = Volume<short>(1, 1, 5, {1999, 0, 7, 0, 7});
  EXPECT_EQ(shorts.MakeLabelsConnected(false, &source), 2001);
  EXPECT_EQ(shorts[0][0][3], 2000);
  EXPECT_EQ(shorts[0][0][4], 2001);
  EXPECT_EQ(source.cols, 2000);
}

// Fractional float labels: a component of 2.0 next to the kept 2.7 "merges" into
// label 2 without changing; the passes stop instead of repeating for ever.
TEST(HeapMatrix3DComponentsTest, PassThatChangesNothingEndsTheLoop) {
  HeapMatrix3D<float> v = Volume<float>(1, 1, 4, {2.7, 2.7, 2.7, 2.0});
  EXPECT_EQ(v.MakeLabelsConnected(true, nullptr), 2);
  EXPECT_EQ(Voxels(v), Voxels(Volume<float>(1, 1, 4, {2.7, 2.7, 2.7, 2.0})));
}

// Cross-check with scipy.ndimage.label (face connectivity) on random label volumes:
// the number of components agrees and KeepLargestComponents keeps scipy's largest
// component of every label whose largest size is not tied.
TEST(HeapMatrix3DComponentsTest, AgreesWithScipyLabel) {
  const std::string script = R"(
import sys, numpy as np
from scipy import ndimage
path, d0, d1, d2 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
v = np.fromfile(path, dtype=np.uint8).reshape(d0, d1, d2)
total = 0
kept = np.zeros_like(v)
tied = []
for label in np.unique(v):
    comps, n = ndimage.label(v == label)
    total += n
    sizes = np.bincount(comps.ravel())[1:]
    if label == 0:
        continue
    if (sizes == sizes.max()).sum() > 1:
        tied.append(int(label))
    else:
        kept[comps == 1 + int(np.argmax(sizes))] = label
kept.tofile(path + '.kept')
print(total, int(v.max()), len(np.unique(v)), ' '.join(str(t) for t in tied))
)";
  TempFolder dir;
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fff;
  };
  struct Case {
    int d0, d1, d2, labels;
  } cases[] = {{9, 11, 13, 2}, {12, 10, 8, 3}, {5, 17, 19, 5}, {1, 30, 30, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.d0 << "x" << c.d1 << "x" << c.d2 << " labels " << c.labels);
    HeapMatrix3D<unsigned char> v;
    v.SetSize(c.d0, c.d1, c.d2);
    std::vector<uint8_t> bytes;
    for (int z = 0; z < c.d0; ++z)
      for (int y = 0; y < c.d1; ++y)
        for (int x = 0; x < c.d2; ++x) {
          v[z][y][x] = static_cast<unsigned char>(next() % c.labels);
          bytes.push_back(v[z][y][x]);
        }
    const std::string path = dir.file("labels.raw");
    WriteFileBytes(path, bytes);
    ProcessResult r =
        RunPython(script, {path, std::to_string(c.d0), std::to_string(c.d1), std::to_string(c.d2)});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream answer(r.out);
    int total = 0, largest = 0, distinct = 0;
    answer >> total >> largest >> distinct;
    std::vector<int> tied;
    for (int t; answer >> t;) tied.push_back(t);

    HeapMatrix3D<int> link, size;
    EXPECT_EQ(v.ConnectedComponents(link, size), largest);
    EXPECT_EQ(CountRoots(link), total);
    EXPECT_EQ(v.AreLabelsConnected(), total == distinct);

    HeapMatrix3D<short> wide;
    ConvertVolume(wide, v);
    EXPECT_EQ(wide.ConnectedComponents(link, size), largest);
    EXPECT_EQ(CountRoots(link), total);

    v.KeepLargestComponents(false);
    const std::vector<uint8_t> kept = ReadFileBytes(path + ".kept");
    int compared = 0;
    size_t i = 0;
    for (int z = 0; z < c.d0; ++z)
      for (int y = 0; y < c.d1; ++y)
        for (int x = 0; x < c.d2; ++x, ++i) {
          const int original = bytes[i];
          if (original == 0 || std::find(tied.begin(), tied.end(), original) != tied.end()) continue;
          ++compared;
          ASSERT_EQ(v[z][y][x], kept[i]) << "voxel " << z << "," << y << "," << x;
        }
    EXPECT_GT(compared, 0);
  }
}
