#include "numerics/LinearAlgebra.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

Matrix<double> FromRows(const std::vector<std::vector<double>>& rows) {
  Matrix<double> m(static_cast<int>(rows.size()), rows.empty() ? 0 : static_cast<int>(rows[0].size()));
  for (int r = 0; r < m.rows; ++r) {
    for (int c = 0; c < m.cols; ++c) m(r, c) = rows[r][c];
  }
  return m;
}

Matrix<double> RandomMatrix(std::mt19937& gen, int rows, int cols) {
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  Matrix<double> m(rows, cols);
  for (int i = 0; i < rows * cols; ++i) m[i] = value(gen);
  return m;
}

// "rows cols e0 e1 ..." for a Python script.
std::string ToText(const Matrix<double>& m) {
  std::ostringstream out;
  out.precision(17);
  out << m.rows << " " << m.cols;
  for (int i = 0; i < m.rows * m.cols; ++i) out << " " << m[i];
  return out.str();
}

std::vector<double> ParseNumbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> values;
  for (double v; in >> v;) values.push_back(v);
  return values;
}

double MaxAbs(const Matrix<double>& m) {
  double big = 0.0;
  for (int i = 0; i < m.rows * m.cols; ++i) big = std::max(big, std::fabs(m[i]));
  return big;
}

// A 1-based n x n array over a 0-based matrix, as jacobi and SVDCMP take them.
struct OneBased {
  OneBased(int rows, int cols) : storage((rows + 1) * (cols + 1), 0.0), pointers(rows + 1, nullptr) {
    for (int r = 1; r <= rows; ++r) pointers[r] = &storage[r * (cols + 1)];
  }
  double** get() { return pointers.data(); }
  std::vector<double> storage;
  std::vector<double*> pointers;
};

}  // namespace

TEST(LinearAlgebraTest, InverseOfSmallMatricesIsExact) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> a, inverse;
  } cases[] = {
      {"diagonal", {{2, 0}, {0, 4}}, {{0.5, 0}, {0, 0.25}}},
      {"row exchange", {{0, 1}, {1, 0}}, {{0, 1}, {1, 0}}},
      {"one element", {{-8}}, {{-0.125}}},
  };
  for (const Case& c : cases) {
    Matrix<double> out;
    EXPECT_TRUE(FromRows(c.a).Inverse(out)) << c.name;
    Matrix<double> expected = FromRows(c.inverse);
    ASSERT_EQ(out.rows, expected.rows) << c.name;
    ASSERT_EQ(out.cols, expected.cols) << c.name;
    for (int i = 0; i < out.rows * out.cols; ++i) EXPECT_EQ(out[i], expected[i]) << c.name << " element " << i;
  }
  Matrix<double> empty, out;
  EXPECT_TRUE(empty.Inverse(out));
  EXPECT_EQ(out.rows * out.cols, 0);
}

TEST(LinearAlgebraTest, ZeroRowIsReportedAndGivesAZeroInverse) {
  Matrix<double> a = FromRows({{1, 2, 3}, {0, 0, 0}, {4, 5, 7}});
  Matrix<double> out = FromRows({{9}});
  testing::internal::CaptureStderr();
  EXPECT_FALSE(a.Inverse(out));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Singular matrix in routine LUDCMP\n");
  ASSERT_EQ(out.rows, 3);
  ASSERT_EQ(out.cols, 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(out[i], 0.0);

  // LUDCMP itself returns -1 and leaves the matrix as given.
  Matrix<double> work = a, indx;
  double d = 0.0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(LUDCMP(work, indx, &d), -1);
  testing::internal::GetCapturedStderr();
  for (int i = 0; i < 9; ++i) EXPECT_EQ(work[i], a[i]);
}

TEST(LinearAlgebraTest, SingularMatrixWithoutZeroRowGetsATinyPivot) {
  Matrix<double> out;
  EXPECT_TRUE(FromRows({{1, 2}, {2, 4}}).Inverse(out));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(out[i])) << i;
  EXPECT_GT(MaxAbs(out), 1e15);
}

TEST(LinearAlgebraTest, PivotingPrefersTheLastOfEqualCandidates) {
  // Both rows weigh 1 in column 0, so the second row becomes the pivot: one exchange.
  Matrix<double> a = FromRows({{2, 1}, {2, 2}});
  Matrix<double> indx;
  double d = 0.0;
  ASSERT_EQ(LUDCMP(a, indx, &d), 0);
  EXPECT_EQ(d, -1.0);
  ASSERT_EQ(indx.rows * indx.cols, 2);
  EXPECT_EQ(indx[0], 1.0);
  EXPECT_EQ(indx[1], 1.0);
  // Factors of the exchanged rows [[2, 2], [2, 1]]: L = [[1, 0], [1, 1]], U = [[2, 2], [0, -1]].
  Matrix<double> expected = FromRows({{2, 2}, {1, -1}});
  for (int i = 0; i < 4; ++i) EXPECT_EQ(a[i], expected[i]) << i;

  Matrix<double> b(2, 1);
  b[0] = 3.0;  // x = (1, 1) solves [[2, 1], [2, 2]] x = (3, 4)
  b[1] = 4.0;
  LUBKSB(a, indx, b);
  EXPECT_EQ(b[0], 1.0);
  EXPECT_EQ(b[1], 1.0);
}

