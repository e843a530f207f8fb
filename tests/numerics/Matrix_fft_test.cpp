#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "MatrixTestUtil.h"
#include "TestSupport.h"
#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

namespace {

void ExpectComplex(const Matrix<vexl_Complex>& m, const std::vector<vexl_Complex>& expected,
                   double tolerance, const std::string& what) {
  ASSERT_EQ(static_cast<size_t>(m.rows * m.cols), expected.size()) << what;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(m[static_cast<int>(i)].re, expected[i].re, tolerance) << what << " element " << i;
    EXPECT_NEAR(m[static_cast<int>(i)].im, expected[i].im, tolerance) << what << " element " << i;
  }
}

// Deterministic values in [-5, 5) with a few digits.
Matrix<double> Pseudorandom(int rows, int cols, unsigned seed) {
  Matrix<double> m(rows, cols);
  for (int i = 0; i < rows * cols; ++i) {
    seed = seed * 1103515245u + 12345u;
    m[i] = static_cast<double>((seed >> 8) % 10000) / 1000.0 - 5.0;
  }
  return m;
}

std::string Numbers(const Matrix<double>& m) {
  std::ostringstream out;
  out.precision(17);
  for (int i = 0; i < m.rows * m.cols; ++i) out << m[i] << ' ';
  return out.str();
}

}  // namespace

TEST(MatrixFFTTest, PartExamples) {
  const double tol = 1e-15;
  ExpectComplex(Mat<double>(2, 2, {1, 0, 0, 0}).FFT2D(),
                {{0.25, 0}, {0.25, 0}, {0.25, 0}, {0.25, 0}}, tol, "impulse 2x2");
  ExpectComplex(Mat<int>(1, 4, {0, 1, 0, 0}).FFT2D(),
                {{0.25, 0}, {0, 0.25}, {-0.25, 0}, {0, -0.25}}, tol, "shifted impulse");
  Matrix<vexl_Complex> f = Mat<float>(1, 4, {1, 2, 3, 4}).FFT2D();
  ExpectComplex(f, {{2.5, 0}, {-0.5, -0.5}, {-0.5, 0}, {-0.5, 0.5}}, tol, "ramp");
  ExpectComplex(f.InverseFFT2D(), {{1, 0}, {2, 0}, {3, 0}, {4, 0}}, tol, "ramp back");
  ExpectComplex(Mat<short>(1, 1, {7}).FFT2D(), {{7, 0}}, 0.0, "1x1");

  Matrix<vexl_Complex> padded = Matrix<unsigned char>(3, 5).FFT2D();
  EXPECT_EQ(padded.rows, 4);
  EXPECT_EQ(padded.cols, 8);
  EXPECT_EQ(Matrix<double>().FFT2D().data, nullptr);
}

TEST(MatrixFFTTest, PaddedExtent) {
  const int cases[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {8, 8}, {9, 16}, {1 << 29, 1 << 29},
                          {(1 << 29) + 1, 1 << 30}};
  for (const auto& c : cases) EXPECT_EQ(paddedExtent(c[0]), c[1]) << c[0];
}

TEST(MatrixFFTTest, MatchesNumpyTransformsOfThePaddedInput) {
  // Forward: exponent +, scaled by 1/N (numpy's ifft2); inverse: exponent -, unscaled (fft2).
  const char* script = R"(
import sys, numpy as np
r, c, pr, pc = (int(a) for a in sys.argv[1:5])
x = np.zeros((pr, pc)); x[:r, :c] = np.array([float(v) for v in sys.argv[5].split()]).reshape(r, c)
for f in (np.fft.ifft2(x), np.fft.fft2(x)):
    print(' '.join('%.17g %.17g' % (v.real, v.imag) for v in f.ravel()))
)";
  const int shapes[][2] = {{3, 5}, {4, 4}, {1, 7}, {6, 2}, {16, 9}};
  unsigned seed = 7;
  for (const auto& shape : shapes) {
    Matrix<double> m = Pseudorandom(shape[0], shape[1], seed++);
    int pr = paddedExtent(shape[0]);
    int pc = paddedExtent(shape[1]);
    ProcessResult py = RunPython(script, {std::to_string(shape[0]), std::to_string(shape[1]),
                                          std::to_string(pr), std::to_string(pc), Numbers(m)});
    ASSERT_EQ(py.status, 0) << py.err;
    std::istringstream lines(py.out);
    std::string what = std::to_string(shape[0]) + "x" + std::to_string(shape[1]);
    for (const Matrix<vexl_Complex>& ours : {m.FFT2D(), m.InverseFFT2D()}) {
      std::string line;
      std::getline(lines, line);
      std::istringstream values(line);
      std::vector<vexl_Complex> expected;
      double re = 0;
      double im = 0;
      while (values >> re >> im) expected.emplace_back(re, im);
      ASSERT_EQ(ours.rows, pr);
      ASSERT_EQ(ours.cols, pc);
      ExpectComplex(ours, expected, 1e-12, what);
      what += " inverse";
    }
  }
}

