#pragma once
#include "numerics/RF.h"

// Equally likely values a, a + width, ... up to b.
class RF_uniform : public RF {
 public:
  // Takes one draw (the RF's).
  RF_uniform() = default;
  // centre = (a + b) / 2, spread = b - a; min = a; bins = trunc((b - a) / width + 1)
  // masses of 1, then BuildSamplingTable(false), which makes them 1 / bins.
  void Init(double a, double b, double width) override;

  double centre = 0.0;
  double spread = 0.0;
};
