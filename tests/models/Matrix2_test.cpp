#include "models/Matrix2.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

Matrix2 MakeMatrix(int rows, int cols, const std::vector<double>& values) {
  Matrix2 m(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) m(i, j) = values[static_cast<size_t>(i) * cols + j];
  return m;
}

Vector2 MakeVector(const std::vector<double>& values) {
  Vector2 v(static_cast<int>(values.size()));
  for (int i = 0; i < v.Size(); ++i) v[i] = values[i];
  return v;
}

std::vector<double> Elements(const Matrix2& m) {
  std::vector<double> out;
  for (int i = 0; i < m.Rows(); ++i)
    for (int j = 0; j < m.Cols(); ++j) out.push_back(m(i, j));
  return out;
}

std::vector<double> Elements(const Vector2& v) {
  std::vector<double> out;
  for (int i = 0; i < v.Size(); ++i) out.push_back(v[i]);
  return out;
}

}  // namespace

TEST(Vector2Test, MismatchedLengthsUseTheCommonPart) {
  const Vector2 a = MakeVector({5, 7, 9});
  const Vector2 b = MakeVector({1, 2});
  EXPECT_EQ(Elements(a - b), (std::vector<double>{4, 5, 9}));
  EXPECT_EQ(Elements(b - a), (std::vector<double>{-4, -5}));
  EXPECT_EQ(a.Dot(b), 19.0);
  Vector2 c = b;
  c += a;
  EXPECT_EQ(Elements(c), (std::vector<double>{6, 9}));
  EXPECT_EQ(Elements(a * 2.0), (std::vector<double>{10, 14, 18}));
  EXPECT_EQ(Elements(a / 4.0), (std::vector<double>{1.25, 1.75, 2.25}));
}

TEST(Vector2Test, ResizeKeepsPrefixOrZeroFills) {
  Vector2 v = MakeVector({1, 2, 3});
  v.Resize(3, false);
  EXPECT_EQ(Elements(v), (std::vector<double>{1, 2, 3}));
  v.Resize(5, true);
  EXPECT_EQ(Elements(v), (std::vector<double>{1, 2, 3, 0, 0}));
  v.Resize(2, false);
  EXPECT_EQ(Elements(v), (std::vector<double>{0, 0}));
  v.Resize(0, true);
  EXPECT_EQ(v.Size(), 0);
}

