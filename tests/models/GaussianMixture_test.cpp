#include "models/GaussianMixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "models/CBrainGMM.h"

namespace {

Matrix2 Column(const std::vector<double>& values) {
  Matrix2 m(static_cast<int>(values.size()), 1);
  for (int i = 0; i < m.Rows(); ++i) m(i, 0) = values[i];
  return m;
}

struct ReferenceFit {
  std::vector<double> samples;
  int cycles = 0;
  std::vector<double> weights, means, variances;
};

std::vector<double> Numbers(std::istringstream& in) {
  std::vector<double> out;
  for (double v; in >> v;) out.push_back(v);
  return out;
}

// Reads data/gmm_reference.txt, written by gmm_reference.py beside this file.
std::vector<ReferenceFit> LoadReference() {
  std::ifstream in(std::string(SEGMENTER_SOURCE_DIR) + "/tests/models/data/gmm_reference.txt");
  std::vector<ReferenceFit> fits;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "samples") {
      fits.emplace_back();
      fits.back().samples = Numbers(words);
    } else if (key == "cycles") {
      words >> fits.back().cycles;
    } else if (key == "weights") {
      fits.back().weights = Numbers(words);
    } else if (key == "means") {
      fits.back().means = Numbers(words);
    } else if (key == "variances") {
      fits.back().variances = Numbers(words);
    }
  }
  return fits;
}

void ExpectRelative(double got, double expected) {
  EXPECT_NEAR(got, expected, 1e-10 * std::fabs(expected));
}

}  // namespace

TEST(GaussianMixtureTest, StartsFromTheSampleRange) {
  GaussianMixture g;
  g.InitFromData(3, Column({0, 300, 120}));
  const double variance = (300.0 / 18) * (300.0 / 18) + static_cast<double>(1e-5f);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(g.means(k, 0), 75.0 * (k + 1));
    EXPECT_EQ(g.covariances[k](0, 0), variance);
    EXPECT_EQ(g.weights[k], 1.0 / 3);
  }
  // Equal samples: every mean is the value and every variance the float 1e-5.
  g.InitFromData(3, Column({42, 42}));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(g.means(k, 0), 42.0);
    EXPECT_EQ(g.covariances[k](0, 0), 9.999999747378752e-06);
  }
  EXPECT_GE(g.FitEM(Column({42, 42})), 1);
  EXPECT_TRUE(std::isfinite(g.means(0, 0)));
}

TEST(GaussianMixtureTest, ComponentDensityFormulaAndFloor) {
  GaussianMixture g;
  g.Init(2, 1);
  g.means(1, 0) = 10.0;
  g.covariances[1](0, 0) = 4.0;
  Vector2 x(1);
  x[0] = 11.0;
  EXPECT_NEAR(g.ComponentDensity(x, 1), std::exp(-0.125) / std::sqrt(4.0 * 6.28318), 1e-15);
  x[0] = 1000.0;
  EXPECT_EQ(g.ComponentDensity(x, 0), 1.000000013351432e-10);
  g.covariances[0](0, 0) = 1e-7;
  testing::internal::CaptureStdout();
  EXPECT_EQ(g.ComponentDensity(x, 0), 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "fail invert sigma matrix 0\n");
  EXPECT_EQ(gInversionSucceeded, 0);
}

TEST(GaussianMixtureTest, FitMatchesIndependentEm) {
  const std::vector<ReferenceFit> fits = LoadReference();
  ASSERT_EQ(fits.size(), 3u);
  for (const ReferenceFit& ref : fits) {
    SCOPED_TRACE(ref.cycles);
    const Matrix2 samples = Column(ref.samples);
    GaussianMixture g;
    g.InitFromData(3, samples);
    EXPECT_EQ(g.FitEM(samples), ref.cycles);
    for (int k = 0; k < 3; ++k) {
      ExpectRelative(g.weights[k], ref.weights[k]);
      ExpectRelative(g.means(k, 0), ref.means[k]);
      ExpectRelative(g.covariances[k](0, 0), ref.variances[k]);
    }
  }
}

TEST(GaussianMixtureTest, ComponentWithoutResponsibilityKeepsItsShape) {
  const Matrix2 samples = Column({10, 12, 11, 50, 52, 51, 90});
  GaussianMixture g;
  g.InitFromData(3, samples);
  g.weights = {0.5, 0.5, 0.0};
  const double mean = g.means(2, 0), variance = g.covariances[2](0, 0);
  g.FitEM(samples);
  EXPECT_EQ(g.weights[2], 0.0);
  EXPECT_EQ(g.means(2, 0), mean);
  EXPECT_EQ(g.covariances[2](0, 0), variance);
  EXPECT_TRUE(std::isfinite(g.means(0, 0)));
  EXPECT_NEAR(g.weights[0] + g.weights[1], 1.0, 1e-12);
}

