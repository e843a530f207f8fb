#include "models/Kro_Region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <vector>

#include "TopologyTestUtil.h"
#include "TestSupport.h"
#include "models/Kro_3DTopology.h"
#include "numerics/RF_uniform.h"

namespace {

HeapMatrix3D<unsigned char> Volume(int d, int h, int w) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(d, h, w);
  return v;
}

std::vector<FaceKey> WalkBack(Kro_3DTopology& t, int L, int p, int c) {
  std::vector<FaceKey> out;
  int ijk[3] = {0, 0, 0};
  ijk[p] = c;
  Kro_Region& r = t.Region(L);
  for (int a = r.SliceSecondFace(p, ijk[0], ijk[1], ijk[2]); a >= 0; a = r.FollowFaceLinkBack(p, ijk[0], ijk[1], ijk[2]))
    out.push_back({a, ijk[0], ijk[1], ijk[2]});
  return out;
}

TEST(Kro_Region, SingleVoxelRegion) {
  HeapMatrix3D<unsigned char> v = Volume(3, 3, 3);
  v(1, 1, 1) = 1;
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  Kro_Region& r = t.Region(1);

  int visits = 0;
  std::set<FaceKey> seen;
  int i = 0, j = 0, k = 0;
  for (int a = r.FirstFace(i, j, k); a >= 0; a = r.NextFace(i, j, k)) {
    ++visits;
    seen.insert({a, i, j, k});
  }
  EXPECT_EQ(visits, 12);
  EXPECT_EQ(seen.size(), 6u);

  std::vector<Kro_FaceAddress> list;
  r.ListFaces(list);
  EXPECT_EQ(list.size(), 6u);

  ASSERT_TRUE(r.BoundingBox());
  EXPECT_EQ(r.faceCount, 6);
  EXPECT_FLOAT_EQ(r.centroid[0], 1.5f);
  EXPECT_FLOAT_EQ(r.centroid[1], 1.5f);
  EXPECT_FLOAT_EQ(r.centroid[2], 1.5f);
  EXPECT_EQ(r.box.x0, 1);
  EXPECT_EQ(r.box.x1, 2);
  EXPECT_EQ(r.box.z0, 1);
  EXPECT_EQ(r.box.z1, 2);
  EXPECT_EQ(r.CountSliceFaces(0, 1), 4);
  EXPECT_EQ(r.CountSliceFaces(0, 0), 0);
  EXPECT_EQ(t.activeLabels, (std::vector<unsigned char>{0, 1}));
}

TEST(Kro_Region, LabelWithoutVoxelsHasNothing) {
  HeapMatrix3D<unsigned char> v = Volume(2, 2, 2);
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  Kro_Region& r = t.Region(5);
  int i = 0, j = 0, k = 0;
  EXPECT_EQ(r.FirstFace(i, j, k), -1);
  EXPECT_EQ(r.NextFace(i, j, k), -1);
  EXPECT_FALSE(r.BoundingBox());
  EXPECT_EQ(r.centroid[0], 0.0f);
  EXPECT_EQ(r.faceCount, 0);
  EXPECT_EQ(r.CountSliceFaces(1, 1), 0);
  std::vector<Kro_FaceAddress> contour;
  EXPECT_EQ(r.ExtractSliceContours(contour, 0, 0), 0);
  // Slices outside the lists end at once.
  i = -1;
  EXPECT_EQ(t.Region(0).SliceFirstFace(0, i, j, k), -1);
  i = 2;
  EXPECT_EQ(t.Region(0).SliceFirstFace(0, i, j, k), -1);
}

// A 1 x 1 x 3 bar of label 1: its list of slice 0 of plane axis 0 holds the six
// axis-1 faces and then the two axis-2 faces, in the order they were built.
TEST(Kro_Region, RemovingHeadTailMiddleAndOnlyFaceKeepsTheList) {
  HeapMatrix3D<unsigned char> v = Volume(1, 1, 3);
  v.Fill(1);
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  Kro_Region& r = t.Region(1);
  std::vector<FaceKey> list = {{1, 0, 0, 0}, {1, 0, 0, 1}, {1, 0, 0, 2}, {1, 0, 1, 0},
                               {1, 0, 1, 1}, {1, 0, 1, 2}, {2, 0, 0, 0}, {2, 0, 0, 3}};
  ASSERT_EQ(WalkList(t, 1, 0, 0), list);
  // Head, tail, a middle face, then everything that is left down to the only face.
  std::vector<FaceKey> order = {list[0], list[7], list[3], list[1], list[2], list[4], list[6], list[5]};
  for (const FaceKey& f : order) {
    auto [a, i, j, k] = f;
    SCOPED_TRACE(testing::Message() << "removing " << a << " " << i << " " << j << " " << k);
    ASSERT_TRUE(r.RemoveFace(0, a, i, j, k));
    EXPECT_FALSE(r.RemoveFace(0, a, i, j, k));  // no longer in the list
    list.erase(std::find(list.begin(), list.end(), f));
    EXPECT_EQ(WalkList(t, 1, 0, 0), list);
    std::vector<FaceKey> back(list.rbegin(), list.rend());
    EXPECT_EQ(WalkBack(t, 1, 0, 0), back);
  }
  EXPECT_FALSE(r.RowEntry(0, 0).head.IsFace());
  EXPECT_FALSE(r.RowEntry(0, 0).tail.IsFace());
  EXPECT_EQ(r.CountSliceFaces(0, 0), 0);
}