TEST(Matrix2Test, ResizeAndShapeRules) {
  Matrix2 m = MakeMatrix(2, 2, {1, 2, 3, 4});
  m.Resize(2, 2, false);
  EXPECT_EQ(Elements(m), (std::vector<double>{1, 2, 3, 4}));
  m.Resize(3, 1, true);
  EXPECT_EQ(Elements(m), (std::vector<double>{1, 3, 0}));
  m.Resize(2, 3, false);
  EXPECT_EQ(Elements(m), (std::vector<double>(6, 0.0)));
  m.Resize(0, 4, true);
  EXPECT_EQ(m.Rows(), 0);
  EXPECT_EQ(m.Cols(), 0);

  const Matrix2 a = MakeMatrix(2, 3, {1, 2, 3, 4, 5, 6});
  const Matrix2 b = MakeMatrix(3, 2, {1, 0, 0, 1, 1, 1});
  EXPECT_EQ(Elements(a * b), (std::vector<double>{4, 5, 10, 11}));
  EXPECT_EQ(Elements(a + b), (std::vector<double>{2, 2, 3, 4, 6, 6}));  // common 2 x 2 part
  EXPECT_EQ(Elements(a.Transpose()), (std::vector<double>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(Elements(a * MakeVector({1, 1})), (std::vector<double>{3, 9}));
  EXPECT_EQ(Elements(a.ColumnSums()), (std::vector<double>{5, 7, 9}));
  EXPECT_EQ(Elements(a.Row(1)), (std::vector<double>{4, 5, 6}));
  EXPECT_EQ(Elements(a / 2.0), (std::vector<double>{0.5, 1, 1.5, 2, 2.5, 3}));

  Matrix2 c = a;
  c.SetRow(MakeVector({9, 9, 9, 9}), 0);
  c.SetRow(MakeVector({7}), 5);  // outside: nothing
  c.SetColumn(MakeVector({8}), 2);
  c.SwapRows(0, 1);
  c.SwapRows(0, 2);  // outside: nothing
  EXPECT_EQ(Elements(c), (std::vector<double>{4, 5, 6, 9, 9, 8}));
  c.SetIdentity();
  EXPECT_EQ(Elements(c), (std::vector<double>{1, 0, 0, 0, 1, 0}));
}

TEST(Matrix2Test, InvertCases) {
  struct Case {
    const char* name;
    int rows, cols;
    std::vector<double> a;
    std::vector<double> inverse;
    double det;
    int succeeded;
  };
  const std::vector<Case> cases = {
      {"zero pivot exchanged without changing the sign", 2, 2, {0, 2, 3, 0}, {0, 1.0 / 3, 0.5, 0}, 6.0, 1},
      {"one by one", 1, 1, {4}, {0.25}, 4.0, 1},
      {"pivot at the threshold fails", 1, 1, {1e-7}, {}, 0.0, 0},
      {"singular", 2, 2, {1, 2, 2, 4}, {}, 0.0, 0},
      {"row vector pseudo-inverse", 1, 2, {3, 4}, {3.0 / 25, 4.0 / 25}, 0.0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gInversionSucceeded = 7;
    double det = -99.0;
    Matrix2 out;
    MakeMatrix(c.rows, c.cols, c.a).Invert(out, &det);
    EXPECT_EQ(gInversionSucceeded, c.succeeded);
    EXPECT_DOUBLE_EQ(det, c.det);
    if (c.succeeded) {
      const std::vector<double> got = Elements(out);
      ASSERT_EQ(got.size(), c.inverse.size());
      for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.inverse[i], 1e-15);
    }
  }
}

TEST(Matrix2Test, InvertAgreesWithNumpy) {
  // Seeded square and rectangular matrices with entries in [-1, 1) plus a diagonal
  // load on the square ones.
  uint32_t state = 12345u;
  auto next = [&state]() {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) / 8388608.0 - 1.0;
  };
  const int shapes[][2] = {{2, 2}, {3, 3}, {5, 5}, {2, 4}, {4, 3}, {6, 6}};
  std::vector<Matrix2> inputs;
  std::ostringstream args;
  for (const auto& s : shapes) {
    Matrix2 m(s[0], s[1]);
    for (int i = 0; i < s[0]; ++i)
      for (int j = 0; j < s[1]; ++j) m(i, j) = next() + (s[0] == s[1] && i == j ? 2.0 : 0.0);
    args.precision(17);
    args << m.Rows() << " " << m.Cols();
    for (double v : Elements(m)) args << " " << v;
    args << ";";
    inputs.push_back(m);
  }
  const std::string script = R"(
import sys
import numpy as np
for item in sys.argv[1].split(';'):
    if not item.strip():
        continue
    t = item.split()
    r, c = int(t[0]), int(t[1])
    a = np.array([float(v) for v in t[2:]]).reshape(r, c)
    inv = np.linalg.inv(a) if r == c else np.linalg.pinv(a)
    det = np.linalg.det(a) if r == c else 0.0
    print(' '.join('%.17g' % v for v in list(inv.ravel()) + [det]))
)";
  ProcessResult py = RunPython(script, {args.str()});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  for (const Matrix2& m : inputs) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::istringstream numbers(line);
    std::vector<double> expected;
    for (double v; numbers >> v;) expected.push_back(v);
    Matrix2 out;
    double det = 0.0;
    m.Invert(out, &det);
    EXPECT_EQ(gInversionSucceeded, 1);
    const std::vector<double> got = Elements(out);
    ASSERT_EQ(got.size() + 1, expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1e-10) << m.Rows() << "x" << m.Cols();
    // Row exchanges never flip the sign, so compare the determinant's magnitude.
    EXPECT_NEAR(std::abs(det), std::abs(expected.back()), 1e-10 * std::abs(expected.back()));
  }
}
