// The feature pool: order, fields and descriptions of every family, and the context
// offsets. These are part of the stored-model format.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "FeatureTestSupport.h"
#include "features/Object3DSample.h"

namespace {

int CountKind(const std::vector<PbtFid>& pool, char kind) {
  int n = 0;
  for (const PbtFid& f : pool) n += f.kind == static_cast<uint8_t>(kind);
  return n;
}

// First and last entry of one kind.
std::pair<const PbtFid*, const PbtFid*> Ends(const std::vector<PbtFid>& pool, char kind) {
  const PbtFid* first = nullptr;
  const PbtFid* last = nullptr;
  for (const PbtFid& f : pool)
    if (f.kind == static_cast<uint8_t>(kind)) {
      if (!first) first = &f;
      last = &f;
    }
  return {first, last};
}

// A plain sample with a given radius builds the edge pool (with profiles).
class EdgeSample : public Edg3DSample {
 public:
  explicit EdgeSample(int radius) {
    boxSpan = 2 * radius;
    boxWidth = boxHeight = boxDepth = 2 * radius + 1;
  }
};

TEST(Edg3DSamplePool, VersionOneOrderWithContext) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(9, 5);
  const std::vector<PbtFid>& pool = sample.featurePool;
  ASSERT_GT(pool.size(), 1u + 2 + 10 + 486 + 1250 * 9);
  EXPECT_EQ(pool[0].kind, 't');
  EXPECT_STREQ(pool[0].getDescription(), "atlas");
  for (int i = 1; i <= 2; ++i) EXPECT_EQ(pool[i].kind, 'I') << i;
  for (int i = 3; i <= 12; ++i) EXPECT_EQ(pool[i].kind, 'L') << i;
  for (int i = 13; i < 13 + 486; ++i) ASSERT_EQ(pool[i].kind, 'D') << i;
  const size_t contextStart = pool.size() - 1250 * 9;
  for (size_t i = 13 + 486; i < contextStart; ++i) ASSERT_EQ(pool[i].kind, 'H') << i;
  for (size_t i = contextStart; i < pool.size(); ++i) {
    ASSERT_EQ(pool[i].kind, 'O') << i;
    // Offset-major, map-minor.
    ASSERT_EQ(pool[i].params[0], static_cast<int>((i - contextStart) / 9)) << i;
    ASSERT_EQ(pool[i].params[1], static_cast<int>((i - contextStart) % 9)) << i;
    ASSERT_EQ(pool[i].params[5], 4) << i;
  }
  for (const PbtFid& f : pool) ASSERT_EQ(f.poolIndex, -1);
}

TEST(Edg3DSamplePool, VersionZeroOrderAndContextSwitch) {
  {
    ScopedFeatureFlags flags(0, 1);
    Object3DSample sample(4, 2);
    const std::vector<PbtFid>& pool = sample.featurePool;
    EXPECT_EQ(pool[0].kind, 'I');
    EXPECT_EQ(pool[2].kind, 'L');
    EXPECT_EQ(pool[12].kind, 'D');
    EXPECT_EQ(CountKind(pool, 't'), 0);
    EXPECT_EQ(CountKind(pool, 'O'), 5000);
    EXPECT_EQ(sample.contextOffsets.size(), 1250u);
    EXPECT_EQ(pool.back().kind, 'O');
  }
  {
    ScopedFeatureFlags flags(1, 0);
    Object3DSample sample(4, 2);
    EXPECT_EQ(CountKind(sample.featurePool, 'O'), 0);
    EXPECT_TRUE(sample.contextOffsets.empty());
    // Without context the table is left as it was.
    sample.contextOffsets.push_back({7, 7, 7});
    sample.addContextFeatures();
    EXPECT_EQ(sample.contextOffsets.size(), 1u);
  }
  {
    ScopedFeatureFlags flags(5, 1);
    Object3DSample sample(4, 2);
    EXPECT_EQ(sample.featurePool.size(), 5000u);
  }
}

