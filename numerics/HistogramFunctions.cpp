#include "numerics/HistogramFunctions.h"

#include "numerics/RF.h"

int Sign(double x) {
  if (x < 0.0) return -1;
  if (x > 0.0) return 1;
  return 0;
}

int SignOfFloat(float x) {
  if (x < 0.0f) return -1;
  if (x > 0.0f) return 1;
  return 0;
}

double HistogramPeakValue(const RF& r) {
  int i = r.pdf.ArgMax();
  return r.min + i * r.width + 0.5 * r.width;
}

double FindTopHistogramPeak(const RF& h) {
  const VectorQo<double>& p = h.pdf;
  int n = p.rows * p.cols;
  double prev = 0.0;
  int taken = 0;
  for (int i = n - 1; i >= 1; --i) {
    double right = p[i + 1 < n ? i + 1 : n - 1];
    if (!(p[i] > 0.01 && p[i] > right && p[i] > p[i - 1])) continue;
    if (p[i] <= prev) break;
    prev = p[i];
    if (taken > 0 && (i > taken ? i - taken : taken - i) >= 8) break;
    taken = i;
  }
  return h.min + taken * h.width + 0.5 * h.width;
}
