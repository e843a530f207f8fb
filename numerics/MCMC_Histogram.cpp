#include "numerics/MCMC_Histogram.h"

#include <cmath>

#include "numerics/HistogramFunctions.h"
#include "platform/Conversions.h"

MCMC_Histogram::~MCMC_Histogram() { Release(); }

void MCMC_Histogram::WriteText(std::FILE* f) const {
  std::fprintf(f, "%d\n", count);
  std::fprintf(f, "%.14f\n", min);
  std::fprintf(f, "%.14f\n", width);
  std::fprintf(f, "%.14f\n", below);
  std::fprintf(f, "%.14f\n", above);
  for (int i = 0; i < count; ++i) std::fprintf(f, "%.14f\n", bins[i]);
}

bool MCMC_Histogram::ReadText(std::FILE* f) {
  int n = 0;
  double fields[4];
  if (std::fscanf(f, "%d", &n) != 1 || n < 0) return false;
  for (double& v : fields) {
    if (std::fscanf(f, "%lf", &v) != 1) return false;
  }
  // The masses are collected as they are read, so nothing is sized from the count
  // before the file has shown that it holds that many values.
  std::vector<double> masses;
  for (int i = 0; i < n; ++i) {
    double v;
    if (std::fscanf(f, "%lf", &v) != 1) return false;
    masses.push_back(v);
  }
  min = fields[0];
  width = fields[1];
  below = fields[2];
  above = fields[3];
  // As Resize does for a count below 1, a count of 0 keeps the bins as they are.
  if (n == 0) return true;
  bins.swap(masses);
  count = n;
  return true;
}

void MCMC_Histogram::SetRange(double lo, double hi, double w) {
  min = lo;
  width = w;
  double n = std::floor((hi - lo) / w) + 1.0;
  if (std::isfinite(n)) Resize(TruncToInt32(n));
  Fill(0.0);
}

void MCMC_Histogram::Normalize() {
  double total = 0.0;
  for (int i = 0; i < count; ++i) total += bins[i];
  if (!bareNormalize) total += below + above;
  if (total <= 0.0) return;
  for (int i = 0; i < count; ++i) bins[i] /= total;
  if (!bareNormalize) {
    below /= total;
    above /= total;
  }
}

void MCMC_Histogram::Fill(double value) {
  for (int i = 0; i < count; ++i) bins[i] = value;
  below = 0.0;
  above = 0.0;
}

int MCMC_Histogram::SerializedSize() const { return count < 1 ? 8 : 2 * count + 8; }

namespace {

// base^|k| by repeated squaring, inverted for a negative k.
double IntegerPower(double base, int k) {
  double result = 1.0;
  double square = base;
  for (int e = k < 0 ? -k : k; e != 0; e >>= 1) {
    if (e & 1) result *= square;
    square *= square;
  }
  return k < 0 ? 1.0 / result : result;
}

}  // namespace

double MCMC_Histogram::Moment(short k) const {
  double mean = 0.0;
  for (int i = 0; i < count; ++i) mean += (min + i * width) * bins[i];
  if (k == 1) return mean;
  double s = 0.0;
  for (int i = 0; i < count; ++i) s += IntegerPower(min + i * width - mean, k) * bins[i];
  return Sign(s) * std::pow(std::fabs(s), 1.0 / k);
}

bool MCMC_Histogram::Resize(int n) {
  if (n == count || n < 1) return true;
  bins.assign(static_cast<size_t>(n), 0.0);
  count = n;
  return true;
}

void MCMC_Histogram::Release() {
  std::vector<double>().swap(bins);
  count = 0;
  min = 0.0;
  width = 0.0;
  below = 0.0;
  above = 0.0;
  spare = 0.0;
}

double MCMC_Histogram::Entropy() const {
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    if (bins[i] > 0.0) sum += bins[i] * std::log(bins[i]);
  }
  return -sum;
}

void MCMC_Histogram::Add(double x, double mass) {
  if (std::isnan(x)) return;
  double t;
  if (width == 0.0) {
    t = x == min ? 0.0 : (x < min ? -1.0 : static_cast<double>(count));
  } else {
    t = std::floor((x - min) / width);
  }
  if (std::isnan(t)) return;
  if (t < 0.0) {
    below += mass;
  } else if (t >= count) {
    above += mass;
  } else {
    bins[static_cast<size_t>(t)] += mass;
  }
}