TEST(Kro_Region, WalksNeverClaimASideOfAnotherLabelsFace) {
  // Face (2, 0, 0, 1) lies between labels 1 and 2; region 3 owns no side of it.
  HeapMatrix3D<unsigned char> v = Volume(1, 1, 2);
  v(0, 0, 0) = 1;
  v(0, 0, 1) = 2;
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  Kro_Region& other = t.Region(3);
  EXPECT_FALSE(other.RemoveFace(0, 2, 0, 0, 1));
  other.RemoveFaceOnOtherAxes(2, 0, 0, 1);
  other.AddFace(0, 2, 0, 0, 1);  // both sides taken: nothing happens
  EXPECT_EQ(other.CountSliceFaces(0, 0), 0);
  ExpectConsistent(t);
}

TEST(Kro_Region, RingInOneSliceHasTwoContours) {
  // 1 x 5 x 5 slice: a ring of label 1 around a hole at (2, 2).
  HeapMatrix3D<unsigned char> v = Volume(1, 5, 5);
  for (int j = 1; j <= 3; ++j)
    for (int k = 1; k <= 3; ++k) v(0, j, k) = 1;
  v(0, 2, 2) = 0;
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  std::vector<Kro_FaceAddress> contour;
  EXPECT_EQ(t.Region(1).ExtractSliceContours(contour, 0, 0), 2);
  ASSERT_FALSE(contour.empty());
  EXPECT_FALSE(contour.back().IsFace());
  int separators = 0, faces = 0;
  std::set<FaceKey> distinct;
  for (const Kro_FaceAddress& f : contour) {
    if (f.IsFace()) {
      ++faces;
      distinct.insert({f.axis, f.i, f.j, f.k});
    } else {
      ++separators;
    }
  }
  EXPECT_EQ(separators, 2);
  EXPECT_EQ(faces, 16);  // 12 outer and 4 inner faces, each once
  EXPECT_EQ(distinct.size(), 16u);
  // The first contour is the outer one: it starts at the head of the list.
  EXPECT_EQ(contour[12].axis, -1);
}

