#include "models/Kro_3DTopology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "TopologyTestUtil.h"

namespace {

// Visits of every list of labels 1..255: each face side of such a label lies in two lists.
int ExpectedVisits(const HeapMatrix3D<unsigned char>& v) {
  int n = 0;
  for (const FaceKey& f : BruteFaces(v)) {
    int b, a;
    BruteLabels(v, f, b, a);
    for (int L : {b, a})
      if (L >= 1 && L <= 255) n += 2;
  }
  return n;
}

std::vector<FaceKey> StoredFaces(Kro_3DTopology& t) {
  std::vector<FaceKey> out;
  for (int a = 0; a < 3; ++a) t.Store(a).ForEach([&](Kro_BndFace& f) { out.push_back({a, f.i, f.j, f.k}); });
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Kro_3DTopology, BuildMatchesBruteForceOnRandomVolumes) {
  struct Case {
    int d, h, w, labels;
    uint32_t seed;
  } cases[] = {{8, 7, 6, 4, 1}, {8, 7, 6, 4, 2}, {5, 6, 7, 2, 3}, {1, 1, 1, 1, 4}, {3, 1, 2, 3, 5}, {4, 4, 4, 1, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.d << "x" << c.h << "x" << c.w << " seed " << c.seed);
    HeapMatrix3D<unsigned char> v = RandomLabels(c.d, c.h, c.w, c.labels, c.seed);
    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    ExpectConsistent(t);
    EXPECT_EQ(t.CheckFaceLinks(), ExpectedVisits(v));
    std::vector<unsigned char> active;
    std::set<int> present;
    for (int i = 0; i < c.d; ++i)
      for (int j = 0; j < c.h; ++j)
        for (int k = 0; k < c.w; ++k) present.insert(v(i, j, k));
    for (int L : present) active.push_back(static_cast<unsigned char>(L));
    EXPECT_EQ(t.activeLabels, active);
  }
}

TEST(Kro_3DTopology, RandomChangeLabelSequencesKeepStructuresInStep) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    HeapMatrix3D<unsigned char> v = RandomLabels(8, 7, 6, 4, seed);
    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    t.CountLabelVoxels();
    std::mt19937 rng(seed);
    int done = 0;
    for (int n = 0; n < 300; ++n) {
      std::vector<FaceKey> faces = StoredFaces(t);
      auto [a, i, j, k] = faces[rng() % faces.size()];
      int step = rng() % 2 ? 1 : -1;
      HeapMatrix3D<unsigned char> before = t.labels;
      if (t.ChangeLabel(a, i, j, k, step)) {
        ++done;
      } else {
        for (int x = 0; x < v.NumElements(); ++x) ASSERT_EQ((&before(0, 0, 0))[x], (&t.labels(0, 0, 0))[x]);
      }
      if (n % 50 == 0) ExpectConsistent(t);
    }
    EXPECT_GT(done, 30);
    ExpectConsistent(t);
    EXPECT_EQ(t.CheckFaceLinks(), ExpectedVisits(t.labels));
    // Voxel counts kept by ChangeLabel equal a fresh count.
    int kept[256];
    for (int L = 0; L < 256; ++L) kept[L] = t.Region(L).voxelCount;
    t.CountLabelVoxels();
    for (int L = 0; L < 256; ++L) EXPECT_EQ(kept[L], t.Region(L).voxelCount) << L;
    // A fresh build of the resulting volume stores the same faces with the same owners.
    Kro_3DTopology fresh;
    ASSERT_TRUE(fresh.Build(t.labels));
    ASSERT_EQ(StoredFaces(fresh), StoredFaces(t));
    for (const FaceKey& f : StoredFaces(t)) {
      auto [a, i, j, k] = f;
      for (int L = 0; L < 256; ++L)
        EXPECT_EQ(t.FindFace(a, i, j, k)->OwnedSide(L) != nullptr, fresh.FindFace(a, i, j, k)->OwnedSide(L) != nullptr);
    }
  }
}

TEST(Kro_3DTopology, ChangeLabelMovesAFaceAndRemovesFacesBetweenEqualLabels) {
  // 1 x 1 x 3 row: 1 2 2. Moving the face at k = 1 by +1 makes voxel 1 take label 1.
  HeapMatrix3D<unsigned char> v;
  v.SetSize(1, 1, 3);
  v(0, 0, 0) = 1;
  v(0, 0, 1) = 2;
  v(0, 0, 2) = 2;
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  ASSERT_NE(t.FindFace(2, 0, 0, 1), nullptr);
  ASSERT_TRUE(t.ChangeLabel(2, 0, 0, 1, 1));
  EXPECT_EQ(t.labels(0, 0, 1), 1);
  EXPECT_EQ(t.FindFace(2, 0, 0, 1), nullptr);  // now between 1 and 1
  EXPECT_NE(t.FindFace(2, 0, 0, 2), nullptr);  // now between 1 and 2
  ExpectConsistent(t);
  // And back with step -1: voxel (0, 0, 1) takes the label of (0, 0, 2).
  ASSERT_TRUE(t.ChangeLabel(2, 0, 0, 2, -1));
  EXPECT_EQ(t.labels(0, 0, 1), 2);
  ExpectConsistent(t);
}

