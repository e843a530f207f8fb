#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "MatrixTestUtil.h"
#include "numerics/Matrix.h"

using UChar = unsigned char;

TEST(MatrixStatisticsTest, EmptyMatrixGivesZeroAndLeavesMinMaxOutputs) {
  Matrix<double> empty;
  Matrix<double> noColumns;
  noColumns.SetSize(3, 0);
  for (const Matrix<double>* m : {&empty, &noColumns}) {
    EXPECT_EQ(m->Min(), 0.0);
    EXPECT_EQ(m->Max(), 0.0);
    EXPECT_EQ(m->Sum(), 0.0);
    EXPECT_EQ(m->SumOfSquares(), 0.0);
    EXPECT_EQ(m->Mean(), 0.0);
    double lo = -7.0;
    double hi = 7.0;
    m->MinMax(&lo, &hi);
    EXPECT_EQ(lo, -7.0);
    EXPECT_EQ(hi, 7.0);
  }
}

TEST(MatrixStatisticsTest, ComputesInTheElementType) {
  // Bytes wrap modulo 256.
  EXPECT_EQ(Mat<UChar>(1, 2, {200, 100}).Sum(), 44);
  EXPECT_EQ(Mat<UChar>(1, 2, {16, 16}).SumOfSquares(), 0);  // 512 mod 256
  // 16-bit and 32-bit sums wrap.
  EXPECT_EQ(Mat<short>(1, 2, {32767, 1}).Sum(), -32768);
  EXPECT_EQ(Mat<int>(1, 2, {INT_MAX, 2}).Sum(), INT_MIN + 1);
  // Float sums stay float: each +1 is lost against 2^24.
  EXPECT_EQ(Mat<float>(1, 3, {16777216.0f, 1.0f, 1.0f}).Sum(), 16777216.0f);
  // Integer means truncate.
  EXPECT_EQ(Mat<int>(1, 2, {1, 2}).Mean(), 1);
  EXPECT_EQ(Mat<int>(1, 2, {-1, -2}).Mean(), -1);
  // Bool: the sum is "or"; the mean is true only for a single true element.
  EXPECT_TRUE(Mat<bool>(1, 3, {false, true, true}).Sum());
  EXPECT_FALSE(Mat<bool>(1, 2, {true, true}).Mean());
  EXPECT_TRUE(Mat<bool>(1, 1, {true}).Mean());
  // Complex: complex squares and part-wise mean.
  vexl_Complex sq = Mat<vexl_Complex>(1, 1, {vexl_Complex(1, 2)}).SumOfSquares();
  EXPECT_EQ(sq.re, -3.0);
  EXPECT_EQ(sq.im, 4.0);
  vexl_Complex mean = Mat<vexl_Complex>(1, 2, {vexl_Complex(1, 2), vexl_Complex(2, 4)}).Mean();
  EXPECT_EQ(mean.re, 1.5);
  EXPECT_EQ(mean.im, 3.0);
}

TEST(MatrixStatisticsTest, ExtremesKeepTheFirstElementAndSkipNaN) {
  Matrix<int> m = Mat<int>(1, 3, {2, 1, 1});
  EXPECT_EQ(m.Min(), 1);
  EXPECT_EQ(m.Max(), 2);
  int lo = 0;
  int hi = 0;
  Mat<int>(1, 4, {3, -5, 9, 0}).MinMax(&lo, &hi);
  EXPECT_EQ(lo, -5);
  EXPECT_EQ(hi, 9);
  // NaN never replaces the running value.
  Matrix<double> d = Mat<double>(1, 3, {1.0, NAN, 3.0});
  EXPECT_EQ(d.Max(), 3.0);
  EXPECT_EQ(d.Min(), 1.0);
  // Complex elements compare by modulus; the first of equal moduli wins.
  Matrix<vexl_Complex> c = Mat<vexl_Complex>(
      1, 4, {vexl_Complex(2, 0), vexl_Complex(0, 1), vexl_Complex(1, 0), vexl_Complex(0, -3)});
  EXPECT_EQ(c.Min().im, 1.0);
  EXPECT_EQ(c.Max().im, -3.0);
}

