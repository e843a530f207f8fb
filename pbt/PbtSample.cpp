#include "pbt/PbtSample.h"

#include "platform/ParallelFor.h"

int PbtSample::computeFeatures(VectorQo<float>& out, const std::vector<PbtFid>& pool) {
  const int n = static_cast<int>(pool.size());
  out.SetSize(n);
  for (int i = 0; i < n; ++i) out[i] = getFeatureValue(pool[i]);
  return n;
}

bool RefreshWorkerCopies(std::vector<std::unique_ptr<PbtSample>>& copies, const PbtSample& shared, int workers) {
  copies.resize(static_cast<size_t>(workers));
  ParallelFor(0, workers, [&](int w, int) {
    std::unique_ptr<PbtSample>& copy = copies[static_cast<size_t>(w)];
    if (!copy || copy->dataStamp() != shared.dataStamp()) copy.reset(shared.workerCopy());
  });
  for (const std::unique_ptr<PbtSample>& copy : copies)
    if (!copy) return false;
  return true;
}
