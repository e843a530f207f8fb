#include "models/Kro_HashedMatrix3D.h"

#include <gtest/gtest.h>

#include "models/Kro_BndFace.h"

namespace {

TEST(Kro_HashedMatrix3D, CollisionsSurviveErasureOfTheInlineCell) {
  Kro_HashedMatrix3D<Kro_BndFace> store(1, false);  // one bucket: everything collides
  ASSERT_NE(store.FindOrCreate(1, 2, 3), nullptr);  // inline cell
  store.FindOrCreate(4, 5, 6)->mark = 7;            // overflow
  store.FindOrCreate(7, 8, 9)->mark = 9;            // overflow
  EXPECT_EQ(store.FindOrCreate(4, 5, 6)->mark, 7);  // found, not created again
  EXPECT_EQ(store.Count(), 3);

  EXPECT_TRUE(store.Erase(1, 2, 3));
  EXPECT_EQ(store.Find(1, 2, 3), nullptr);
  ASSERT_NE(store.Find(4, 5, 6), nullptr);
  ASSERT_NE(store.Find(7, 8, 9), nullptr);
  EXPECT_EQ(store.Find(7, 8, 9)->mark, 9);
  EXPECT_EQ(store.Count(), 2);

  EXPECT_TRUE(store.Erase(4, 5, 6));  // from the vector, the later one keeps its place
  EXPECT_FALSE(store.Erase(4, 5, 6));
  EXPECT_EQ(store.Find(7, 8, 9)->mark, 9);
  Kro_BndFace* again = store.FindOrCreate(1, 2, 3);
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->sides[0].IsFree());
  EXPECT_TRUE(again->sides[1].IsFree());
  EXPECT_EQ(store.Count(), 2);

  store.Clear();
  EXPECT_EQ(store.Count(), 0);
  EXPECT_EQ(store.Find(7, 8, 9), nullptr);
}

TEST(Kro_HashedMatrix3D, NegativeAndOversizedCoordinatesFindNothing) {
  Kro_HashedMatrix3D<Kro_BndFace> store;
  store.FindOrCreate(0, 0, 0);
  EXPECT_EQ(store.Find(-1, 0, 0), nullptr);
  EXPECT_EQ(store.Find(0, -1, 0), nullptr);
  EXPECT_FALSE(store.Erase(0, 0, -1));
  EXPECT_EQ(store.FindOrCreate(-1, 0, 0), nullptr);
  EXPECT_EQ(store.FindOrCreate(0, 32768, 0), nullptr);
  EXPECT_EQ(store.Count(), 1);
}

TEST(Kro_HashedMatrix3D, GrowingKeepsEveryElementAndItsMark) {
  Kro_HashedMatrix3D<Kro_BndFace> store(4);
  for (int n = 0; n < 5000; ++n) store.FindOrCreate(n % 17, n / 17 % 19, n / 323)->mark = static_cast<uint8_t>(n);
  EXPECT_EQ(store.Count(), 5000);
  EXPECT_GE(store.BucketCount(), 2048);
  for (int n = 0; n < 5000; n += 7) {
    Kro_BndFace* f = store.Find(n % 17, n / 17 % 19, n / 323);
    ASSERT_NE(f, nullptr) << n;
    EXPECT_EQ(f->mark, static_cast<uint8_t>(n));
  }
}

}  // namespace