TEST(MatrixArithmeticTest, RemoveMeanAndNormalizeSum) {
  Matrix<int> a = Mat<int>(1, 2, {1, 2});
  a.RemoveMean();
  EXPECT_EQ(a[0], 0);
  EXPECT_EQ(a[1], 1);
  Matrix<int> zeroSum = Mat<int>(1, 2, {-1, 1});
  zeroSum.RemoveMean();
  EXPECT_EQ(zeroSum[0], -1);
  Matrix<bool> b = Mat<bool>(1, 3, {true, false, false});
  b.RemoveMean();  // the mean 1/3 is "true": every element is negated
  EXPECT_FALSE(b[0]);
  EXPECT_TRUE(b[1]);

  Matrix<double> d = Mat<double>(1, 2, {1.0, 3.0});
  d.NormalizeSum();
  EXPECT_EQ(d[0], 0.25);
  EXPECT_EQ(d[1], 0.75);
  Matrix<double> cancel = Mat<double>(1, 2, {2.0, -2.0});
  cancel.NormalizeSum();
  EXPECT_EQ(cancel[0], 2.0);
  // Integer division, truncating; a sum of -1 with INT_MIN wraps instead of trapping.
  Matrix<int> i = Mat<int>(1, 2, {7, -4});
  i.NormalizeSum();
  EXPECT_EQ(i[0], 2);
  EXPECT_EQ(i[1], -1);
  Matrix<int> extreme = Mat<int>(1, 2, {INT_MIN, INT_MAX});
  extreme.NormalizeSum();
  EXPECT_EQ(extreme[0], INT_MIN);
  EXPECT_EQ(extreme[1], -INT_MAX);
}

TEST(MatrixArithmeticTest, AbsPerElementFamily) {
  Matrix<double> d = Mat<double>(1, 4, {-2.0, 0.0, 3.0, -0.0}).Abs();
  EXPECT_EQ(d[0], 2.0);
  EXPECT_EQ(d[2], 3.0);
  EXPECT_TRUE(std::signbit(d[3]));  // -0.0 is not below 0
  Matrix<short> s = Mat<short>(1, 2, {-32768, -5}).Abs();
  EXPECT_EQ(s[0], -32768);
  EXPECT_EQ(s[1], 5);
  EXPECT_EQ(Mat<UChar>(1, 1, {250}).Abs()[0], 250);
}

TEST(MatrixArithmeticTest, ProductsDifferencesAndDivision) {
  Matrix<double> a = Mat<double>(2, 3, {1, 2, 3, 4, 5, 6});
  Matrix<double> t = a.Transpose();
  ASSERT_EQ(t.rows, 3);
  EXPECT_EQ(t(2, 1), 6.0);
  Matrix<double> p = a * t;  // [[14, 32], [32, 77]]
  ASSERT_EQ(p.rows, 2);
  ASSERT_EQ(p.cols, 2);
  EXPECT_EQ(p[0], 14.0);
  EXPECT_EQ(p[1], 32.0);
  EXPECT_EQ(p[3], 77.0);
  Matrix<double> diff = a - Mat<double>(2, 3, {1, 1, 1, 1, 1, 1});
  EXPECT_EQ(diff(1, 2), 5.0);
  Matrix<double> sq = a;
  sq *= a;
  EXPECT_EQ(sq[5], 36.0);

  // Bool product: or over k of (a and b); difference: xor.
  Matrix<bool> bp = Mat<bool>(1, 2, {true, false}) * Mat<bool>(2, 1, {false, true});
  EXPECT_FALSE(bp[0]);
  EXPECT_TRUE((Mat<bool>(1, 2, {true, true}) - Mat<bool>(1, 2, {true, false}))[1]);
  // Byte product wraps.
  EXPECT_EQ((Mat<UChar>(1, 1, {20}) * Mat<UChar>(1, 1, {13}))[0], 4);

  // Float division is done in double and rounded once.
  EXPECT_EQ((Mat<float>(1, 1, {1.0f}) / 3.0f)[0], static_cast<float>(1.0 / 3.0));
  EXPECT_EQ((Mat<int>(1, 2, {7, -7}) / 2)[1], -3);
  // Integer division by 0 leaves the values (it would trap).
  EXPECT_EQ((Mat<int>(1, 2, {7, -7}) / 0)[0], 7);
  // Complex division by a complex scalar is true complex division.
  vexl_Complex q = (Mat<vexl_Complex>(1, 1, {vexl_Complex(1, 1)}) / vexl_Complex(0, 1))[0];
  EXPECT_EQ(q.re, 1.0);
  EXPECT_EQ(q.im, -1.0);
}

