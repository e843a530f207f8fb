#include "models/Kro_ShapePCA.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "TestSupport.h"
#include "models/Kro_ShapePCASvd.h"
#include "numerics/UniformRandom.h"

namespace {

VectorQo<double> Column(const std::vector<double>& v) {
  VectorQo<double> out;
  out.Matrix<double>::SetSize(static_cast<int>(v.size()), 1);
  for (size_t n = 0; n < v.size(); ++n) out[static_cast<int>(n)] = v[n];
  return out;
}

// n random samples of d values spread well above 1.
std::vector<std::vector<double>> RandomSamples(int d, int n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> g(0.0, 5.0);
  std::vector<std::vector<double>> s(static_cast<size_t>(n), std::vector<double>(static_cast<size_t>(d)));
  for (auto& v : s)
    for (double& x : v) x = g(rng);
  return s;
}

template <class Model>
Model Fitted(const std::vector<std::vector<double>>& samples, int m) {
  Model model;
  for (const auto& s : samples) model.AddSample(Column(s));
  model.Fit(m);
  return model;
}

std::string Rows(const std::vector<std::vector<double>>& s) {
  std::ostringstream out;
  out.precision(17);
  for (const auto& v : s) {
    for (double x : v) out << x << " ";
    out << "\n";
  }
  return out.str();
}

// Largest |dot| of mode t of a with column c of the reference, expected 1 up to sign.
double Alignment(const Matrix<double>& modes, int t, const std::vector<double>& ref) {
  double dot = 0.0;
  for (int r = 0; r < modes.rows; ++r) dot += modes(r, t) * ref[static_cast<size_t>(r)];
  return std::fabs(dot);
}

TEST(Kro_ShapePCA, SvdModesMatchNumpyUpToSign) {
  const auto samples = RandomSamples(12, 5, 1);
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>(samples, 3);
  ASSERT_EQ(model.NumModes(), 3);
  ASSERT_EQ(model.modes.rows, 12);

  TempFolder tmp;
  WriteFileText(tmp.file("x.txt"), Rows(samples));
  const char* script = R"(
import sys, numpy as np
S = np.loadtxt(sys.argv[1])
X = (S - S.mean(axis=0)).T
U, w, Vt = np.linalg.svd(X, full_matrices=False)
order = np.argsort(-w)
for i in order[:3]:
    print(repr(float(np.sqrt(w[i]))), " ".join(repr(float(x)) for x in U[:, i]))
)";
  ProcessResult r = RunPython(script, {tmp.file("x.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);
  for (int t = 0; t < 3; ++t) {
    double sigma;
    out >> sigma;
    std::vector<double> u(12);
    for (double& x : u) out >> x;
    EXPECT_NEAR(model.sigmas[t], sigma, 1e-10 * sigma) << "mode " << t;
    EXPECT_NEAR(Alignment(model.modes, t, u), 1.0, 1e-10) << "mode " << t;
    for (int r2 = 0; r2 < 12; ++r2) EXPECT_NEAR(std::fabs(model.modes(r2, t)), std::fabs(u[r2]), 1e-10);
  }
}

TEST(Kro_ShapePCA, CovarianceFitFindsTheSameModesInSinglePrecision) {
  const auto samples = RandomSamples(8, 6, 2);
  Kro_ShapePCASvd svd = Fitted<Kro_ShapePCASvd>(samples, 3);
  Kro_ShapePCA cov = Fitted<Kro_ShapePCA>(samples, 3);
  ASSERT_EQ(cov.NumModes(), 3);
  for (int t = 0; t < 3; ++t) {
    std::vector<double> u(8);
    for (int r = 0; r < 8; ++r) u[static_cast<size_t>(r)] = svd.modes(r, t);
    EXPECT_NEAR(Alignment(cov.modes, t, u), 1.0, 1e-4);
    // eigenvalue of the covariance = w^2 / n, and the svd sigma is sqrt(w)
    const double w = svd.sigmas[t] * svd.sigmas[t];
    EXPECT_NEAR(cov.sigmas[t], std::sqrt(w * w / 6.0), 1e-4 * cov.sigmas[t]);
  }
}

// A fit that finds no modes keeps d x 0 modes and 0 x 1 sigmas.
TEST(Kro_ShapePCA, FitsWithoutModesKeepDRowsOfModes) {
  struct Case {
    const char* name;
    int d, n, asked;
    bool svd;
  } cases[] = {
      {"svd, one sample", 3, 1, 6, true},
      {"svd, more samples than entries", 3, 5, 2, true},
      {"covariance, no mode asked", 4, 3, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto samples = RandomSamples(c.d, c.n, 9);
    Kro_ShapePCASvd svd = Fitted<Kro_ShapePCASvd>(samples, c.asked);
    Kro_ShapePCA cov = Fitted<Kro_ShapePCA>(samples, c.asked);
    const Kro_ShapePCA& model = c.svd ? static_cast<const Kro_ShapePCA&>(svd) : cov;
    EXPECT_EQ(model.NumModes(), 0);
    EXPECT_EQ(model.modes.rows, c.d);
    EXPECT_EQ(model.modes.cols, 0);
    EXPECT_EQ(model.sigmas.rows, 0);
    EXPECT_EQ(model.sigmas.cols, 1);
  }
}

// With no modes, modes x modes^T - I is -I: the record stores d defects of -1.
TEST(Kro_ShapePCA, ModelWithoutModesWritesAndReadsItsRecord) {
  const std::string record =
      "03000000 01000000 000000000000f03f 0000000000000040 0000000000000840"  // mean 3 x 1
      "03000000 00000000"                                                     // modes 3 x 0
      "00000000 01000000"                                                     // sigmas 0 x 1
      "03000000"                                                              // dimension
      "03000000 00000000 01000000 02000000 00000000 01000000 02000000"        // rows, cols
      "000080bf 000080bf 000080bf";                                           // values -1
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>({{1.0, 2.0, 3.0}}, 6);
  auto bytesOf = [](Kro_ShapePCA& m) {
    std::ostringstream out;
    m.Write(out);
    const std::string b = out.str();
    return ToHex(std::vector<uint8_t>(b.begin(), b.end()));
  };
  EXPECT_EQ(bytesOf(model), ToHex(HexBytes(record)));

  struct Case {
    const char* name;
    std::string hex;
    bool reads;
  } cases[] = {
      {"the record as written", record, true},
      {"modes and sigmas stored as 0 x 0",
       "03000000 01000000 000000000000f03f 0000000000000040 0000000000000840"
       "00000000 00000000 00000000 00000000 03000000 00000000",
       true},
      {"modes 2 x 0", "03000000 01000000 000000000000f03f 0000000000000040 0000000000000840"
                      "02000000 00000000 00000000 01000000 03000000 00000000",
       false},
      {"negative extent", "03000000 01000000 000000000000f03f 0000000000000040 0000000000000840"
                          "03000000 ffffffff 00000000 01000000 03000000 00000000",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> b = HexBytes(c.hex);
    std::istringstream in(std::string(b.begin(), b.end()));
    Kro_ShapePCASvd back;
    ASSERT_EQ(back.Read(in), c.reads);
    if (!c.reads) {
      EXPECT_EQ(back.dimension, 0);
      continue;
    }
    EXPECT_EQ(back.dimension, 3);
    EXPECT_EQ(back.modes.rows, 3);
    EXPECT_EQ(back.modes.cols, 0);
    EXPECT_EQ(back.sigmas.rows, 0);
    EXPECT_EQ(back.sigmas.cols, 1);
    EXPECT_EQ(bytesOf(back), ToHex(HexBytes(record)));
  }
}

// Two samples in six entries: the covariance has one direction of spread, and rounding
// leaves some of the other eigenvalues below 0; those modes get sigma 0, not NaN.
TEST(Kro_ShapePCA, NegativeEigenvaluesGiveSigmaZero) {
  Kro_ShapePCA model = Fitted<Kro_ShapePCA>(RandomSamples(6, 2, 1), 6);
  ASSERT_EQ(model.NumModes(), 6);
  int zero = 0;
  for (int t = 0; t < 6; ++t) {
    EXPECT_TRUE(std::isfinite(model.sigmas[t])) << t;
    EXPECT_GE(model.sigmas[t], 0.0) << t;
    zero += model.sigmas[t] == 0.0;
  }
  EXPECT_GT(zero, 0);
  std::ostringstream sink;
  model.Write(sink);
  EXPECT_TRUE(std::isfinite(model.ShapeEnergy(Column({1, 2, 3, 4, 5, 6}))));
  for (int r = 0; r < 6; ++r) EXPECT_TRUE(std::isfinite(model.EnergyDerivative(r))) << r;
}

TEST(Kro_ShapePCA, FitNeverKeepsMoreModesThanItFinds) {
  // Three samples: at most two directions of spread, whatever is asked.
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>(RandomSamples(10, 3, 3), 6);
  EXPECT_EQ(model.NumModes(), 2);
}

TEST(Kro_ShapePCA, WriteReadRoundTripKeepsModelAndDefects) {
  // As many modes as entries: modes x modes^T is the identity, so no defects.
  Kro_ShapePCA model = Fitted<Kro_ShapePCA>(RandomSamples(3, 6, 5), 3);
  ASSERT_EQ(model.NumModes(), 3);
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "orthonormal modes" : "a stretched mode");
    if (pass == 1)
      for (int r = 0; r < 3; ++r) model.modes(r, 1) *= 1.1;
    std::stringstream io;
    model.Write(io);
    EXPECT_EQ(model.orthoDefects.Count() > 0, pass == 1);
    Kro_ShapePCA back;
    ASSERT_TRUE(back.Read(io));
    EXPECT_EQ(back.dimension, 3);
    ASSERT_EQ(back.NumModes(), 3);
    for (int r = 0; r < 3; ++r) {
      EXPECT_EQ(back.mean[r], model.mean[r]);
      for (int t = 0; t < 3; ++t) EXPECT_EQ(back.modes(r, t), model.modes(r, t));
    }
    for (int t = 0; t < 3; ++t) EXPECT_EQ(back.sigmas[t], model.sigmas[t]);
    EXPECT_EQ(back.orthoDefects.values, model.orthoDefects.values);
    EXPECT_EQ(back.orthoDefects.rows, model.orthoDefects.rows);
    EXPECT_EQ(back.orthoDefects.cols, model.orthoDefects.cols);
  }
}

TEST(Kro_ShapePCA, ShapeEnergySplitsIntoModeAndResidualTerms) {
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>(RandomSamples(10, 4, 6), 2);
  ASSERT_EQ(model.NumModes(), 2);
  std::ostringstream sink;
  model.Write(sink);  // computes the (empty) defect list
  // mean + 2 sigma_0 along mode 0: energy 4, no residual.
  VectorQo<double> x = model.mean;
  for (int r = 0; r < 10; ++r) x[r] += 2.0 * model.sigmas[0] * model.modes(r, 0);
  EXPECT_NEAR(model.ShapeEnergy(x), 4.0, 1e-5);
  // An offset orthogonal to both modes adds residualWeight * |offset|^2.
  std::vector<double> o(10, 0.0);
  o[0] = 1.0;
  for (int t = 0; t < 2; ++t) {
    double dot = model.modes(0, t);
    for (int r = 0; r < 10; ++r) o[static_cast<size_t>(r)] -= dot * model.modes(r, t);
  }
  double norm2 = 0.0;
  for (double v : o) norm2 += v * v;
  VectorQo<double> y = model.mean;
  for (int r = 0; r < 10; ++r) y[r] += o[static_cast<size_t>(r)];
  EXPECT_NEAR(model.ShapeEnergy(y), 0.1 * norm2, 1e-5);
  // A vector of another length is not analysed.
  EXPECT_FALSE(model.Analyse(Column({1.0, 2.0})));
  EXPECT_EQ(model.EnergyDerivative(0), 0.0);
}

TEST(Kro_ShapePCA, SampleShapeKinds) {
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>(RandomSamples(6, 4, 7), 2);
  ASSERT_EQ(model.NumModes(), 2);
  VectorQo<double> out;
  model.SampleShape(out, 0, 0);
  for (int r = 0; r < 6; ++r) EXPECT_EQ(out[r], model.mean[r]);
  for (int kind : {1, 2}) {
    model.SampleShape(out, kind, 1);
    ASSERT_EQ(ElementCount(out), 6);
    const double f = kind == 1 ? 10.0 : -10.0;
    for (int r = 0; r < 6; ++r) EXPECT_DOUBLE_EQ(out[r], model.mean[r] + model.modes(r, 1) * model.sigmas[1] * f);
  }
  for (auto [kind, t] : {std::pair<int, int>{3, 0}, {1, 2}, {2, -1}}) {
    model.SampleShape(out, kind, t);
    EXPECT_EQ(ElementCount(out), 0) << kind << " " << t;
  }
  // Random shapes: a mode of sigma 0 still takes its draws and adds nothing.
  model.sigmas[1] = 0.0;
  ResetUniformRandomForTesting();
  model.SampleShape(out, -1, 0);
  EXPECT_GE(UniformRandomDrawCountForTesting(), 4);
  double along1 = 0.0;
  for (int r = 0; r < 6; ++r) along1 += (out[r] - model.mean[r]) * model.modes(r, 1);
  EXPECT_NEAR(along1, 0.0, 1e-9);
}

// EnergyDerivative and Reconstruct against shape_reference.py, which repeats the
// analysis with its single-precision steps and divides by sigma * sigma.
TEST(Kro_ShapePCA, EnergyDerivativeAndReconstructMatchTheReference) {
  const int d = 5, m = 3;
  const double mean[d] = {0.3, -1.1, 2.0, 0.25, -0.7};
  const double modes[d][m] = {{0.6, 0.1, 0.3}, {-0.5, 0.7, 0.2}, {0.3, 0.5, -0.6}, {0.4, -0.2, 0.5}, {-0.35, -0.45, 0.1}};
  const double sigmas[m] = {3.0, 1.9, 0.0};  // a mode of sigma 0 adds nothing
  const struct {
    int row, col;
    float value;
  } defects[] = {{0, 1, 0.013f}, {2, 2, -0.21f}, {4, 0, 0.07f}, {1, 3, -0.0335f}};
  const double x[d] = {1.7, -0.3, 0.9, 2.2, -1.9};

  Kro_ShapePCA model;
  model.dimension = d;
  model.mean = Column(std::vector<double>(mean, mean + d));
  model.modes.SetSize(d, m);
  for (int r = 0; r < d; ++r)
    for (int t = 0; t < m; ++t) model.modes(r, t) = modes[r][t];
  model.sigmas = Column(std::vector<double>(sigmas, sigmas + m));
  model.orthoDefects.Resize(4);
  for (int n = 0; n < 4; ++n) model.orthoDefects.Set(n, defects[n].value, defects[n].row, defects[n].col);

  std::ostringstream text;
  text.precision(17);
  text << d << " " << m << "\n";
  for (double v : mean) text << v << " ";
  for (const auto& row : modes)
    for (double v : row) text << v << " ";
  for (double v : sigmas) text << v << " ";
  text << "\n4\n";
  for (const auto& e : defects) text << e.row << " " << e.col << " " << e.value << "\n";
  for (double v : x) text << v << " ";
  TempFolder tmp;
  WriteFileText(tmp.file("model.txt"), text.str());
  ProcessResult r = RunProcess({SEGMENTER_PYTHON, std::string(SEGMENTER_SOURCE_DIR) + "/tests/models/shape_reference.py",
                                "energy", tmp.file("model.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream out(r.out);

  const VectorQo<double> xv = Column(std::vector<double>(x, x + d));
  ASSERT_TRUE(model.Analyse(xv));
  for (int row = 0; row < d; ++row) {
    double expected = 0.0;
    ASSERT_TRUE(out >> expected);
    EXPECT_EQ(model.EnergyDerivative(row), expected) << "entry " << row;
  }
  VectorQo<double> rebuilt;
  model.Reconstruct(rebuilt, xv);
  ASSERT_EQ(ElementCount(rebuilt), d);
  for (int row = 0; row < d; ++row) {
    double expected = 0.0;
    ASSERT_TRUE(out >> expected);
    EXPECT_TRUE(std::isfinite(expected));
    EXPECT_EQ(rebuilt[row], expected) << "entry " << row;
  }
}

}  // namespace
