#pragma once
// GaussianMixture: K normal distributions over d-dimensional vectors, started from the
// range of its samples and fitted by expectation-maximisation. The region competition
// uses it with d = 1 (one intensity per sample).
//
// Samples are a Matrix2 with one sample per row (N rows, d columns).
// No random draws are taken.
#include <vector>

#include "models/Matrix2.h"
#include "models/Vector2.h"

class GaussianMixture {
 public:
  GaussianMixture() = default;
  virtual ~GaussianMixture() = default;

  // K components over d dimensions: weights 1/K, zero means, identity covariances.
  void Init(int numComponents, int dimension);
  // d = columns of `samples`. With lo / hi the smallest / largest value of the first
  // column (starting from lo = 65535, hi = 0): mean k = lo + (k + 1)(hi - lo) / (K + 1)
  // in every coordinate, every covariance entry ((hi - lo) / (6K))^2 with the float
  // 1e-5 added on the diagonal, weights 1/K.
  void InitFromData(int numComponents, const Matrix2& samples);
  // Density of component k at x, floored at the float 1e-10. When the covariance does
  // not invert, prints "fail invert sigma matrix <k>" and returns 0.
  double ComponentDensity(Vector2 x, int k) const;
  // Fits in place by EM: at most 200 cycles; stops before the M-step once the mean
  // log-likelihood changes by less than a relative float 1e-8. A component that gets
  // no responsibility (n_k = 0 or not finite) keeps its mean and covariance and gets
  // weight 0. A density of exactly 0 (after a failed inversion) prints it and
  // "Error: Null probability. Abort." and ends the program with status 1.
  // Returns the number of cycles begun.
  int FitEM(const Matrix2& samples);

  int numComponents = 0;
  int dimension = 0;
  Matrix2 means;                      // K x d, row k the mean of component k
  std::vector<Matrix2> covariances;   // K matrices, d x d
  std::vector<double> weights;        // K weights
};
