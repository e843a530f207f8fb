#include "platform/Conversions.h"

#include <gtest/gtest.h>

#include <limits>

TEST(ConversionsTest, TruncToInt32IsDefinedEverywhere) {
  struct Case {
    double in;
    int32_t out;
  } cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {0.0, 0},
      {2147483646.9, 2147483646},
      {3e9, INT32_MAX},
      {-3e9, INT32_MIN},
      {std::numeric_limits<double>::infinity(), INT32_MAX},
      {-std::numeric_limits<double>::infinity(), INT32_MIN},
      {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TruncToInt32(c.in), c.out) << c.in;
}

TEST(ConversionsTest, LowByteAndLowShortKeepTheLowBits) {
  EXPECT_EQ(LowByte(300), 44);
  EXPECT_EQ(LowByte(256), 0);
  EXPECT_EQ(LowByte(-1), 255);
  EXPECT_EQ(DoubleToLowByte(300.7), 44);
  EXPECT_EQ(DoubleToLowByte(-1.5), 255);
  EXPECT_EQ(LowShort(65535), -1);
  EXPECT_EQ(DoubleToLowShort(32768.0), -32768);
}
