#include "features/HaarCube.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

HaarCube MakeBox(int x0, int x1, int y0, int y1, int z0, int z1, float w) {
  HaarCube b;
  b.x0 = static_cast<int16_t>(x0);
  b.x1 = static_cast<int16_t>(x1);
  b.y0 = static_cast<int16_t>(y0);
  b.y1 = static_cast<int16_t>(y1);
  b.z0 = static_cast<int16_t>(z0);
  b.z1 = static_cast<int16_t>(z1);
  b.weight = w;
  b.UpdateCount();
  return b;
}

std::vector<uint8_t> Record(const HaarCube& b) {
  std::ostringstream out;
  BinaryWriter w(out);
  b.Write(w);
  const std::string s = out.str();
  return std::vector<uint8_t>(s.begin(), s.end());
}

bool ReadRecord(const std::vector<uint8_t>& bytes, HaarCube* b) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  BinaryReader r(in);
  return b->Read(r);
}

TEST(HaarCubeTest, CountIsTheVoxelCountOrZeroForAnEmptyRange) {
  EXPECT_EQ(MakeBox(0, 1, 0, 2, 0, 3, 1).count, 24);
  EXPECT_EQ(MakeBox(2, 1, 0, 2, 0, 3, 1).count, 0);
  EXPECT_EQ(MakeBox(0, 0, 5, 4, 0, 0, 1).count, 0);
  // Past the int16 range the count stays true in memory.
  EXPECT_EQ(MakeBox(0, 39, 0, 39, 0, 39, 1).count, 64000);
}

TEST(HaarCubeTest, RecordBytesAndRoundTrip) {
  const HaarCube b = MakeBox(1, 2, -1, 3, 4, 4, -2.0f);
  // x0 x1 y0 y1 z0 z1, weight -2.0f, count 10.
  EXPECT_EQ(ToHex(Record(b)), "01000200ffff030004000400000000c00a00");
  HaarCube r;
  ASSERT_TRUE(ReadRecord(Record(b), &r));
  EXPECT_EQ(Record(r), Record(b));
  EXPECT_EQ(r.count, 10);

  // A large box stores the low 16 bits of its count and reads back with the true one.
  const HaarCube big = MakeBox(0, 39, 0, 39, 0, 39, 1.0f);
  ASSERT_TRUE(ReadRecord(Record(big), &r));
  EXPECT_EQ(r.count, 64000);
}

TEST(HaarCubeTest, ReadRejectsShortRecordsAndForeignCounts) {
  const HaarCube keep = MakeBox(0, 0, 0, 0, 0, 0, 1.0f);
  std::vector<uint8_t> bytes = Record(MakeBox(1, 2, 1, 2, 1, 2, 1.0f));
  const struct {
    const char* name;
    size_t size;
    int countByte;
  } cases[] = {{"EmptyRecord", 0, -1}, {"NoCount", 16, -1}, {"HalfCount", 17, -1}, {"CountNotFromBounds", 18, 9}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + c.size);
    if (c.countByte >= 0) cut[16] = static_cast<uint8_t>(c.countByte);
    HaarCube r = keep;
    EXPECT_FALSE(ReadRecord(cut, &r));
    EXPECT_EQ(Record(r), Record(keep));
  }
}

TEST(HaarCubeTest, CornersInIntegralOrder) {
  const HaarCube b = MakeBox(2, 5, 3, 7, 4, 9, 1.0f);
  int16_t c[24];
  b.GetCorners(c);
  const int16_t want[24] = {1, 2, 3, 5, 2, 3, 1, 7, 3, 1, 2, 9, 5, 7, 3, 1, 7, 9, 5, 2, 9, 5, 7, 9};
  EXPECT_EQ(std::vector<int16_t>(c, c + 24), std::vector<int16_t>(want, want + 24));
}

TEST(HaarCubeTest, TransformRoundsHalfUpAndTakesTheBoundingBox) {
  HaarCube b = MakeBox(0, 3, 0, 1, 0, 2, 1.0f);
  // A swap of x and y, scaled by 1.5, then shifted: corners x' = 1.5 y + 0.2, y' = x, z' = -z + 4.
  const double m[3][3] = {{0.0, 1.5, 0.0}, {1.0, 0.0, 0.0}, {0.0, 0.0, -1.0}};
  const double t[3] = {0.2, 0.0, 4.0};
  b.Transform(m, t);
  // x': 0.2 -> 0, 1.7 -> 2; y': 0..3; z': 4 and 2.
  EXPECT_EQ(b.x0, 0);
  EXPECT_EQ(b.x1, 2);
  EXPECT_EQ(b.y0, 0);
  EXPECT_EQ(b.y1, 3);
  EXPECT_EQ(b.z0, 2);
  EXPECT_EQ(b.z1, 4);
  EXPECT_EQ(b.count, 3 * 4 * 3);
}

}  // namespace
