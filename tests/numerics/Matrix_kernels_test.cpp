#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "MatrixTestUtil.h"
#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

namespace {

const double kCentre = 0.3989422804014327;   // 1 / sqrt(2 pi)
const double kNeighbour = 0.24197072451914337;  // G(1; 1)

void ExpectRelative(double actual, double expected, const std::string& what) {
  EXPECT_NEAR(actual, expected, 1e-12 * std::fabs(expected) + 1e-300) << what;
}

template <class T>
bool AllZero(const Matrix<T>& m) {
  for (int i = 0; i < m.rows * m.cols; ++i) {
    if (m[i] != T()) return false;
  }
  return true;
}

}  // namespace

TEST(GaussianDerivativeFilterTest, OneDimensionalRows) {
  Matrix<double> k;
  k.GaussianDerivativeFilter(1, 1.0, 0, 3.0);
  ASSERT_EQ(k.rows, 1);
  ASSERT_EQ(k.cols, 7);
  ExpectRelative(k[3], kCentre, "order 0 centre");
  ExpectRelative(k[2], kNeighbour, "order 0 x=-1");
  ExpectRelative(k[4], kNeighbour, "order 0 x=+1");

  k.GaussianDerivativeFilter(1, 1.0, 1, 3.0);
  EXPECT_EQ(k[3], 0.0);
  ExpectRelative(k[2], kNeighbour, "order 1 x=-1");
  ExpectRelative(k[4], -kNeighbour, "order 1 x=+1");

  k.GaussianDerivativeFilter(1, 1.0, 2, 3.0);
  ExpectRelative(k[3], -kCentre, "order 2 centre");
  EXPECT_EQ(k[2], 0.0);
  EXPECT_EQ(k[4], 0.0);

  k.GaussianDerivativeFilter(1, 1.0, 3, 3.0);
  EXPECT_EQ(k.cols, 7);
  EXPECT_TRUE(AllZero(k));

  // On a float vector: 2h + 1 entries of the unnormalised Gaussian, h = trunc(2.5 * 1.5).
  VectorQo<float> v;
  v.GaussianDerivativeFilter(1, 1.5, 0, 2.5);
  ASSERT_EQ(v.rows, 1);
  ASSERT_EQ(v.cols, 7);
  EXPECT_EQ(v[3], static_cast<float>(1.0 / (1.5 * std::sqrt(6.283185307179586))));
}

TEST(GaussianDerivativeFilterTest, TwoDimensionalKernels) {
  Matrix<double> k;
  k.GaussianDerivativeFilter(2, 1.5, 0, 3.0);
  ASSERT_EQ(k.rows, 9);
  ASSERT_EQ(k.cols, 9);
  EXPECT_NEAR(k.Sum(), 1.0, 1e-15);
  EXPECT_EQ(k(0, 4), k(4, 0));
  EXPECT_GT(k(4, 4), k(4, 3));

  k.GaussianDerivativeFilter(2, 1.0, 2, 3.0);  // Laplacian of the Gaussian
  ExpectRelative(k(3, 3), -2.0 / 6.283185307179586, "LoG centre");

  for (int order : {1, 3}) {
    k.GaussianDerivativeFilter(2, 1.0, order, 2.0);
    EXPECT_EQ(k.rows, 5) << order;
    EXPECT_TRUE(AllZero(k)) << order;
  }

  // A half-width below 1 gives one element; the normalised 2-D Gaussian is then 1.
  k.GaussianDerivativeFilter(2, 0.3, 0, 3.0);
  ASSERT_EQ(k.rows, 1);
  ASSERT_EQ(k.cols, 1);
  EXPECT_EQ(k[0], 1.0);

  // Complex kernels are normalised like real ones.
  Matrix<vexl_Complex> c;
  c.GaussianDerivativeFilter(2, 1.0, 0, 3.0);
  EXPECT_NEAR(c.Sum().re, 1.0, 1e-15);
  EXPECT_EQ(c.Sum().im, 0.0);
}

