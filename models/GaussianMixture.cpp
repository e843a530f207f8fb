#include "models/GaussianMixture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "platform/Fatal.h"
#include "platform/ParallelFor.h"

namespace {

// Single-precision constants widened to double, as the mixture has always used them.
const double kDensityFloor = static_cast<double>(1e-10f);
const double kRegularisation = static_cast<double>(1e-5f);
const double kStopTolerance = static_cast<double>(1e-8f);
// A fit runs up to 200 cycles of two loops; below this many sample-component-dimension
// terms a loop costs less on this thread than waking the workers does.
const long long kSharedWork = 1 << 15;

// 6.28318^d by repeated squaring (the reciprocal for a negative d).
double TwoPiPower(int d) {
  double base = 6.28318;
  double result = 1.0;
  unsigned n = d < 0 ? static_cast<unsigned>(-static_cast<long long>(d)) : static_cast<unsigned>(d);
  while (n) {
    if (n & 1u) result *= base;
    base *= base;
    n >>= 1;
  }
  return d < 0 ? 1.0 / result : result;
}

// The inverse and determinant of every covariance, as ComponentDensity forms them.
struct ComponentInverse {
  Matrix2 inverse;
  double det = 0.0;
  bool ok = false;
};

ComponentInverse InvertCovariance(const Matrix2& covariance) {
  ComponentInverse c;
  covariance.Invert(c.inverse, &c.det);
  c.ok = gInversionSucceeded != 0;
  return c;
}

// Density at x (d values) for a component of mean row `k` of `means`; `diff` and `row`
// are scratch of d elements.
double Density(const double* x, const Matrix2& means, int k, const ComponentInverse& c, int d, double* diff,
               double* row) {
  for (int j = 0; j < d; ++j) diff[j] = x[j] - means(k, j);
  // (x - mean)^T * inverse, then times (x - mean).
  for (int j = 0; j < d; ++j) {
    double sum = 0.0;
    for (int i = 0; i < d; ++i) sum += diff[i] * c.inverse(i, j);
    row[j] = sum;
  }
  double q = 0.0;
  for (int j = 0; j < d; ++j) q += row[j] * diff[j];
  const double p = std::exp(-q / 2.0) / std::sqrt(std::fabs(c.det) * TwoPiPower(d));
  return p < kDensityFloor ? kDensityFloor : p;
}

void ReportFailedInversion(int k) { std::printf("fail invert sigma matrix %d\n", k); }

}  // namespace

void GaussianMixture::Init(int K, int d) {
  numComponents = K;
  dimension = d;
  weights.assign(K > 0 ? K : 0, K > 0 ? 1.0 / K : 0.0);
  means.Resize(0, 0, false);
  means.Resize(K, d, false);
  covariances.assign(K > 0 ? K : 0, Matrix2(d, d));
  for (Matrix2& c : covariances) c.SetIdentity();
}

void GaussianMixture::InitFromData(int K, const Matrix2& samples) {
  numComponents = K;
  dimension = samples.Cols();
  const int d = dimension;
  double lo = 65535.0;
  double hi = 0.0;
  for (int i = 0; i < samples.Rows(); ++i) {
    const double v = samples(i, 0);
    if (v < lo) lo = v;
    if (v > hi) hi = v;
  }
  weights.assign(K > 0 ? K : 0, K > 0 ? 1.0 / K : 0.0);
  means.Resize(0, 0, false);
  means.Resize(K, d, false);
  covariances.assign(K > 0 ? K : 0, Matrix2(d, d));
  const double spread = (hi - lo) / (6 * K);
  for (int k = 0; k < K; ++k) {
    const double mean = lo + (k + 1) * (hi - lo) / (K + 1);
    for (int j = 0; j < d; ++j) means(k, j) = mean;
    Matrix2& c = covariances[k];
    for (int i = 0; i < d; ++i)
      for (int j = 0; j < d; ++j) c(i, j) = spread * spread;
    for (int i = 0; i < d; ++i) c(i, i) += kRegularisation;
  }
}

double GaussianMixture::ComponentDensity(Vector2 x, int k) const {
  const ComponentInverse c = InvertCovariance(covariances[k]);
  if (!c.ok) {
    ReportFailedInversion(k);
    return 0.0;
  }
  const int d = dimension;
  std::vector<double> point(d > 0 ? d : 0, 0.0), diff(point), row(point);
  for (int j = 0; j < d && j < x.Size(); ++j) point[j] = x[j];
  return Density(point.data(), means, k, c, d, diff.data(), row.data());
}

