#pragma once
#include "numerics/RF.h"

// A Gaussian discretised on six sigma around its mean.
class RF_gaussian : public RF {
 public:
  // Takes one draw (the RF's).
  RF_gaussian() = default;
  // bins = trunc(6 sigma / width + 1); min = mean - width * ((bins - 1) / 2) with
  // integer division, so an even count reaches one bin further above the mean;
  // masses exp(-d^2 / (2 sigma^2)) / (sigma sqrt(2 pi)), then BuildSamplingTable(false).
  void Init(double mean, double sigma, double width) override;

  double mean = 0.0;
  double sigma = 0.0;
};