TEST(Edg3DSamplePool, ContextOffsetTable) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample few(4, 1);
  const auto& t = few.contextOffsets;
  ASSERT_EQ(t.size(), 1250u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(t[i], (std::array<int, 3>{0, 0, 1})) << i;
  // radius 1, theta 30, phi 0: (trunc(0.5 + 0.5), 0, trunc(0.866 + 0.5))
  EXPECT_EQ(t[12], (std::array<int, 3>{1, 0, 1}));
  // radius 1, theta 150, phi 180: x = -0.5 + 0.5 = 0, z = -0.866 + 0.5 truncates to 0
  EXPECT_EQ(t[5 * 12 + 6], (std::array<int, 3>{0, 0, 0}));
  // radius 46, theta 150, phi 330 (the last spherical offset)
  EXPECT_EQ(t[1223], (std::array<int, 3>{20, -11, -39}));
  EXPECT_EQ(t[1224], (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(t[1225], (std::array<int, 3>{-2, -2, -2}));
  EXPECT_EQ(t[1226], (std::array<int, 3>{-1, -2, -2}));
  EXPECT_EQ(t[1249], (std::array<int, 3>{2, -2, 2}));

  Object3DSample many(10, 1);
  ASSERT_EQ(many.contextOffsets.size(), 86u);
  EXPECT_EQ(CountKind(many.featurePool, 'O'), 860);
  // radius 11, theta 60, phi 90: (0, trunc(9.526 + 0.5), trunc(5.5 + 0.5))
  EXPECT_EQ(many.contextOffsets[12 + 4 + 1], (std::array<int, 3>{0, 10, 6}));
}

TEST(Edg3DSamplePool, FirstAndLastDescriptionOfEveryFamily) {
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(4, 5);
  EdgeSample edge(5);
  edge.buildFeaturePool();
  edge.addShapeFeatures();
  edge.addCurvatureFeatures();
  struct Case {
    const std::vector<PbtFid>* pool;
    char kind;
    const char* first;
    const char* last;
  };
  const Case cases[] = {
      {&sample.featurePool, 't', "atlas", "atlas"},
      {&sample.featurePool, 'I', "intensity feature", "gradient feature"},
      {&sample.featurePool, 'L', "location feature: x location", "location feature: x+y+z location"},
      {&sample.featurePool, 'D', "derivative feature: subtype=0, index= 0, depth=-2, height=-2, width=-2",
       "derivative feature: subtype=2, index= 5, depth=2, height=2, width=2"},
      {&sample.featurePool, 'O', "context probability 0, 0, 1", "context probability 2, -2, 2"},
      {&edge.featurePool, '1', "1D features with the gradient direction: type=0, subtype=0, index= 1",
       "1D features with the gradient direction: type=2, subtype=3, index= 4"},
      {&edge.featurePool, 'S', "Shape index feature", "Shape index feature"},
      {&edge.featurePool, 'V', "curvedness feature", "curvedness feature"},
      {&edge.featurePool, 'C', "3D Curvature feature: f_x", "3D Curvature feature: mean"},
  };
  for (const Case& c : cases) {
    const auto ends = Ends(*c.pool, c.kind);
    ASSERT_NE(ends.first, nullptr) << c.kind;
    EXPECT_STREQ(ends.first->getDescription(), c.first) << c.kind;
    EXPECT_STREQ(ends.second->getDescription(), c.last) << c.kind;
  }
}

TEST(Edg3DSamplePool, FieldsOfTheFamilies) {
  EdgeSample edge(5);
  edge.buildFeaturePool();
  edge.addCurvatureFeatures();
  const std::vector<PbtFid>& pool = edge.featurePool;
  EXPECT_EQ(CountKind(pool, 'L'), 10);
  EXPECT_EQ(CountKind(pool, '1'), 3 * 4 * 4);
  EXPECT_EQ(CountKind(pool, 'C'), 16);
  // Location first in the edge pool, then intensity.
  EXPECT_EQ(pool[0].kind, 'L');
  EXPECT_EQ(pool[10].kind, 'I');
  // Derivative entry 1 * 162 + 4 * 27 + 13 = subtype 1, index 4, offsets (0, 0, 0).
  const PbtFid& d = pool[12 + 162 + 4 * 27 + 13];
  EXPECT_EQ(d.kind, 'D');
  EXPECT_EQ(d.subtype, 1);
  EXPECT_EQ(d.index, 4);
  EXPECT_EQ(d.offset[0], 0);
  EXPECT_EQ(d.offset[1], 0);
  EXPECT_EQ(d.offset[2], 0);
  const PbtFid& d2 = pool[12 + 5];  // subtype 0, index 0, offsets (-2, 0, 2)
  EXPECT_EQ(d2.offset[0], -2);
  EXPECT_EQ(d2.offset[1], 0);
  EXPECT_EQ(d2.offset[2], 2);
  // A plain sample (box span 0) and radius 1 have no profile entries.
  for (int radius : {0, 1}) {
    EdgeSample small(radius);
    small.buildFeaturePool();
    EXPECT_EQ(CountKind(small.featurePool, '1'), 0) << radius;
  }
  Edg3DSample plain;
  plain.buildFeaturePool();
  EXPECT_EQ(CountKind(plain.featurePool, '1'), 0);
}

TEST(Edg3DSamplePool, HaarEntriesPerVersionAndRadius) {
  struct Case {
    int version, radius, haar;
  };
  // Radius 1: only types 0, 1, 2 of the full box (type 3 is degenerate and ends the
  // loop). Radius 2: version 1 adds variants 4, 5, 6 of the one full single box.
  const Case cases[] = {{0, 1, 3}, {1, 1, 3}, {0, 2, 35}, {1, 2, 38}};
  for (const Case& c : cases) {
    ScopedFeatureFlags flags(c.version, 0);
    Object3DSample sample(4, c.radius);
    EXPECT_EQ(CountKind(sample.featurePool, 'H'), c.haar) << c.version << " " << c.radius;
    EXPECT_EQ(sample.haarFilters.size(), static_cast<size_t>(c.haar));
    // Entries name their filter by list position.
    int position = 0;
    for (const PbtFid& f : sample.featurePool) {
      if (f.kind != 'H') continue;
      EXPECT_EQ(f.index, position++);
    }
  }
  // Rebuilding the pool replaces the filters instead of adding to them.
  ScopedFeatureFlags flags(1, 1);
  Object3DSample sample(4, 2);
  const size_t size = sample.featurePool.size();
  sample.buildFeaturePool();
  EXPECT_EQ(sample.featurePool.size(), size);
  EXPECT_EQ(sample.haarFilters.size(), 38u);
}

TEST(Edg3DSamplePool, AlternativeContextFamily) {
  ScopedFeatureFlags flags(1, 1);
  gContextFeatureMode = 1;
  Edg3DSample sample;
  sample.numContextMaps = 2;
  sample.addContextFeatures();
  // 5 radii x 72 + 1 near offsets, 3 x 72 far ones.
  const int k = 5 * 72 + 1, far = 3 * 72;
  ASSERT_EQ(sample.featurePool.size(), static_cast<size_t>(k * 2 + far * 2 + far * 7));
  EXPECT_EQ(sample.contextOffsets.size(), static_cast<size_t>(k + far));
  const PbtFid& last = sample.featurePool.back();
  EXPECT_EQ(last.params[5], 2);
  EXPECT_EQ(last.params[1], 7);
  EXPECT_STREQ(last.getDescription(), "mean value of raw image at (13, -7, -25) with radius 7");
  const PbtFid& mean = sample.featurePool[k * 2];
  EXPECT_EQ(mean.params[5], 3);
  EXPECT_STREQ(mean.getDescription(), "context probability mean value at 0, 0, 20");
  EXPECT_EQ(mean.params[2], 20);
}

}  // namespace