int GaussianMixture::FitEM(const Matrix2& samples) {
  const int n = samples.Rows();
  const int K = numComponents;
  const int d = dimension;
  if (n < 1 || K < 1 || d < 1 || samples.Cols() < d) return 0;

  std::vector<double> resp(static_cast<size_t>(n) * K);
  std::vector<double> logTerms(static_cast<size_t>(n));
  struct Scratch {
    std::vector<double> density, diff, row, point;
  };
  std::vector<Scratch> scratch(static_cast<size_t>(std::max(1, WorkerCount())));
  // At least 16 elements each, so that no two workers write into one cache line.
  const size_t kPad = 16;
  for (Scratch& own : scratch) {
    own.density.assign(std::max(static_cast<size_t>(K), kPad), 0.0);
    own.diff.assign(std::max(static_cast<size_t>(d), kPad), 0.0);
    own.row.assign(std::max(static_cast<size_t>(d), kPad), 0.0);
    own.point.assign(std::max(static_cast<size_t>(d), kPad), 0.0);
  }
  std::vector<ComponentInverse> inverses(K);
  const bool share = static_cast<long long>(n) * K * d >= kSharedWork;
  const auto forEach = [share](int count, const std::function<void(int, int)>& body) {
    if (share) {
      ParallelFor(0, count, body);
    } else {
      for (int i = 0; i < count; ++i) body(i, 0);
    }
  };
  double previous = -1e10;
  int cycle = 0;
  while (true) {
    ++cycle;
    if (cycle > 200) break;

    // E-step. The inverses depend only on the covariances, so they are formed once a
    // cycle; the densities are those ComponentDensity gives.
    for (int k = 0; k < K; ++k) inverses[k] = InvertCovariance(covariances[k]);
    // A covariance that does not invert gives the first sample a density of 0, which
    // ends the run; report it here, as the sample loop would, before any worker starts.
    for (int k = 0; k < K; ++k) {
      if (inverses[k].ok) continue;
      ReportFailedInversion(k);
      std::printf("%f\n", 0.0);
      FatalExit(1, "Error: Null probability. Abort.\n");
    }
    // Per-sample densities and responsibilities on every worker (scratch per worker);
    // the log-likelihood is summed afterwards in sample order.
    forEach(n, [&](int i, int w) {
      Scratch& own = scratch[static_cast<size_t>(w)];
      for (int j = 0; j < d; ++j) own.point[j] = samples(i, j);
      double s = 0.0;
      for (int k = 0; k < K; ++k) {
        const double p = Density(own.point.data(), means, k, inverses[k], d, own.diff.data(), own.row.data());
        own.density[k] = p;
        s += weights[k] * p;
      }
      logTerms[static_cast<size_t>(i)] = std::log(s);
      for (int k = 0; k < K; ++k) resp[static_cast<size_t>(i) * K + k] = weights[k] * own.density[k] / s;
    });
    double logLikelihood = 0.0;
    for (int i = 0; i < n; ++i) logLikelihood += logTerms[static_cast<size_t>(i)];

    const double meanLogLikelihood = logLikelihood / n;
    if (std::fabs(meanLogLikelihood / previous - 1.0) < kStopTolerance) break;
    previous = meanLogLikelihood;

    // M-step: the components are independent items (each sums over the samples in
    // sample order), shared among the workers.
    forEach(K, [&](int k, int w) {
      std::vector<double>& delta = scratch[static_cast<size_t>(w)].diff;
      double nk = 0.0;
      for (int i = 0; i < n; ++i) nk += resp[static_cast<size_t>(i) * K + k];
      if (!(nk > 0.0) || !std::isfinite(nk)) {
        // No responsibility: the component keeps its shape and drops out of the mixture.
        weights[k] = 0.0;
        return;
      }
      weights[k] = nk / n;
      Vector2 sum(d);
      for (int i = 0; i < n; ++i) {
        const double r = resp[static_cast<size_t>(i) * K + k];
        for (int j = 0; j < d; ++j) sum[j] += r * samples(i, j);
      }
      const Vector2 mean = sum / nk;
      means.SetRow(mean, k);
      Matrix2 scatter(d, d);
      for (int i = 0; i < n; ++i) {
        const double r = resp[static_cast<size_t>(i) * K + k];
        for (int a = 0; a < d; ++a) delta[a] = samples(i, a) - mean[a];
        for (int a = 0; a < d; ++a)
          for (int b = 0; b < d; ++b) scatter(a, b) += r * delta[a] * delta[b];
      }
      Matrix2 covariance = scatter / nk;
      for (int a = 0; a < d; ++a) covariance(a, a) += kRegularisation;
      covariances[k] = covariance;
    });
  }
  return cycle;
}