TEST(GaussianMixtureDeathTest, NullProbabilityEndsWithFailure) {
  GaussianMixture g;
  g.Init(1, 1);
  g.covariances[0](0, 0) = 1e-7;
  EXPECT_EXIT(g.FitEM(Column({1, 2})), testing::ExitedWithCode(1), "");
}

TEST(CBrainGMMTest, GathersEveryStepthVoxelXOutermost) {
  // 3 x 3 x 3, intensity = 100 z + 10 y + x + 1 (never 0) except one zero voxel;
  // labels 1 where x + y + z is even, else 2; one voxel of label 9 (beyond the table).
  HeapMatrix3D<short> intensity;
  HeapMatrix3D<unsigned char> labels;
  intensity.SetSize(3, 3, 3);
  labels.SetSize(3, 3, 3);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) {
        intensity(z, y, x) = static_cast<short>(100 * z + 10 * y + x + 1);
        labels(z, y, x) = (x + y + z) % 2 == 0 ? 1 : 2;
      }
  intensity(1, 0, 0) = 0;  // label 2, skipped without counting
  labels(2, 2, 1) = 9;
  CBrainGMM gmm(3, 2);
  std::vector<Matrix2> samples(3);
  gmm.GatherSamples(intensity, labels, samples, 3, 2);
  std::vector<double> one, two;
  for (int i = 0; i < samples[1].Rows(); ++i) one.push_back(samples[1](i, 0));
  for (int i = 0; i < samples[2].Rows(); ++i) two.push_back(samples[2](i, 0));
  // Label 1 is met as 1 201 111 21 221 102 12 212 ..., label 2 as 11 211 121 2 ...;
  // every second of each is kept.
  EXPECT_EQ(one, (std::vector<double>{201, 21, 102, 212, 3, 113, 223}));
  EXPECT_EQ(two, (std::vector<double>{211, 2, 112, 103, 213}));
  EXPECT_EQ(samples[0].Rows(), 0);
}

TEST(CBrainGMMTest, FitSkipsLabelZeroAndLabelsWithoutSamples) {
  HeapMatrix3D<short> intensity;
  HeapMatrix3D<unsigned char> labels;
  intensity.SetSize(4, 4, 4);
  labels.SetSize(4, 4, 4);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x) {
        labels(z, y, x) = z < 2 ? 0 : 1;
        intensity(z, y, x) = static_cast<short>(z < 2 ? 7 : 40 + x + 3 * y);
      }
  CBrainGMM gmm(3, 2);
  EXPECT_EQ(gmm.Fit(intensity, labels, 1), 0);
  EXPECT_EQ(gmm.mixtures[0].means(0, 0), 0.0);  // never fitted
  EXPECT_EQ(gmm.mixtures[2].covariances[1](0, 0), 1.0);  // no samples: as constructed
  EXPECT_GT(gmm.mixtures[1].means(0, 0), 40.0);
  EXPECT_LT(gmm.mixtures[1].means(2, 0), 52.0);
}

// Densities on every worker, the log-likelihood summed in sample order: the fit
// (cycles, weights, means, covariances) is the one-worker fit bit for bit, in one and
// two dimensions.
TEST(GaussianMixtureTest, SeveralWorkersFitTheBitsOfOne) {
  for (int d = 1; d <= 2; ++d) {
    SCOPED_TRACE(d);
    Matrix2 samples(12001, d);  // large enough for the fit to share its loops
    for (int i = 0; i < samples.Rows(); ++i)
      for (int j = 0; j < d; ++j)
        samples(i, j) = 40.0 * (i % 3) + std::fmod(i * 0.618034 * (j + 1), 1.0) * 25.0 + j;
    std::vector<std::vector<double>> bits(2);
    std::vector<int> cycles(2);
    for (int run = 0; run < 2; ++run) {
      ScopedWorkerCount count(run == 0 ? 1 : 5);
      GaussianMixture g;
      g.InitFromData(3, samples);
      cycles[run] = g.FitEM(samples);
      for (int k = 0; k < 3; ++k) {
        bits[run].push_back(g.weights[k]);
        for (int a = 0; a < d; ++a) {
          bits[run].push_back(g.means(k, a));
          for (int b = 0; b < d; ++b) bits[run].push_back(g.covariances[k](a, b));
        }
      }
    }
    EXPECT_GT(cycles[0], 2);
    EXPECT_EQ(cycles[1], cycles[0]);
    ASSERT_EQ(bits[1].size(), bits[0].size());
    EXPECT_EQ(0, std::memcmp(bits[0].data(), bits[1].data(), bits[0].size() * sizeof(double)));
  }
}
