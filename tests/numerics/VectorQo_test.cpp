#include "numerics/VectorQo.h"

#include <gtest/gtest.h>

#include <climits>

#include "MatrixTestUtil.h"

TEST(VectorQoTest, ConstructionAndAssignment) {
  VectorQo<double> v(4, 0.5);
  EXPECT_EQ(v.rows, 1);
  EXPECT_EQ(v.cols, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], 0.5);
  VectorQo<int> none(0);
  EXPECT_EQ(none.rows, 1);
  EXPECT_EQ(none.cols, 0);
  EXPECT_EQ(none.data, nullptr);

  VectorQo<double> copy(v);
  VectorQo<double> assigned(2);
  assigned = v;
  v[0] = 9.0;
  EXPECT_EQ(copy.cols, 4);
  EXPECT_EQ(copy[0], 0.5);
  EXPECT_EQ(assigned.cols, 4);
  EXPECT_EQ(assigned[0], 0.5);
}

TEST(VectorQoTest, ArgMaxAndMaxIndex) {
  EXPECT_EQ(Vec<int>({3, 7, 7, 1}).ArgMax(), 1);
  EXPECT_EQ(VectorQo<float>().ArgMax(), -1);
  EXPECT_EQ(MaxIndex(VectorQo<double>()), -1);
  EXPECT_EQ(MaxIndex(Vec<double>({0.1, 0.1})), 0);
  EXPECT_EQ(MaxIndex(Vec<double>({0.1, 0.5, 0.2})), 1);
  // float(0.1) rounds up, so a slightly larger double does not replace it
  // (ArgMax, in double, does take it).
  EXPECT_EQ(MaxIndex(Vec<double>({0.1, 0.1000000001})), 0);
  EXPECT_EQ(Vec<double>({0.1, 0.1000000001}).ArgMax(), 1);
  EXPECT_EQ(MaxIndex(Vec<double>({0.1, 0.1000001})), 1);
}

TEST(VectorQoTest, SumQuotientAndProduct) {
  VectorQo<int> s = Vec<int>({1, INT_MAX}) + Vec<int>({2, 1});
  EXPECT_EQ(s[0], 3);
  EXPECT_EQ(s[1], INT_MIN);
  VectorQo<double> q = Vec<double>({1.0, 3.0}) / 4.0;
  EXPECT_EQ(q[1], 0.75);
  VectorQo<double> p = Vec<double>({1.0, 3.0}) * 0.5;
  EXPECT_EQ(p.cols, 2);
  EXPECT_EQ(p[1], 1.5);
}

TEST(VectorQoTest, ConvolvePlainAndCircular) {
  VectorQo<int> v = Vec<int>({1, 0, 0, 0});
  Matrix<int> taps = Mat<int>(1, 3, {1, 2, 3});
  VectorQo<int> plain = v.Convolve(taps, false);
  VectorQo<int> circular = v.Convolve(taps, true);
  const int expectPlain[] = {2, 3, 0, 0};
  const int expectCircular[] = {2, 3, 0, 1};
  ASSERT_EQ(plain.cols, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(plain[i], expectPlain[i]) << i;
    EXPECT_EQ(circular[i], expectCircular[i]) << i;
  }
  // A kernel longer than 200 n + 1 still wraps (every tap lands on the one element).
  Matrix<double> longKernel(1, 205);
  longKernel.Fill(1.0);
  EXPECT_EQ(Vec<double>({2.0}).Convolve(longKernel, true)[0], 410.0);
  // Kernel elements are read in row-major order whatever its shape.
  EXPECT_EQ(v.Convolve(Mat<int>(3, 1, {1, 2, 3}), false)[1], 3);
}