TEST(LinearAlgebraTest, InverseAgreesWithNumpyOnRandomMatrices) {
  std::mt19937 gen(4242);
  std::vector<Matrix<double>> inputs;
  std::string args;
  for (int k = 0; k < 50; ++k) {
    int n = 1 + k % 8;
    inputs.push_back(RandomMatrix(gen, n, n));
    args += ToText(inputs.back()) + "\n";
  }
  const char* script = R"PY(
import sys
import numpy as np
for line in sys.argv[1].strip().split("\n"):
    v = [float(t) for t in line.split()]
    r, c = int(v[0]), int(v[1])
    inv = np.linalg.inv(np.array(v[2:]).reshape(r, c))
    print(" ".join(repr(float(x)) for x in inv.ravel()))
)PY";
  ProcessResult py = RunPython(script, {args});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  for (const Matrix<double>& a : inputs) {
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<double> expected = ParseNumbers(line);
    Matrix<double> out;
    ASSERT_TRUE(a.Inverse(out));
    ASSERT_EQ(static_cast<int>(expected.size()), out.rows * out.cols);
    double scale = std::max(1.0, MaxAbs(out));
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(out[i], expected[i], 1e-10 * scale) << ToText(a);
  }
}

TEST(LinearAlgebraTest, JacobiOnADiagonalMatrixReturnsAtOnce) {
  OneBased a(3, 3), v(3, 3);
  double d[4] = {0, 0, 0, 0};
  a.get()[1][1] = 3.0;
  a.get()[2][2] = -1.0;
  a.get()[3][3] = 2.0;
  int nrot = -1;
  EXPECT_EQ(jacobi(a.get(), 3, d, v.get(), &nrot), 1);
  EXPECT_EQ(nrot, 0);
  EXPECT_EQ(d[1], 3.0);
  EXPECT_EQ(d[2], -1.0);
  EXPECT_EQ(d[3], 2.0);
  for (int r = 1; r <= 3; ++r) {
    for (int c = 1; c <= 3; ++c) EXPECT_EQ(v.get()[r][c], r == c ? 1.0 : 0.0);
  }
}

TEST(LinearAlgebraTest, JacobiAgreesWithNumpyEigh) {
  std::mt19937 gen(77);
  const int sizes[] = {2, 3, 5, 8};
  std::vector<Matrix<double>> inputs;
  std::string args;
  for (int n : sizes) {
    Matrix<double> m = RandomMatrix(gen, n, n);
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < r; ++c) m(r, c) = m(c, r);
    }
    inputs.push_back(m);
    args += ToText(m) + "\n";
  }
  const char* script = R"PY(
import sys
import numpy as np
for line in sys.argv[1].strip().split("\n"):
    v = [float(t) for t in line.split()]
    r = int(v[0])
    w = np.linalg.eigh(np.array(v[2:]).reshape(r, r))[0]
    print(" ".join(repr(float(x)) for x in w))
)PY";
  ProcessResult py = RunPython(script, {args});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  for (const Matrix<double>& m : inputs) {
    const int n = m.rows;
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<double> expected = ParseNumbers(line);  // ascending
    OneBased a(n, n), v(n, n);
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) a.get()[r + 1][c + 1] = m(r, c);
    }
    std::vector<double> d(n + 1);
    int nrot = 0;
    ASSERT_EQ(jacobi(a.get(), n, d.data(), v.get(), &nrot), 1);
    std::vector<double> eigen(d.begin() + 1, d.end());
    std::sort(eigen.begin(), eigen.end());
    for (int i = 0; i < n; ++i) EXPECT_NEAR(eigen[i], expected[i], 1e-12) << ToText(m);
    // Each column of v is a unit eigenvector of the original matrix.
    for (int k = 1; k <= n; ++k) {
      for (int r = 0; r < n; ++r) {
        double mv = 0.0;
        for (int c = 0; c < n; ++c) mv += m(r, c) * v.get()[c + 1][k];
        EXPECT_NEAR(mv, d[k] * v.get()[r + 1][k], 1e-12);
      }
    }
  }
}

TEST(LinearAlgebraTest, JacobiReportsNonConvergence) {
  // A NaN off the diagonal never falls below any threshold: 50 sweeps without progress.
  OneBased a(2, 2), v(2, 2);
  a.get()[1][1] = 1.0;
  a.get()[2][2] = 2.0;
  a.get()[1][2] = a.get()[2][1] = std::numeric_limits<double>::quiet_NaN();
  double d[3];
  int nrot = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(jacobi(a.get(), 2, d, v.get(), &nrot), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "jacobi():  Too many iterations!\n");
}

