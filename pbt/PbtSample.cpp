#include "pbt/PbtSample.h"

int PbtSample::computeFeatures(VectorQo<float>& out, const std::vector<PbtFid>& pool) {
  const int n = static_cast<int>(pool.size());
  out.SetSize(n);
  for (int i = 0; i < n; ++i) out[i] = getFeatureValue(pool[i]);
  return n;
}
