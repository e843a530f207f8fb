#pragma once
// Brute-force checks of a Kro_3DTopology against its label volume.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "models/Kro_3DTopology.h"

using FaceKey = std::tuple<int, int, int, int>;  // (axis, i, j, k)

inline HeapMatrix3D<unsigned char> RandomLabels(int d, int h, int w, int labels, uint32_t seed) {
  std::mt19937 rng(seed);
  HeapMatrix3D<unsigned char> v;
  v.SetSize(d, h, w);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < h; ++j)
      for (int k = 0; k < w; ++k) v(i, j, k) = static_cast<unsigned char>(rng() % labels);
  return v;
}

// Labels on the two sides of a face of volume v, 65535 outside.
inline void BruteLabels(const HeapMatrix3D<unsigned char>& v, const FaceKey& f, int& before, int& after) {
  auto [a, i, j, k] = f;
  auto at = [&](int z, int y, int x) { return v.IsInside(z, y, x) ? int(v(z, y, x)) : 65535; };
  after = at(i, j, k);
  before = at(i - (a == 0), j - (a == 1), k - (a == 2));
}

// Every face of v whose two labels differ.
inline std::set<FaceKey> BruteFaces(const HeapMatrix3D<unsigned char>& v) {
  std::set<FaceKey> out;
  const int ext[3] = {v.dim0(), v.dim1(), v.dim2()};
  for (int a = 0; a < 3; ++a)
    for (int i = 0; i <= ext[0] - (a != 0); ++i)
      for (int j = 0; j <= ext[1] - (a != 1); ++j)
        for (int k = 0; k <= ext[2] - (a != 2); ++k) {
          int b, f;
          BruteLabels(v, {a, i, j, k}, b, f);
          if (b != f) out.insert({a, i, j, k});
        }
  return out;
}

// The faces of region L in slice c of plane axis p, walked forward from the head;
// checks the back links, the tail and that every face is stored with a side of L.
inline std::vector<FaceKey> WalkList(Kro_3DTopology& t, int L, int p, int c) {
  std::vector<FaceKey> out;
  Kro_Region::SliceEntry& e = t.Region(L).RowEntry(p, c);
  Kro_FaceAddress prev, cur = e.head;
  EXPECT_FALSE(e.tail.IsFace() != e.head.IsFace());
  size_t guard = 0;
  while (cur.IsFace() && guard++ < 100000) {
    Kro_BndFace* face = t.FindFace(cur);
    EXPECT_NE(face, nullptr);
    if (!face) break;
    Kro_FaceOfRegion* side = face->OwnedSide(L);
    EXPECT_NE(side, nullptr);
    if (!side) break;
    EXPECT_TRUE(side->links[2 * p + 1] == prev) << "back link, label " << L << " p " << p << " c " << c;
    out.push_back({cur.axis, cur.i, cur.j, cur.k});
    prev = cur;
    cur = side->links[2 * p];
  }
  EXPECT_TRUE(e.tail == prev) << "tail, label " << L << " p " << p << " c " << c;
  return out;
}

// Stores hold exactly the faces whose labels differ, each side owned by exactly the
// labels across it, and every region list holds exactly its slice's faces once.
inline void ExpectConsistent(Kro_3DTopology& t) {
  const HeapMatrix3D<unsigned char>& v = t.labels;
  std::set<FaceKey> expected = BruteFaces(v);
  int stored = 0;
  for (int a = 0; a < 3; ++a) stored += t.Store(a).Count();
  EXPECT_EQ(stored, static_cast<int>(expected.size()));
  std::map<std::tuple<int, int, int>, std::set<FaceKey>> perList;  // (L, p, c)
  for (const FaceKey& f : expected) {
    auto [a, i, j, k] = f;
    Kro_BndFace* face = t.FindFace(a, i, j, k);
    ASSERT_NE(face, nullptr) << "missing face " << a << " " << i << " " << j << " " << k;
    int b, af;
    BruteLabels(v, f, b, af);
    std::multiset<int> want, have;
    for (int L : {b, af})
      if (L != 65535) want.insert(L);
    for (auto& s : face->sides)
      if (s.label >= 0) have.insert(s.label);
    EXPECT_EQ(want, have) << "sides of face " << a << " " << i << " " << j << " " << k;
    const int c3[3] = {i, j, k};
    for (int L : want)
      for (int p = 0; p < 3; ++p)
        if (p != a) perList[{L, p, c3[p]}].insert(f);
  }
  for (int L = 0; L < 256; ++L)
    for (int p = 0; p < 3; ++p)
      for (int c = 0; c < t.Extent(p); ++c) {
        std::vector<FaceKey> walked = WalkList(t, L, p, c);
        std::set<FaceKey> unique(walked.begin(), walked.end());
        EXPECT_EQ(unique.size(), walked.size()) << "face listed twice, label " << L;
        auto it = perList.find({L, p, c});
        std::set<FaceKey> want = it == perList.end() ? std::set<FaceKey>() : it->second;
        EXPECT_EQ(unique, want) << "list of label " << L << " p " << p << " c " << c;
      }
}