TEST(LinearAlgebraTest, SvdReconstructsItsInputWithOrthonormalFactors) {
  std::mt19937 gen(9);
  struct Shape {
    int m, n;
  } shapes[] = {{1, 1}, {3, 2}, {4, 4}, {7, 3}, {8, 8}, {12, 5}};
  std::vector<Matrix<double>> inputs;
  for (const Shape& s : shapes) inputs.push_back(RandomMatrix(gen, s.m, s.n));
  // Rank-deficient inputs: a repeated column, a zero column, a matrix of rank one.
  Matrix<double> repeated = RandomMatrix(gen, 5, 3);
  for (int r = 0; r < 5; ++r) repeated(r, 2) = repeated(r, 0);
  inputs.push_back(repeated);
  Matrix<double> zeroColumn = RandomMatrix(gen, 4, 3);
  for (int r = 0; r < 4; ++r) zeroColumn(r, 1) = 0.0;
  inputs.push_back(zeroColumn);
  inputs.push_back(FromRows({{1, 1}, {1, 1}, {1, 1}}));
  // A zero first column leaves a negligible diagonal element that must be cancelled
  // with the carried element scaled at every rotation, or the factors come out wrong.
  inputs.push_back(FromRows({{0, 1, 2}, {0, 2, 1}, {0, 3, 5}}));

  std::string args;
  for (const Matrix<double>& a : inputs) args += ToText(a) + "\n";
  const char* script = R"PY(
import sys
import numpy as np
for line in sys.argv[1].strip().split("\n"):
    v = [float(t) for t in line.split()]
    r, c = int(v[0]), int(v[1])
    s = np.linalg.svd(np.array(v[2:]).reshape(r, c), compute_uv=False)
    print(" ".join(repr(float(x)) for x in sorted(s)))
)PY";
  ProcessResult py = RunPython(script, {args});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);

  for (const Matrix<double>& a : inputs) {
    const int m = a.rows, n = a.cols;
    Matrix<double> U, V;
    VectorQo<double> W;
    ASSERT_TRUE(SvdDecompose(U, W, V, a));
    ASSERT_EQ(U.rows, m);
    ASSERT_EQ(U.cols, n);
    ASSERT_EQ(W.rows * W.cols, n);
    ASSERT_EQ(V.rows, n);
    ASSERT_EQ(V.cols, n);
    for (int r = 0; r < m; ++r) {
      for (int c = 0; c < n; ++c) {
        double sum = 0.0;
        for (int k = 0; k < n; ++k) sum += U(r, k) * W[k] * V(c, k);
        EXPECT_NEAR(sum, a(r, c), 1e-12) << ToText(a);
      }
    }
    // V is orthogonal; the columns of U that belong to non-zero singular values are
    // orthonormal (those of zero ones are zero).
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double vv = 0.0, uu = 0.0;
        for (int k = 0; k < n; ++k) vv += V(k, i) * V(k, j);
        for (int k = 0; k < m; ++k) uu += U(k, i) * U(k, j);
        EXPECT_NEAR(vv, i == j ? 1.0 : 0.0, 1e-12) << ToText(a);
        if (W[i] > 1e-12 && W[j] > 1e-12) {
          EXPECT_NEAR(uu, i == j ? 1.0 : 0.0, 1e-12) << ToText(a);
        }
      }
      EXPECT_GE(W[i], 0.0);
    }
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    std::vector<double> expected = ParseNumbers(line);
    std::vector<double> got(W.data, W.data + n);
    std::sort(got.begin(), got.end());
    for (int i = 0; i < n; ++i) EXPECT_NEAR(got[i], expected[i], 1e-12) << ToText(a);
  }
}

TEST(LinearAlgebraTest, SvdLeavesSingularValuesUnsortedAndRefusesWideMatrices) {
  Matrix<double> U, V;
  VectorQo<double> W;
  ASSERT_TRUE(SvdDecompose(U, W, V, FromRows({{1, 0}, {0, 3}})));
  EXPECT_NEAR(W[0], 1.0, 1e-15);
  EXPECT_NEAR(W[1], 3.0, 1e-15);

  Matrix<double> keepU = FromRows({{5}});
  EXPECT_FALSE(SvdDecompose(keepU, W, V, FromRows({{1, 2, 3}, {4, 5, 6}})));
  EXPECT_EQ(keepU.rows, 1);
  EXPECT_EQ(keepU[0], 5.0);
  EXPECT_EQ(W.rows * W.cols, 2);
}

TEST(LinearAlgebraDeathTest, FatalPathPrintsThreeLinesAndExitsWithStatusOne) {
  struct Case {
    const char* name;
    void (*run)();
    const char* message;
  } cases[] = {
      {"svd without convergence",
       [] {
         Matrix<double> a(2, 2), U, V;
         VectorQo<double> W;
         a.Fill(std::numeric_limits<double>::quiet_NaN());
         SvdDecompose(U, W, V, a);
       },
       "No convergence in 30 SVDCMP iterations"},
      {"reversed vector range", [] { vector(5, 2); }, "allocation failure in vector\\(\\)"},
  };
  for (const Case& c : cases) {
    std::string expected = std::string("^Numerical Recipes run-time error\\.\\.\\.\n") + c.message +
                           "\n\\.\\.\\.now exiting to system\\.\\.\\.\n$";
    EXPECT_EXIT(c.run(), testing::ExitedWithCode(1), expected) << c.name;
  }
}
