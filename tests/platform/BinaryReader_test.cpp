#include "platform/BinaryReader.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/BinaryWriter.h"

TEST(BinaryReaderTest, ReadsLittleEndianFieldsWrittenByWriter) {
  std::ostringstream out;
  BinaryWriter w(out);
  w.u8(0xAB);
  w.i16(-2);
  w.i32(0x01020304);
  w.f32(1.5f);
  w.f64(-0.25);
  ASSERT_TRUE(w.ok());
  std::string bytes = out.str();
  ASSERT_EQ(bytes.size(), 1u + 2 + 4 + 4 + 8);
  EXPECT_EQ(static_cast<uint8_t>(bytes[3]), 0x04);  // low byte of the int32 first

  std::istringstream in(bytes);
  BinaryReader r(in);
  EXPECT_EQ(r.remaining(), 19);
  uint8_t a;
  int16_t b;
  int32_t c;
  float d;
  double e;
  ASSERT_TRUE(r.u8(a) && r.i16(b) && r.i32(c) && r.f32(d) && r.f64(e));
  EXPECT_EQ(a, 0xAB);
  EXPECT_EQ(b, -2);
  EXPECT_EQ(c, 0x01020304);
  EXPECT_EQ(d, 1.5f);
  EXPECT_EQ(e, -0.25);
  EXPECT_EQ(r.remaining(), 0);
}

TEST(BinaryReaderTest, ShortReadFailsAndStaysFailed) {
  std::istringstream in(std::string("\x01\x02\x03", 3));
  BinaryReader r(in);
  int32_t v = 7;
  EXPECT_FALSE(r.i32(v));
  EXPECT_FALSE(r.ok());
  uint8_t b;
  EXPECT_FALSE(r.u8(b));  // sticky, although a byte would be there
}

TEST(BinaryReaderTest, FitsChecksCountsAgainstRemainingBytes) {
  std::istringstream in(std::string(16, '\0'));
  BinaryReader r(in);
  EXPECT_TRUE(r.fits(4, 4));
  EXPECT_TRUE(r.fits(0, 8));
  EXPECT_FALSE(r.fits(5, 4));
  EXPECT_FALSE(r.fits(-1, 4));
  EXPECT_FALSE(r.fits(INT64_MAX / 2, 8));  // would overflow
}
