#include "numerics/McString.h"

#include <gtest/gtest.h>

TEST(McStringTest, LengthAndAssignment) {
  EXPECT_EQ(McString(static_cast<const char*>(nullptr)).Length(), 0);
  McString s("abc");
  EXPECT_EQ(s.Length(), 3);
  s = static_cast<const char*>(nullptr);
  EXPECT_EQ(s.Length(), 0);
  EXPECT_STREQ(s.c_str(), "");
  McString t("xyz");
  s = t;
  EXPECT_STREQ(s.c_str(), "xyz");
  McString copy(t);
  EXPECT_STREQ(copy.c_str(), "xyz");
}

TEST(McStringTest, SelfAssignmentKeepsTheText) {
  McString s("keep me");
  McString& alias = s;
  s = alias;
  EXPECT_STREQ(s.c_str(), "keep me");
  s = s.c_str();  // its own text as a character string
  EXPECT_STREQ(s.c_str(), "keep me");
  s = s.c_str() + 5;  // a tail of its own text
  EXPECT_STREQ(s.c_str(), "me");
}
