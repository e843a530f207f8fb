#include "pbt/PbtFeatureFill.h"

#include <algorithm>

#include "platform/ParallelFor.h"

namespace {
// Entries per batch: enough to keep every worker busy, small enough for the buffer.
constexpr size_t kBatchEntries = 2048;
// Features per block of the delivery.
constexpr int kBlockFeatures = 64;
}  // namespace

PbtFeatureFill::PbtFeatureFill(int numFeatures, Sink sink)
    : numFeatures_(std::max(0, numFeatures)), sink_(std::move(sink)), workers_(std::max(1, WorkerCount())) {}

PbtFeatureFill::~PbtFeatureFill() { stopListening(); }

void PbtFeatureFill::stopListening() {
  if (!listening_) return;
  if (shared_ != nullptr && shared_->dataListener() == this) shared_->setDataListener(previous_);
  listening_ = false;
}

void PbtFeatureFill::computeNow(PbtSample* sample, int tag) {
  const int n = std::min(sample->computeAllFeatures(scratch_), numFeatures_);
  sink_(tag, n > 0 ? &scratch_[0] : nullptr, 0, std::max(n, 0));
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
    // The copies read the shared sample's data: hear of a change before it happens.
    previous_ = sample->dataListener();
    sample->setDataListener(this);
    listening_ = true;
  }
  pending_.push_back(Pending{place, tag});
  if (pending_.size() >= kBatchEntries) flush();
}

void PbtFeatureFill::flush() {
  stopListening();
  if (pending_.empty()) return;
  const int count = static_cast<int>(pending_.size());
  const size_t stride = static_cast<size_t>(numFeatures_);
  // Every entry's sink reads only the values computed for it: no need to clear them.
  if (values_.size() < static_cast<size_t>(count) * stride) values_.resize(static_cast<size_t>(count) * stride);
  counts_.assign(static_cast<size_t>(count), 0);
  outs_.resize(copies_.size());
  const auto one = [&](int e, int w) {
    PbtSample& copy = *copies_[static_cast<size_t>(w)];
    copy.moveTo(pending_[static_cast<size_t>(e)].place);
    VectorQo<float>& out = outs_[static_cast<size_t>(w)];
    const int n = std::min(copy.computeAllFeatures(out), numFeatures_);
    counts_[static_cast<size_t>(e)] = n;
    if (n > 0) std::copy(&out[0], &out[0] + n, values_.begin() + static_cast<std::ptrdiff_t>(e * stride));
  };
  // The worker count changed since the copies were made: keep to the first copy.
  if (WorkerCount() > static_cast<int>(copies_.size())) {
    for (int e = 0; e < count; ++e) one(e, 0);
  } else {
    ParallelFor(0, count, one);
  }
  const int blocks = (numFeatures_ + kBlockFeatures - 1) / kBlockFeatures;
  ParallelFor(0, blocks, [&](int b, int) {
    const int first = b * kBlockFeatures;
    const int last = std::min(numFeatures_, first + kBlockFeatures);
    for (int e = 0; e < count; ++e) {
      const int n = counts_[static_cast<size_t>(e)];
      if (n > first) {
        sink_(pending_[static_cast<size_t>(e)].tag, values_.data() + static_cast<size_t>(e) * stride, first,
              std::min(last, n));
      }
    }
  });
  pending_.clear();
}

void PbtFeatureFill::finish() { flush(); }
