#include "pbt/PbtFeatureFill.h"

#include <algorithm>

#include "platform/ParallelFor.h"

namespace {
// Entries per batch: enough to keep every worker busy, small enough for the buffer.
constexpr int kBatchEntries = 2048;
// Features per block of the delivery.
constexpr int kBlockFeatures = 64;
}  // namespace

PbtFeatureFill::PbtFeatureFill(int numFeatures, Sink sink)
    : numFeatures_(std::max(0, numFeatures)),
      sink_(std::move(sink)),
      values_(new float[static_cast<size_t>(kBatchEntries) * static_cast<size_t>(std::max(1, numFeatures))]),
      counts_(static_cast<size_t>(kBatchEntries), 0),
      batch_(
          kBatchEntries, [this](PbtSample& sample, int slot, int, int worker) { compute(sample, slot, worker); },
          [this](int count, const int* tags) { deliver(count, tags); }) {
  // The batch never hands out a worker index of its count or above.
  outs_.resize(static_cast<size_t>(batch_.workers()));
}

void PbtFeatureFill::compute(PbtSample& sample, int slot, int worker) {
  VectorQo<float>& out = outs_[static_cast<size_t>(worker)];
  const int n = std::min(sample.computeAllFeatures(out), numFeatures_);
  counts_[static_cast<size_t>(slot)] = std::max(n, 0);
  if (n > 0) std::copy(&out[0], &out[0] + n, values_.get() + static_cast<size_t>(slot) * numFeatures_);
}

void PbtFeatureFill::deliver(int count, const int* tags) {
  const auto block = [&](int b, int) {
    const int first = b * kBlockFeatures;
    const int last = std::min(numFeatures_, first + kBlockFeatures);
    for (int e = 0; e < count; ++e) {
      const int n = counts_[static_cast<size_t>(e)];
      if (n > first) sink_(tags[e], values_.get() + static_cast<size_t>(e) * numFeatures_, first, std::min(last, n));
    }
  };
  const int blocks = (numFeatures_ + kBlockFeatures - 1) / kBlockFeatures;
  // One entry alone is not worth waking the workers.
  if (count == 1) {
    for (int b = 0; b < blocks; ++b) block(b, 0);
  } else {
    ParallelFor(0, blocks, block);
  }
}
