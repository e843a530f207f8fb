#include "numerics/RF_gaussian.h"

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

void RF_gaussian::Init(double m, double s, double w) {
  mean = m;
  sigma = s;
  width = w;
  bins = BinCountOf(6.0 * s / w + 1.0);
  int half = (bins - 1) / 2;
  min = m - w * half;
  if (bins > 0) {
    pdf.SetSize(bins);
    const double scale = 1.0 / (s * std::sqrt(2.0 * kPi));
    for (int i = 0; i < bins; ++i) {
      double d = i * w + min - m;
      pdf[i] = std::exp(-(d * d) / (2.0 * s * s)) * scale;
    }
    BuildSamplingTable(false);
  }
}
