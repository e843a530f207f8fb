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

TEST(Kro_ShapePCA, OneSampleGivesNoModesAndAnEmptyRecord) {
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>({{1.0, 2.0, 3.0}}, 6);
  EXPECT_EQ(model.NumModes(), 0);
  std::ostringstream out;
  model.Write(out);
  const std::string bytes = out.str();
  std::vector<uint8_t> v(bytes.begin(), bytes.end());
  EXPECT_EQ(ToHex(v), ToHex(HexBytes("03000000 01000000 000000000000f03f 0000000000000040 0000000000000840"
                                     "00000000 00000000  00000000 00000000  03000000  00000000")));
}

TEST(Kro_ShapePCA, FitNeverKeepsMoreModesThanItFinds) {
  // Three samples: at most two directions of spread, whatever is asked.
  Kro_ShapePCASvd model = Fitted<Kro_ShapePCASvd>(RandomSamples(10, 3, 3), 6);
  EXPECT_EQ(model.NumModes(), 2);
  // More samples than entries: the decomposition cannot run, no modes.
  Kro_ShapePCASvd wide = Fitted<Kro_ShapePCASvd>(RandomSamples(3, 5, 4), 2);
  EXPECT_EQ(wide.NumModes(), 0);
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

}  // namespace
