#include "pbt/PbtFeatureFill.h"

#include <algorithm>

#include "platform/ParallelFor.h"

namespace {
// Entries per batch: enough to keep every worker busy, small enough for the buffer.
constexpr size_t kBatchEntries = 2048;
}  // namespace

PbtFeatureFill::PbtFeatureFill(int numFeatures, Sink sink)
    : numFeatures_(std::max(0, numFeatures)), sink_(std::move(sink)), workers_(std::max(1, WorkerCount())) {}

PbtFeatureFill::~PbtFeatureFill() = default;

void PbtFeatureFill::computeNow(PbtSample* sample, int tag) {
  const int n = std::min(sample->computeAllFeatures(scratch_), numFeatures_);
  sink_(tag, n > 0 ? &scratch_[0] : nullptr, n);
}

void PbtFeatureFill::add(PbtSample* sample, int tag) {
  if (sample == nullptr) return;
  PbtSample::Place place;
  if (workers_ <= 1 || !sample->getPlace(place)) {
    flush();
    computeNow(sample, tag);
    return;
  }
  if (!pending_.empty() && (sample != shared_ || place.dataStamp != batchStamp_)) flush();
  if (pending_.empty()) {
    // A batch starts while the shared sample holds its data: bring the copies to it.
    shared_ = sample;
    batchStamp_ = place.dataStamp;
    copies_.resize(static_cast<size_t>(workers_));
    bool usable = true;
    ParallelFor(0, workers_, [&](int w, int) {
      std::unique_ptr<PbtSample>& copy = copies_[static_cast<size_t>(w)];
      if (!copy || copy->dataStamp() != batchStamp_) copy.reset(sample->workerCopy());
    });
    for (const std::unique_ptr<PbtSample>& copy : copies_) usable = usable && copy != nullptr;
    if (!usable) {
      computeNow(sample, tag);
      return;
    }
  }
  pending_.push_back(Pending{place, tag});
  if (pending_.size() >= kBatchEntries) flush();
}

void PbtFeatureFill::flush() {
  if (pending_.empty()) return;
  const int count = static_cast<int>(pending_.size());
  const size_t stride = static_cast<size_t>(numFeatures_);
  values_.assign(static_cast<size_t>(count) * stride, 0.0f);
  std::vector<int> counts(static_cast<size_t>(count), 0);
  std::vector<VectorQo<float>> outs(copies_.size());
  const auto one = [&](int e, int w) {
    PbtSample& copy = *copies_[static_cast<size_t>(w)];
    copy.moveTo(pending_[static_cast<size_t>(e)].place);
    VectorQo<float>& out = outs[static_cast<size_t>(w)];
    const int n = std::min(copy.computeAllFeatures(out), numFeatures_);
    counts[static_cast<size_t>(e)] = n;
    if (n > 0) std::copy(&out[0], &out[0] + n, values_.begin() + static_cast<std::ptrdiff_t>(e * stride));
  };
  // The worker count changed since the copies were made: keep to the first copy.
  if (WorkerCount() > static_cast<int>(copies_.size())) {
    for (int e = 0; e < count; ++e) one(e, 0);
  } else {
    ParallelFor(0, count, one);
  }
  for (int e = 0; e < count; ++e)
    sink_(pending_[static_cast<size_t>(e)].tag, values_.data() + static_cast<size_t>(e) * stride,
          counts[static_cast<size_t>(e)]);
  pending_.clear();
}

void PbtFeatureFill::finish() { flush(); }
