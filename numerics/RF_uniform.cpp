#include "numerics/RF_uniform.h"

#include <cmath>

void RF_uniform::Init(double a, double b, double w) {
  centre = (a + b) * 0.5;
  spread = b - a;
  width = w;
  min = a;
  bins = BinCountOf((b - a) / w + 1.0);
  pdf.SetSize(bins > 0 ? bins : 0);
  pdf.Fill(1.0);
  BuildSamplingTable(false);
}