TEST(Kro_3DTopology, ChangeLabelRefusalsChangeNothing) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(1, 1, 3);
  v(0, 0, 0) = 1;
  v(0, 0, 1) = 2;
  v(0, 0, 2) = 2;
  struct Case {
    const char* what;
    int axis, i, j, k, step;
  } cases[] = {
      {"step 0", 2, 0, 0, 1, 0},
      {"step 2", 2, 0, 0, 1, 2},
      {"axis 3", 3, 0, 0, 1, 1},
      {"V outside (border face, step -1)", 2, 0, 0, 0, -1},
      {"D outside (border face, step +1)", 2, 0, 0, 0, 1},
      {"V outside beyond the last column", 2, 0, 0, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    std::vector<FaceKey> before = StoredFaces(t);
    EXPECT_FALSE(t.ChangeLabel(c.axis, c.i, c.j, c.k, c.step));
    EXPECT_EQ(StoredFaces(t), before);
    EXPECT_EQ(t.labels(0, 0, 0), 1);
    EXPECT_EQ(t.labels(0, 0, 1), 2);
    EXPECT_EQ(t.labels(0, 0, 2), 2);
  }
}

// Plane test in the plane of constant i, moving along j by +1 around V = (0, 1, 1) of a
// 1 x 3 x 3 volume: D = (0, 0, 1) holds L; the window rows are j = 1 (w0 w1 w2 at
// k = 2, 1, 0) and j = 2 (w3 w4 w5 at k = 2, 1, 0).
TEST(Kro_3DTopology, PlaneRules) {
  struct Case {
    const char* rule;
    int L, w[6];
    bool pass;
  } cases[] = {
      {"1: w4 = L cut off from w0, w2", 1, {2, 2, 2, 2, 1, 2}, false},
      {"2: w0 = w1 = w4, w3 differs", 1, {2, 2, 1, 3, 2, 0}, false},
      {"3: w1 = w2 = w4, w5 differs", 1, {1, 2, 2, 1, 2, 3}, false},
      {"4: w5 = L alone", 1, {1, 2, 3, 0, 2, 1}, false},
      {"5: w3 = L alone", 1, {3, 2, 3, 1, 2, 0}, false},
      {"6: w0 is background", 1, {0, 2, 2, 2, 2, 2}, true},
      {"7: all equal", 1, {2, 2, 2, 2, 2, 2}, true},
      {"7: row equal, beyond differs", 1, {2, 2, 2, 3, 3, 3}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    HeapMatrix3D<unsigned char> v;
    v.SetSize(1, 3, 3);
    v(0, 0, 1) = static_cast<unsigned char>(c.L);
    for (int t = 0; t < 3; ++t) {
      v(0, 1, 2 - t) = static_cast<unsigned char>(c.w[t]);
      v(0, 2, 2 - t) = static_cast<unsigned char>(c.w[3 + t]);
    }
    Kro_3DTopology topo;
    ASSERT_TRUE(topo.Build(v));
    EXPECT_EQ(topo.PlaneTestI(1, 0, 1, 1, 1), c.pass);
    for (int n = 0; n < 6; ++n) EXPECT_EQ(topo.planeWindow[n], c.w[n]);
  }
}

// Layer test around V = (0, 1, 1) of a 1 x 3 x 3 volume for axis 0: c[3r + t] = (0, r, t).
TEST(Kro_3DTopology, LayerRules) {
  struct Case {
    const char* rule;
    int c[9];
    bool pass;
  } cases[] = {
      {"1: background voxel", {2, 2, 2, 2, 0, 2, 2, 2, 2}, true},
      {"2: corner c6 missing, rest full", {1, 1, 1, 1, 1, 1, 2, 1, 1}, true},
      {"2: corner c6 missing, c0 missing", {2, 1, 1, 1, 1, 1, 2, 1, 1}, false},
      {"3: corner c8 missing with c3 missing", {1, 1, 1, 2, 1, 1, 1, 1, 2}, false},
      {"4: corner c0 missing with c7 missing", {2, 1, 1, 1, 1, 1, 1, 2, 1}, false},
      {"5: corner c2 missing with c3, c7 missing", {1, 1, 2, 2, 1, 1, 1, 2, 1}, false},
      {"6: horizontal bridge", {2, 2, 2, 1, 1, 1, 2, 2, 2}, false},
      {"7: c1 differs", {2, 2, 2, 2, 1, 2, 2, 2, 2}, true},
      {"8: left column full", {1, 1, 2, 1, 1, 2, 1, 1, 2}, true},
      {"9: vertical bridge", {2, 1, 2, 2, 1, 2, 2, 1, 2}, false},
      {"9: right column full", {2, 1, 1, 2, 1, 1, 2, 1, 1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    HeapMatrix3D<unsigned char> v;
    v.SetSize(1, 3, 3);
    for (int n = 0; n < 9; ++n) v(0, n / 3, n % 3) = static_cast<unsigned char>(c.c[n]);
    Kro_3DTopology topo;
    ASSERT_TRUE(topo.Build(v));
    EXPECT_EQ(topo.LayerTest(0, 0, 1, 1), c.pass);
  }
}

TEST(Kro_3DTopology, BuildRefusesExtentsBeyondFaceCoordinates) {
  HeapMatrix3D<unsigned char> v;
  v.SetSize(1, 1, 32768);
  Kro_3DTopology t;
  EXPECT_FALSE(t.Build(v));
  EXPECT_EQ(t.width, 0);
  EXPECT_EQ(t.FindFace(2, 0, 0, 0), nullptr);
  v.SetSize(1, 1, 32767);
  v.Fill(1);
  EXPECT_TRUE(t.Build(v));
  EXPECT_NE(t.FindFace(2, 0, 0, 32767), nullptr);
}

TEST(Kro_3DTopology, LookupsOutsideTheStoresFindNothing) {
  HeapMatrix3D<unsigned char> v = RandomLabels(3, 3, 3, 3, 7);
  Kro_3DTopology t;
  ASSERT_TRUE(t.Build(v));
  EXPECT_EQ(t.FindFace(3, 0, 0, 0), nullptr);
  EXPECT_EQ(t.FindFace(-1, 0, 0, 0), nullptr);
  EXPECT_EQ(t.FindFace(0, -1, 0, 0), nullptr);
  EXPECT_EQ(t.FindOrCreateFace(3, 0, 0, 0), nullptr);
  EXPECT_FALSE(t.RemoveFace(3, 0, 0, 0));
  int b, a;
  t.LabelsAcrossFace(b, a, 5, 1, 1, 1);
  EXPECT_EQ(b, 65535);
  EXPECT_EQ(a, 65535);
}

TEST(Kro_3DTopology, WalkingTablesAreTheSameAfterASecondConstruction) {
  Kro_3DTopology first;
  std::vector<Kro_FaceStep> a(gContourForward, gContourForward + 54);
  a.insert(a.end(), gContourBackward, gContourBackward + 54);
  a.insert(a.end(), gVoxelFaces, gVoxelFaces + 6);
  Kro_3DTopology second;
  std::vector<Kro_FaceStep> b(gContourForward, gContourForward + 54);
  b.insert(b.end(), gContourBackward, gContourBackward + 54);
  b.insert(b.end(), gVoxelFaces, gVoxelFaces + 6);
  EXPECT_EQ(a, b);
  int reset = 0;
  for (int n = 0; n < 108; ++n) reset += !a[n].IsFace();
  EXPECT_EQ(reset, 36);  // the entries of the plane's own axis
  EXPECT_TRUE(gVoxelFaces[3] == Kro_FaceStep(1, 0, 1, 0));
}

TEST(Kro_3DTopology, SetSizeKeepsTheLabelsOnlyForUnchangedExtents) {
  const HeapMatrix3D<unsigned char> v = RandomLabels(4, 5, 6, 3, 21);
  struct Case {
    const char* name;
    int d, h, w;
    bool keeps;
  } cases[] = {{"same extents", 4, 5, 6, true}, {"other extents", 4, 5, 7, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Kro_3DTopology t;
    ASSERT_TRUE(t.Build(v));
    const std::vector<unsigned char> active = t.activeLabels;
    ASSERT_FALSE(active.empty());
    ASSERT_TRUE(t.SetSize(c.d, c.h, c.w));
    // Stores and lists are empty either way.
    EXPECT_TRUE(StoredFaces(t).empty());
    int i, j, k;
    for (int L : active) EXPECT_LT(t.Region(L).FirstFace(i, j, k), 0) << L;
    EXPECT_EQ(t.width, c.w);
    ASSERT_EQ(t.labels.dim2(), c.w);
    bool same = true, zero = true;
    for (int a = 0; a < c.d; ++a)
      for (int b = 0; b < c.h; ++b)
        for (int e = 0; e < c.w; ++e) {
          same = same && e < v.dim2() && t.labels(a, b, e) == v(a, b, e);
          zero = zero && t.labels(a, b, e) == 0;
        }
    EXPECT_EQ(same, c.keeps);
    EXPECT_EQ(zero, !c.keeps);
    EXPECT_EQ(t.activeLabels, c.keeps ? active : std::vector<unsigned char>());
    if (c.keeps) {  // the kept labels build the same faces again
      t.BuildFaces();
      ExpectConsistent(t);
      EXPECT_EQ(t.CheckFaceLinks(), ExpectedVisits(v));
    }
  }
}

}  // namespace