// The number of closed contours of label L in every slice of every plane axis equals
// the components of L plus the holes of L in that slice (counted with
// scipy.ndimage.label), for slices without diagonal-only contacts.
TEST(Kro_Region, ContourCountsMatchComponentsAndHoles) {
  struct Slice {
    int L, p, c, contours;
    std::vector<int> mask;  // h x w, row-major
    int h, w;
  };
  std::vector<Slice> slices;
  for (uint32_t seed = 21; seed < 41; ++seed) {
    // Random boxes of labels 1 and 2 on label 0: blobs, rings and holes.
    const int ext[3] = {6, 9, 8};
    HeapMatrix3D<unsigned char> v = Volume(ext[0], ext[1], ext[2]);
    std::mt19937 rng(seed);
    for (int b = 0; b < 7; ++b) {
      int lo[3], hi[3];
      for (int a = 0; a < 3; ++a) {
        lo[a] = rng() % ext[a];
        hi[a] = std::min(ext[a] - 1, lo[a] + static_cast<int>(rng() % 5));
      }
      const unsigned char L = static_cast<unsigned char>(b % 3);
      for (int i = lo[0]; i <= hi[0]; ++i)
        for (int j = lo[1]; j <= hi[1]; ++j)
          for (int k = lo[2]; k <= hi[2]; ++k) v(i, j, k) = L;
    }
    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    for (int L = 0; L < 3; ++L)
      for (int p = 0; p < 3; ++p)
        for (int c = 0; c < ext[p]; ++c) {
          const int ua = p == 0 ? 1 : 0, va = p == 2 ? 1 : 2;  // the slice's two axes
          Slice s{L, p, c, 0, {}, ext[ua], ext[va]};
          // Padded mask: a ring outside the volume never carries L.
          auto at = [&](int u, int w) {
            if (u < 0 || w < 0 || u >= s.h || w >= s.w) return 0;
            int ijk[3];
            ijk[p] = c;
            ijk[ua] = u;
            ijk[va] = w;
            return v(ijk[0], ijk[1], ijk[2]) == L ? 1 : 0;
          };
          bool diagonal = false;
          for (int u = -1; u < s.h; ++u)
            for (int w = -1; w < s.w; ++w) {
              int a = at(u, w), b = at(u, w + 1), d = at(u + 1, w), e = at(u + 1, w + 1);
              if (a == e && b == d && a != b) diagonal = true;
            }
          if (diagonal) continue;
          for (int u = 0; u < s.h; ++u)
            for (int w = 0; w < s.w; ++w) s.mask.push_back(at(u, w));
          std::vector<Kro_FaceAddress> contour;
          s.contours = t.Region(L).ExtractSliceContours(contour, p, c);
          int seps = 0;
          for (const auto& f : contour) seps += !f.IsFace();
          EXPECT_EQ(seps, s.contours) << "every contour closes";
          slices.push_back(s);
        }
  }
  ASSERT_GT(slices.size(), 200u);
  std::ostringstream input;
  for (const Slice& s : slices) {
    input << s.h << " " << s.w;
    for (int m : s.mask) input << " " << m;
    input << "\n";
  }
  const char* script = R"(
import sys, numpy as np
from scipy import ndimage
for line in open(sys.argv[1]):
    f = [int(x) for x in line.split()]
    m = np.array(f[2:], dtype=int).reshape(f[0], f[1])
    p = np.pad(m, 1)
    comps = ndimage.label(p)[1]
    back = ndimage.label(1 - p)[1]
    print(comps + back - 1)
)";
  TempFolder tmp;
  WriteFileText(tmp.file("slices.txt"), input.str());
  ProcessResult r = RunPython(script, {tmp.file("slices.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  for (const Slice& s : slices) {
    int expected = -1;
    out >> expected;
    EXPECT_EQ(s.contours, expected) << "label " << s.L << " plane " << s.p << " slice " << s.c;
  }
}

TEST(Kro_Region, MoveFaceRandomlyTakesItsDrawsAndMovesOnlyOnPlusOne) {
  HeapMatrix3D<unsigned char> v = Volume(1, 1, 4);
  v(0, 0, 0) = 1;
  v(0, 0, 1) = 1;
  int moved = 0, kept = 0;
  for (int n = 0; n < 8; ++n) {
    // Predict the draw, then replay it.
    ResetUniformRandomForTesting();
    for (int m = 0; m < n; ++m) UniformRandom(&gUniformRandomSeed);
    RF_uniform u;
    u.Init(-1.0, 1.0, 2.0);
    const double drawn = u.Draw();
    const long long draws = UniformRandomDrawCountForTesting();

    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    ResetUniformRandomForTesting();
    for (int m = 0; m < n; ++m) UniformRandom(&gUniformRandomSeed);
    t.Region(1).MoveFaceRandomly(2, 0, 0, 2);  // face between label 1 at k = 1 and 0 at k = 2
    EXPECT_EQ(UniformRandomDrawCountForTesting(), draws);
    if (drawn > 0) {
      EXPECT_EQ(t.labels(0, 0, 2), 1);
      ++moved;
    } else {
      EXPECT_EQ(t.labels(0, 0, 2), 0);
      ++kept;
    }
    ExpectConsistent(t);
  }
  EXPECT_GT(moved, 0);
  EXPECT_GT(kept, 0);
}

TEST(Kro_Region, ContourDirectionFollowsAStraightEdge) {
  // A 1 x 4 x 6 slice whose rows 0..1 carry label 1: the edge between rows 1 and 2
  // runs along x, so the direction at a face in its middle is (0, +-1, 0).
  HeapMatrix3D<unsigned char> v = Volume(1, 4, 6);
  for (int k = 0; k < 6; ++k) {
    v(0, 0, k) = 1;
    v(0, 1, k) = 1;
  }
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  Kro_FloatPoint centre, forward, backward, dir;
  t.Region(1).ContourNeighbourCentres(0, 1, 0, 2, 3, centre, forward, backward);
  EXPECT_FLOAT_EQ(centre[0], 3.5f);
  EXPECT_FLOAT_EQ(std::abs(forward[0] - backward[0]), 3.0f);  // 1.5 each way
  EXPECT_FLOAT_EQ(forward[1], 2.0f);
  t.Region(1).ContourDirection(0, 1, 0, 2, 3, dir);
  EXPECT_NEAR(std::abs(dir[0]), 0.0, 1e-6);
  EXPECT_NEAR(std::abs(dir[1]), 1.0, 1e-6);
  EXPECT_EQ(dir[2], 0.0f);
}

// The contour-walking steps per (plane axis p, face axis a, side s), each candidate as
// (axis, di, dj, dk): the face of the third axis beyond the other voxel, the face of axis a
// straight on, the face of the third axis on the region's own voxel.
TEST(Kro_Region, ContourWalkingTablesHoldEveryStep) {
  struct Row {
    int p, a, s;
    int forward[3][4], backward[3][4];
  };
  const Row rows[] = {
      {0, 1, 0, {{2, 0, -1, +1}, {1, 0, 0, +1}, {2, 0, 0, +1}}, {{2, 0, -1, 0}, {1, 0, 0, -1}, {2, 0, 0, 0}}},
      {0, 1, 1, {{2, 0, 0, 0}, {1, 0, 0, -1}, {2, 0, -1, 0}}, {{2, 0, 0, +1}, {1, 0, 0, +1}, {2, 0, -1, +1}}},
      {0, 2, 0, {{1, 0, 0, -1}, {2, 0, -1, 0}, {1, 0, 0, 0}}, {{1, 0, +1, -1}, {2, 0, +1, 0}, {1, 0, +1, 0}}},
      {0, 2, 1, {{1, 0, +1, 0}, {2, 0, +1, 0}, {1, 0, +1, -1}}, {{1, 0, 0, 0}, {2, 0, -1, 0}, {1, 0, 0, -1}}},
      {1, 0, 0, {{2, -1, 0, +1}, {0, 0, 0, +1}, {2, 0, 0, +1}}, {{2, -1, 0, 0}, {0, 0, 0, -1}, {2, 0, 0, 0}}},
      {1, 0, 1, {{2, 0, 0, 0}, {0, 0, 0, -1}, {2, -1, 0, 0}}, {{2, 0, 0, +1}, {0, 0, 0, +1}, {2, -1, 0, +1}}},
      {1, 2, 0, {{0, 0, 0, -1}, {2, -1, 0, 0}, {0, 0, 0, 0}}, {{0, +1, 0, -1}, {2, +1, 0, 0}, {0, +1, 0, 0}}},
      {1, 2, 1, {{0, +1, 0, 0}, {2, +1, 0, 0}, {0, +1, 0, -1}}, {{0, 0, 0, 0}, {2, -1, 0, 0}, {0, 0, 0, -1}}},
      {2, 0, 0, {{1, -1, +1, 0}, {0, 0, +1, 0}, {1, 0, +1, 0}}, {{1, -1, 0, 0}, {0, 0, -1, 0}, {1, 0, 0, 0}}},
      {2, 0, 1, {{1, 0, 0, 0}, {0, 0, -1, 0}, {1, -1, 0, 0}}, {{1, 0, +1, 0}, {0, 0, +1, 0}, {1, -1, +1, 0}}},
      {2, 1, 0, {{0, 0, -1, 0}, {1, -1, 0, 0}, {0, 0, 0, 0}}, {{0, +1, -1, 0}, {1, +1, 0, 0}, {0, +1, 0, 0}}},
      {2, 1, 1, {{0, +1, 0, 0}, {1, +1, 0, 0}, {0, +1, -1, 0}}, {{0, 0, 0, 0}, {1, -1, 0, 0}, {0, 0, -1, 0}}},
  };
  Kro_3DTopology topology;  // fills the tables
  Kro_FaceStep reset;
  reset.Reset();
  std::vector<Kro_FaceStep> forward(54, reset), backward(54, reset);  // a == p stays reset
  for (const Row& r : rows)
    for (int n = 0; n < 3; ++n) {
      const int e = ((r.p * 3 + r.a) * 2 + r.s) * 3 + n;
      forward[e] = Kro_FaceStep(r.forward[n][0], r.forward[n][1], r.forward[n][2], r.forward[n][3]);
      backward[e] = Kro_FaceStep(r.backward[n][0], r.backward[n][1], r.backward[n][2], r.backward[n][3]);
    }
  auto text = [](const Kro_FaceStep& f) {
    std::ostringstream out;
    out << "(" << int(f.axis) << ", " << int(f.i) << ", " << int(f.j) << ", " << int(f.k) << ")";
    return out.str();
  };
  for (int e = 0; e < 54; ++e) {
    EXPECT_EQ(text(gContourForward[e]), text(forward[e])) << "forward entry " << e;
    EXPECT_EQ(text(gContourBackward[e]), text(backward[e])) << "backward entry " << e;
  }
}

}  // namespace
