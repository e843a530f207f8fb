#include <gtest/gtest.h>

#include <cmath>
#include <type_traits>

#include "MatrixTestUtil.h"
#include "numerics/Matrix.h"

namespace {

template <class T>
void ExpectElements(const Matrix<T>& m, std::initializer_list<std::common_type_t<T>> expected,
                    const char* what) {
  ASSERT_EQ(static_cast<size_t>(m.rows * m.cols), expected.size()) << what;
  int i = 0;
  for (const T& v : expected) {
    EXPECT_EQ(m[i], v) << what << " element " << i;
    ++i;
  }
}

}  // namespace

TEST(MatrixRotateTest, QuarterAndHalfTurnsAreExact) {
  Matrix<double> a = Mat<double>(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  ExpectElements(a.Rotate(90.0), {3, 6, 9, 2, 5, 8, 1, 4, 7}, "double 90");
  ExpectElements(Mat<int>(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}).Rotate(90.0),
                 {3, 6, 9, 2, 5, 8, 1, 4, 7}, "int 90");
  ExpectElements(Mat<double>(2, 2, {1, 2, 3, 4}).Rotate(180.0), {4, 3, 2, 1}, "double 180");
  ExpectElements(Mat<short>(2, 3, {1, 2, 3, 4, 5, 6}).Rotate(180.0), {6, 5, 4, 3, 2, 1},
                 "short 180 non-square");
  ExpectElements(a.Rotate(0.0), {1, 2, 3, 4, 5, 6, 7, 8, 9}, "0");
  ExpectElements(Mat<float>(1, 1, {2.5f}).Rotate(45.0), {2.5f}, "1x1 45");
  // Points that turn off the grid read nothing.
  ExpectElements(Mat<int>(1, 3, {1, 2, 3}).Rotate(90.0), {0, 2, 0}, "row 90");
}

TEST(MatrixRotateTest, InterpolationWeightsAreHeldInTheElementType) {
  // 2 x 2 by 45 degrees: result (0, 0) lies between source (0, 0) and (0, 1) at
  // nearly equal distances.
  Matrix<double> d = Mat<double>(2, 2, {10, 20, 30, 40}).Rotate(45.0);
  EXPECT_NEAR(d[0], 15.0, 1e-9);
  // A 1 x 4 row turned so that result (0, 0) has its nearest neighbour just over 1
  // away: an int weight truncates to 0 and the element stays 0, while double
  // elements get the weighted mean of source 0 and 1.
  const double angle = std::asin(0.95 / 1.5) * 180.0 / 3.141592653589793;
  EXPECT_EQ(Mat<int>(1, 4, {10, 20, 30, 40}).Rotate(angle)[0], 0);
  double mean = Mat<double>(1, 4, {10, 20, 30, 40}).Rotate(angle)[0];
  EXPECT_GT(mean, 10.0);
  EXPECT_LT(mean, 20.0);
}

TEST(MatrixSquaredDistanceTest, ColumnVectorsOnly) {
  EXPECT_EQ(Mat<double>(3, 1, {1, 2, 3}).SquaredDistance(Mat<double>(3, 1, {1, 0, 3})), 4.0);
  EXPECT_EQ(Mat<int>(3, 1, {1, 2, 3}).SquaredDistance(Mat<int>(1, 3, {1, 0, 3})), 0);
  EXPECT_EQ(Mat<int>(2, 2, {1, 2, 3, 4}).SquaredDistance(Mat<int>(2, 2, {0, 0, 0, 0})), 0);
  EXPECT_EQ(Mat<int>(2, 1, {1, 2}).SquaredDistance(Mat<int>(3, 1, {1, 2, 3})), 0);
  // Accumulated in the element type: 16 * 16 wraps to 0 in a byte.
  EXPECT_EQ(Mat<unsigned char>(1, 1, {20}).SquaredDistance(Mat<unsigned char>(1, 1, {4})), 0);
}
