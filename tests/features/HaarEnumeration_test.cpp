#include "features/HaarEnumeration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct Pool {
  std::vector<HaarFilter3D*> filters;
  std::vector<PbtFid> fids;
  ~Pool() { DeleteHaarFilters(filters); }
};

using Enumerator = void (*)(std::vector<HaarFilter3D*>&, std::vector<PbtFid>&, int, int, int);

// Every entry names its own filter object, by position, with the filter's description.
void ExpectConsistent(const Pool& p) {
  ASSERT_EQ(p.filters.size(), p.fids.size());
  for (size_t i = 0; i < p.fids.size(); ++i) {
    const PbtFid& fid = p.fids[i];
    const HaarFilter3D& f = *p.filters[i];
    EXPECT_EQ(fid.kind, 'H');
    EXPECT_EQ(fid.index, static_cast<int>(i));
    EXPECT_EQ(f.poolPosition, static_cast<int>(i));
    EXPECT_FALSE(f.IsDegenerate()) << i;
    for (size_t j = 0; j < i && j < 4; ++j) EXPECT_NE(p.filters[i - j - 1], p.filters[i]);
    char want[160];
    if (f.type == HaarFilter3D::kSpecialType) {
      std::snprintf(want, sizeof want, "SPECIAL HAAR FEATURE: front: %i, top: %i, left: %i, depth: %i, height: %i, width: %i",
                    f.front, f.top, f.left, f.depth, f.height, f.width);
    } else {
      std::snprintf(want, sizeof want, "type: %i, front: %i, top: %i, left: %i, depth: %i, height: %i, width: %i", f.type,
                    f.front, f.top, f.left, f.depth, f.height, f.width);
    }
    EXPECT_STREQ(fid.getDescription(), want);
  }
}

TEST(HaarEnumerationTest, VersionedCountsPerRadius) {
  const struct {
    int radius, version0, version1;
  } cases[] = {{1, 3, 3}, {2, 35, 38}};
  for (const auto& c : cases) {
    const int side = 2 * c.radius + 1;
    Pool v0, v1;
    AddHaarFeaturesVersion0(v0.filters, v0.fids, side, side, side);
    AddHaarFeaturesVersion1(v1.filters, v1.fids, side, side, side);
    EXPECT_EQ(static_cast<int>(v0.fids.size()), c.version0) << c.radius;
    EXPECT_EQ(static_cast<int>(v1.fids.size()), c.version1) << c.radius;
    ExpectConsistent(v0);
    ExpectConsistent(v1);
  }
}

TEST(HaarEnumerationTest, VersionOneAddsSingleBoxVariantsOnly) {
  Pool v0, v1;
  AddHaarFeaturesVersion0(v0.filters, v0.fids, 5, 5, 5);
  AddHaarFeaturesVersion1(v1.filters, v1.fids, 5, 5, 5);
  // Version 1 is version 0 with three more entries after every single-box entry.
  size_t j = 0;
  for (size_t i = 0; i < v0.fids.size(); ++i, ++j) {
    ASSERT_LT(j, v1.fids.size());
    EXPECT_STREQ(v1.fids[j].getDescription(), v0.fids[i].getDescription());
    EXPECT_EQ(v1.fids[j].params[0], 1);
    if (v0.filters[i]->type != 9) continue;
    for (int variant : {4, 5, 6}) {
      ++j;
      EXPECT_EQ(v1.fids[j].params[0], variant);
      EXPECT_STREQ(v1.fids[j].getDescription(), v0.fids[i].getDescription());
    }
  }
  EXPECT_EQ(j, v1.fids.size());
  // Golden first and last entries of the 5 x 5 x 5 box.
  EXPECT_STREQ(v0.fids.front().getDescription(), "type: 0, front: 0, top: 0, left: 0, depth: 5, height: 5, width: 5");
  // The last size, 3 x 3 x 3, stops at its degenerate column thirds.
  EXPECT_STREQ(v0.fids.back().getDescription(), "type: 2, front: 1, top: 1, left: 1, depth: 3, height: 3, width: 3");
  EXPECT_STREQ(v1.fids.back().getDescription(), v0.fids.back().getDescription());
}

TEST(HaarEnumerationTest, VersionedTypeLoopStopsAtTheFirstDegenerateType) {
  // Side 3: type 3 (column thirds of one voxel) is degenerate, so types 4 ... 9 never
  // appear although 6 ... 9 would be usable.
  Pool p;
  AddHaarFeaturesVersion0(p.filters, p.fids, 3, 3, 3);
  ASSERT_EQ(p.filters.size(), 3u);
  for (int t = 0; t < 3; ++t) EXPECT_EQ(p.filters[t]->type, t);
  HaarFilter3D usable(6, 0, 0, 0, 3, 3, 3);
  EXPECT_FALSE(usable.IsDegenerate());
}

TEST(HaarEnumerationTest, RebuildingReplacesTheOldFilters) {
  Pool p;
  AddHaarFeaturesVersion1(p.filters, p.fids, 5, 5, 5);
  p.fids.clear();
  AddHaarFeaturesVersion0(p.filters, p.fids, 3, 3, 3);
  EXPECT_EQ(p.filters.size(), 3u);
  ExpectConsistent(p);
}

TEST(HaarEnumerationTest, EdgePoolOfSide3) {
  // Centred 3 x 3 x 3: types 0, 1, 2, 6, 7, 8, 9 (the thirds are degenerate and only
  // their own type is skipped); shifted 2 x 2 x 2 halves are all degenerate; each thin
  // family keeps the 3-voxel halves on its two free axes: 2 types x 3 sizes.
  Pool p;
  AddEdgeHaarFeatures(p.filters, p.fids, 3, 3, 3);
  EXPECT_EQ(p.fids.size(), 3u * (7 + 6 + 6 + 6));
  ExpectConsistent(p);
  for (size_t i = 0; i < p.fids.size(); ++i) {
    EXPECT_EQ(p.fids[i].params[0], static_cast<int>(i % 3) + 1);
    EXPECT_STREQ(p.fids[i].getDescription(), p.fids[i - i % 3].getDescription());
  }
  const int centredTypes[] = {0, 1, 2, 6, 7, 8, 9};
  for (int k = 0; k < 7; ++k) EXPECT_EQ(p.filters[3 * k]->type, centredTypes[k]);
  EXPECT_STREQ(p.fids.front().getDescription(), "type: 0, front: 0, top: 0, left: 0, depth: 3, height: 3, width: 3");
  EXPECT_STREQ(p.fids.back().getDescription(), "type: 1, front: 1, top: 0, left: 1, depth: 1, height: 3, width: 1");
}

int CountSpecial(const Pool& p) {
  int n = 0;
  for (const HaarFilter3D* f : p.filters) n += f->type == HaarFilter3D::kSpecialType;
  return n;
}

TEST(HaarEnumerationTest, EdgePoolHasSpecialFiltersOnlyFromSide12) {
  Pool small, large;
  AddEdgeHaarFeatures(small.filters, small.fids, 11, 11, 11);
  AddEdgeHaarFeatures(large.filters, large.fids, 12, 12, 12);
  EXPECT_EQ(CountSpecial(small), 0);
  // Outer 12 only (10 is below 12); inner 10 on an axis is degenerate, so each inner
  // extent is one of 8, 6, 4, 2: 64 filters, three entries each.
  EXPECT_EQ(CountSpecial(large), 3 * 64);
  ExpectConsistent(large);
  EXPECT_STREQ(large.fids.back().getDescription(),
               "SPECIAL HAAR FEATURE: front: 0, top: 0, left: 0, depth: 12, height: 12, width: 12");
}

}  // namespace
