#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(TestSupportTest, MaskTimesMasksSecondsAndMinutesOnly) {
  EXPECT_EQ(MaskTimes("  i= 1  best=   12 e=0.250 f (time=0.031s)\n"), "  i= 1  best=   12 e=0.250 f (time=#s)\n");
  EXPECT_EQ(MaskTimes("total 1.5min, -2.25s, 3s, v1.2"), "total #min, #s, 3s, v1.2");
}
