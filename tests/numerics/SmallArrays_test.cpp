#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "numerics/Point2D.h"
#include "numerics/SimpleMatrix.h"
#include "numerics/SimpleMatrix3D.h"
#include "numerics/SubVolume.h"

TEST(Point2DTest, DistanceAngleAndRawRecord) {
  Point2D<double> p(3, 4), origin;
  EXPECT_EQ(p.Distance(origin), 5.0);
  EXPECT_EQ(origin.AngleTo(Point2D<double>(0, 1)), M_PI / 2);
  EXPECT_EQ(origin.AngleTo(Point2D<double>(-1, 0)), M_PI);

  std::stringstream s;
  p.Write(s);
  EXPECT_EQ(s.str().size(), 16u);
  Point2D<double> q;
  q.Read(s);
  EXPECT_EQ(q.X(), 3.0);
  EXPECT_EQ(q.Y(), 4.0);
}

TEST(SimpleMatrixTest, SizingRules) {
  SimpleMatrix<float> m;
  EXPECT_EQ(m.Allocate(-1, 3), -1);
  m.SetSize(2, 3);
  ASSERT_NE(m.data(), nullptr);
  EXPECT_EQ(m(1, 2), 0.0f);  // fresh elements are zero
  m(1, 2) = 7;
  EXPECT_EQ(m[1][2], 7.0f);
  m.SetSize(2, 3);  // unchanged extents keep the contents
  EXPECT_EQ(m(1, 2), 7.0f);
  m.SetSize(0, 5);
  EXPECT_EQ(m.rows(), 0);
  EXPECT_EQ(m.cols(), 5);
  EXPECT_EQ(m.data(), nullptr);
}

TEST(SimpleMatrix3DTest, NewArrayParametersSizingAndCopy) {
  SimpleMatrix3D<float> v;
  const int expected[8] = {3, 3, 1, 3, 3, 2, 1, 2};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(v.param(i), expected[i]);
  EXPECT_EQ(v.dim0() + v.dim1() + v.dim2(), 0);

  EXPECT_EQ(v.SetSize(2, 3, 4), 24);
  SimpleMatrix<float>* firstSlice = &v.slice(0);
  v.SetSize(2, 5, 6);  // same first extent: the slice array stays, each slice resized
  EXPECT_EQ(&v.slice(0), firstSlice);
  EXPECT_EQ(v.slice(1).rows(), 5);
  v.Fill(1.5f);
  v(1, 4, 5) = 9;

  SimpleMatrix3D<float> w;
  w = v;
  EXPECT_EQ(w.dim0(), 2);
  EXPECT_EQ(w(1, 4, 5), 9.0f);
  EXPECT_EQ(w(0, 0, 0), 1.5f);
  w = w;
  EXPECT_EQ(w(1, 4, 5), 9.0f);
}

TEST(SubVolumeTest, WholeVolumeBox) {
  // A volume of 10 slices, 20 rows, 30 columns.
  SubVolume box(0, 0, 0, 30 - 1, 20 - 1, 10 - 1);
  EXPECT_EQ(box.x1, 29);
  EXPECT_EQ(box.y1, 19);
  EXPECT_EQ(box.z1, 9);
}