TEST(GaussianDerivativeFilterTest, IntegerKernelsTruncateAndSkipAZeroSum) {
  // Every value is below 1 and truncates to 0: the sum is 0 and is not divided by.
  Matrix<unsigned char> bytes;
  bytes.GaussianDerivativeFilter(2, 1.0, 0, 3.0);
  EXPECT_EQ(bytes.rows, 7);
  EXPECT_TRUE(AllZero(bytes));
  Matrix<int> ints;
  ints.GaussianDerivativeFilter(2, 2.0, 0, 3.0);
  EXPECT_TRUE(AllZero(ints));
  // Negative values truncate toward zero and keep their low byte: -2.2 -> -2 -> 254.
  Matrix<unsigned char> log;
  log.GaussianDerivativeFilter(2, 0.3, 2, 5.0);
  Matrix<double> reference;
  reference.GaussianDerivativeFilter(2, 0.3, 2, 5.0);
  ASSERT_EQ(log.rows, reference.rows);
  for (int i = 0; i < log.rows * log.cols; ++i) {
    EXPECT_EQ(log[i], static_cast<unsigned char>(static_cast<int>(reference[i]) & 0xFF)) << i;
  }
}

TEST(DoGKernelTest, SideFollowsTheSecondSigma) {
  Matrix<double> k;
  k.MakeDoGKernel(1.0, 2.0);
  ASSERT_EQ(k.rows, 11);
  ExpectRelative(k(5, 5), 1.0 / (2.0 * std::sqrt(6.283185307179586)) - kCentre, "centre");
  k.MakeDoGKernel(3.0, 0.5);
  EXPECT_EQ(k.rows, 1);
  EXPECT_EQ(k.cols, 1);
  // int(1.5) = 1 is odd: a 6 x 6 kernel with offsets -2 .. 3.
  k.MakeDoGKernel(1.0, 1.5);
  ASSERT_EQ(k.rows, 6);
  auto dog = [](double r) {
    const double s = std::sqrt(6.283185307179586);
    return std::exp(-r * r / (2 * 1.5 * 1.5)) / (1.5 * s) - std::exp(-r * r / 2) / s;
  };
  ExpectRelative(k(0, 0), dog(std::sqrt(8.0)), "offset (-2, -2)");
  ExpectRelative(k(5, 5), dog(std::sqrt(18.0)), "offset (3, 3)");
}

TEST(GaborKernelTest, CarrierFollowsTheAngleAndKernelSumsToOne) {
  for (double angle : {0.0, 90.0}) {
    Matrix<double> k;
    k.MakeGaborKernel(1.0, 2.0, angle);
    ASSERT_EQ(k.rows, 7);
    ASSERT_EQ(k.cols, 7);
    EXPECT_NEAR(k.Sum(), 1.0, 1e-12);
    // Relative to the centre: separable envelope of width sigma / f times the carrier,
    // cos(y) at 0 degrees and cos(x) at 90.
    for (int i = 0; i < 7; ++i) {
      for (int j = 0; j < 7; ++j) {
        const double y = i - 3;
        const double x = j - 3;
        const double along = angle == 0.0 ? y : x;
        const double expected = std::exp(-(x * x + y * y) / 8.0) * std::cos(along);
        EXPECT_NEAR(k(i, j) / k(3, 3), expected, 1e-12) << angle << " at " << i << "," << j;
      }
    }
  }
  // Near-zero frequency: sized from sigma alone, a flat kernel.
  Matrix<double> flat;
  flat.MakeGaborKernel(1e-12, 2.0, 0.0);
  ASSERT_EQ(flat.rows, 7);
  for (int i = 0; i < 49; ++i) EXPECT_NEAR(flat[i], 1.0 / 49.0, 1e-12) << i;
  // A frequency of exactly 0 makes every value 0; the kernel stays 0 instead of NaN.
  Matrix<double> zero;
  zero.MakeGaborKernel(0.0, 2.0, 0.0);
  EXPECT_EQ(zero.rows, 7);
  EXPECT_TRUE(AllZero(zero));
}

TEST(MexicanHatKernelTest, ZeroMeanScaledByTen) {
  Matrix<double> k;
  k.MakeMexicanHatKernel(1.5);
  ASSERT_EQ(k.rows, 1);
  EXPECT_EQ(k[0], 0.0);
  k.MakeMexicanHatKernel(4.0);
  ASSERT_EQ(k.rows, 5);
  EXPECT_NEAR(k.Sum(), 0.0, 1e-12);
  // Centre before centring: -1; the mean is subtracted and the result scaled by 10.
  double raw = 0.0;
  for (int i = -2; i <= 2; ++i) {
    for (int j = -2; j <= 2; ++j) {
      const double r2 = i * i + j * j;
      raw += (r2 - 16.0) * std::exp(-r2 / 32.0) / 16.0;
    }
  }
  ExpectRelative(k(2, 2), 10.0 * (-1.0 - raw / 25.0), "centre");
}