TEST(MatrixFFTTest, ConvolveFFTIsCircularWithOneExtraScale) {
  const double tol = 1e-15;
  ExpectComplex(Mat<double>(2, 2, {1, 2, 3, 4}).ConvolveFFT(Mat<double>(1, 1, {1})),
                {{0.25, 0}, {0.5, 0}, {0.75, 0}, {1, 0}}, tol, "identity kernel");
  ExpectComplex(Mat<int>(1, 3, {1, 2, 3}).ConvolveFFT(Mat<int>(1, 2, {1, 1})),
                {{0.25, 0}, {0.75, 0}, {1.25, 0}}, tol, "pair sums");
  // On a 1x4 grid the kernel tap at 3 wraps x[1] round to output 0: 0.25 * (x0*k0 + x1*k3).
  ExpectComplex(Mat<double>(1, 4, {1, 2, 0, 0}).ConvolveFFT(Mat<double>(1, 4, {1, 0, 0, 10})),
                {{0.25 * 21, 0}, {0.5, 0}, {0, 0}, {2.5, 0}}, 1e-14, "wrap-around");
}

TEST(MatrixConvolveRowsTest, ReversedTapsZeroBorderAndElementArithmetic) {
  Matrix<int> r = Mat<int>(1, 3, {1, 0, 0}).ConvolveRows(Mat<int>(1, 3, {1, 2, 3}));
  EXPECT_EQ(r[0], 2);
  EXPECT_EQ(r[1], 3);
  EXPECT_EQ(r[2], 0);
  // Two taps: element c gets k0 * x[c] + k1 * x[c - 1].
  Matrix<double> two = Mat<double>(1, 3, {1, 10, 100}).ConvolveRows(Mat<double>(1, 2, {2, 3}));
  EXPECT_EQ(two[0], 2.0);
  EXPECT_EQ(two[1], 23.0);
  EXPECT_EQ(two[2], 230.0);
  // Only the kernel's first row counts.
  Matrix<int> firstRow = Mat<int>(2, 3, {1, 0, 0, 1, 0, 0}).ConvolveRows(Mat<int>(2, 1, {5, 9}));
  EXPECT_EQ(firstRow[3], 5);
  EXPECT_EQ(Mat<unsigned char>(1, 1, {20}).ConvolveRows(Mat<unsigned char>(1, 1, {13}))[0], 4);
  EXPECT_EQ(Mat<int>(1, 2, {4, 5}).ConvolveRows(Matrix<int>())[1], 0);
}

TEST(MatrixConvolveRowsTest, MatchesNumpyConvolveSame) {
  const char* script = R"(
import sys, numpy as np
x = [int(v) for v in sys.argv[1].split()]
k = [int(v) for v in sys.argv[2].split()]
print(' '.join(str(v) for v in np.convolve(x, k, 'same')))
)";
  const std::vector<std::vector<int>> kernels = {{3}, {1, -2}, {1, 2, 3}, {4, -1, 0, 2}, {1, 1, 2, 3, 5}};
  Matrix<int> x = Mat<int>(1, 9, {3, -1, 4, 1, -5, 9, 2, -6, 5});
  std::string xs = "3 -1 4 1 -5 9 2 -6 5";
  for (const std::vector<int>& k : kernels) {
    Matrix<int> kernel(1, static_cast<int>(k.size()));
    std::string ks;
    for (size_t i = 0; i < k.size(); ++i) {
      kernel[static_cast<int>(i)] = k[i];
      ks += std::to_string(k[i]) + " ";
    }
    ProcessResult py = RunPython(script, {xs, ks});
    ASSERT_EQ(py.status, 0) << py.err;
    Matrix<int> ours = x.ConvolveRows(kernel);
    std::istringstream expected(py.out);
    for (int i = 0; i < 9; ++i) {
      int v = 0;
      expected >> v;
      EXPECT_EQ(ours[i], v) << "kernel " << ks << " element " << i;
    }
  }
}

TEST(MatrixConvolveRowsTest, ColumnsAndSeparable) {
  Matrix<int> a = Mat<int>(3, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  // A 1 x K kernel acts down the columns as its single first element.
  Matrix<int> cols = a.ConvolveColumns(Mat<int>(1, 3, {2, 7, 7}));
  EXPECT_EQ(cols[4], 10);
  // A K x 1 kernel in the separable filter: the square of its first element.
  Matrix<int> sep = a.ConvolveSeparable(Mat<int>(3, 1, {3, 7, 7}));
  EXPECT_EQ(sep[8], 81);
  // Down the columns: reversed taps, centre (K - 1) / 2.
  Matrix<int> down = a.ConvolveColumns(Mat<int>(3, 1, {1, 0, 0}));
  EXPECT_EQ(down(0, 1), 5);
  EXPECT_EQ(down(2, 1), 0);
  // Separable with row k equals the 2-D convolution with the outer product k^T k.
  Matrix<int> k = Mat<int>(1, 3, {1, 2, -1});
  Matrix<int> b = Mat<int>(4, 5, {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9, 3, 2, 3, 8, 4});
  Matrix<int> separable = b.ConvolveSeparable(k);
  Matrix<int> direct = b.Convolve2D(k.Transpose() * k);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(separable[i], direct[i]) << i;
}