TEST(MatrixArithmeticTest, DotMultiplyReportsMismatchedShapes) {
  Matrix<int> a = Mat<int>(2, 2, {1, 2, 3, 4});
  testing::internal::CaptureStderr();
  Matrix<int> same = a.DotMultiply(a);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(same[3], 16);
  testing::internal::CaptureStderr();
  Matrix<int> mixed = a.DotMultiply(Mat<int>(1, 2, {10, 20}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "DotMultiply: matricies must have same dimensions\n");
  ASSERT_EQ(mixed.rows, 2);
  EXPECT_EQ(mixed[1], 40);
  EXPECT_EQ(mixed[2], 0);  // no element of the smaller operand there
}

TEST(MatrixArithmeticTest, IdentityAndColumnIsConstant) {
  Matrix<int> id(2, 3);
  id.Fill(5);
  id.SetIdentity();
  EXPECT_EQ(id(0, 0), 1);
  EXPECT_EQ(id(1, 1), 1);
  EXPECT_EQ(id(0, 2), 0);
  EXPECT_EQ(id(1, 0), 0);

  int value = 0;
  EXPECT_TRUE(Mat<int>(1, 3, {4, 5, 6}).ColumnIsConstant(&value, 2));
  EXPECT_EQ(value, 6);
  Matrix<int> m = Mat<int>(3, 2, {1, 2, 1, 3, 1, 2});
  EXPECT_TRUE(m.ColumnIsConstant(&value, 0));
  EXPECT_FALSE(m.ColumnIsConstant(&value, 1));
  EXPECT_EQ(value, 2);
  // Complex columns are constant only when both parts agree.
  Matrix<vexl_Complex> c = Mat<vexl_Complex>(2, 1, {vexl_Complex(1, 2), vexl_Complex(1, 3)});
  vexl_Complex cv;
  EXPECT_FALSE(c.ColumnIsConstant(&cv, 0));
}

TEST(MatrixConvolve2DTest, TrueConvolutionWithZeroBorder) {
  Matrix<int> a = Mat<int>(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  struct Case {
    const char* name;
    Matrix<int> kernel;
    std::initializer_list<int> expected;
  };
  const Case cases[] = {
      {"scale", Mat<int>(1, 1, {2}), {2, 4, 6, 8, 10, 12, 14, 16, 18}},
      {"reads right", Mat<int>(1, 3, {1, 0, 0}), {2, 3, 0, 5, 6, 0, 8, 9, 0}},
      {"reads left", Mat<int>(1, 3, {0, 0, 1}), {0, 1, 2, 0, 4, 5, 0, 7, 8}},
      {"reads below", Mat<int>(3, 1, {1, 0, 0}), {4, 5, 6, 7, 8, 9, 0, 0, 0}},
      // Even extent: the centre is the lower middle index (1 of 0..3).
      {"even centre", Mat<int>(1, 4, {0, 1, 0, 0}), {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {"sum of 2x2", Mat<int>(2, 2, {1, 1, 1, 1}), {1, 3, 5, 5, 12, 16, 11, 24, 28}},
      {"empty kernel", Matrix<int>(), {0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Matrix<int> b = a.Convolve2D(c.kernel);
    ASSERT_EQ(b.rows, 3) << c.name;
    ASSERT_EQ(b.cols, 3) << c.name;
    int i = 0;
    for (int v : c.expected) EXPECT_EQ(b[i++], v) << c.name << " element " << i - 1;
  }
  // Stored in the element type at every step.
  EXPECT_EQ(Mat<UChar>(1, 1, {20}).Convolve2D(Mat<UChar>(1, 1, {13}))[0], 4);
  EXPECT_TRUE(Mat<bool>(1, 2, {false, true}).Convolve2D(Mat<bool>(1, 3, {true, false, false}))[0]);
}
