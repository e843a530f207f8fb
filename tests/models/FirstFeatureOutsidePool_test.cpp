#include "models/FirstFeatureOutsidePool.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"

namespace {

std::vector<PbtFid> Pool(int version) {
  const int keep = gFeatureVersion;
  gFeatureVersion = version;
  gContextAvailable = 1;
  const Object3DSample sample(3, 2);
  gFeatureVersion = keep;
  return sample.featurePool;
}

TEST(FirstFeatureOutsidePool, EveryPoolEntryIsInsideWhateverItsTextAndPosition) {
  for (int version : {0, 1}) {
    std::vector<PbtFid> used = Pool(version);
    ASSERT_GT(used.size(), 4000u);  // context entries of 3 maps included
    for (PbtFid& f : used) {
      f.setDescription("renamed");
      f.poolIndex = 12345;
    }
    EXPECT_EQ(FirstFeatureOutsidePool(used, Pool(version)), -1) << version;
    EXPECT_EQ(FirstFeatureOutsidePool({}, Pool(version)), -1) << version;
  }
}

// One field of a pool entry changed takes it outside; the position of the first
// such feature is returned, also behind repeated inside features.
TEST(FirstFeatureOutsidePool, AnyComparedFieldTakesAFeatureOutside) {
  const std::vector<PbtFid> pool = Pool(1);
  const PbtFid derivative = pool[20];  // a 'D' entry
  ASSERT_EQ(derivative.kind, 'D');
  const struct Case {
    const char* name;
    std::function<void(PbtFid&)> change;
  } cases[] = {
      {"kind", [](PbtFid& f) { f.kind = 'Z'; }},
      {"params[0]", [](PbtFid& f) { f.params[0] = 1; }},
      {"params[5]", [](PbtFid& f) { f.params[5] = 4; }},
      {"index", [](PbtFid& f) { f.index = 6; }},
      {"subtype", [](PbtFid& f) { f.subtype = 3; }},
      {"offset[0]", [](PbtFid& f) { f.offset[0] = 1; }},
      {"offset[2]", [](PbtFid& f) { f.offset[2] = -3; }},
  };
  for (const auto& c : cases) {
    PbtFid changed = derivative;
    c.change(changed);
    EXPECT_EQ(FirstFeatureOutsidePool({derivative, changed, derivative, changed}, pool), 1) << c.name;
  }
  PbtFid profile;
  profile.kind = '1';
  profile.index = 1;
  EXPECT_EQ(FirstFeatureOutsidePool({profile}, pool), 0);  // profiles are not in this pool
}

TEST(FirstFeatureOutsidePool, DescriptionShowsTheComparedFields) {
  PbtFid f;
  f.kind = 'O';
  f.params[0] = 1224;
  f.params[1] = -3;
  f.params[5] = 4;
  f.index = 2147483647;
  f.subtype = -1;
  f.offset[1] = -32768;
  EXPECT_EQ(DescribeFeatureFields(f),
            "kind 'O' (79), params 1224 -3 0 0 0 4, index 2147483647, subtype -1, offset 0 -32768 0");
  f.kind = 200;
  EXPECT_EQ(DescribeFeatureFields(f).substr(0, 15), "kind (200), par");
}

}  // namespace
