#include "pbt/PbtSampleBatch.h"

#include <algorithm>
#include <utility>

#include "platform/ParallelFor.h"

PbtSampleBatch::PbtSampleBatch(int maxEntries, Run run, Done done)
    : maxEntries_(std::max(1, maxEntries)),
      run_(std::move(run)),
      done_(std::move(done)),
      workers_(std::max(1, WorkerCount())) {}

PbtSampleBatch::~PbtSampleBatch() { stopListening(); }

void PbtSampleBatch::stopListening() {
  if (!listening_) return;
  if (shared_ != nullptr && shared_->dataListener() == this) shared_->setDataListener(previous_);
  listening_ = false;
}

void PbtSampleBatch::runNow(PbtSample* sample, int tag) {
  run_(*sample, 0, tag, 0);
  done_(1, &tag);
}

void PbtSampleBatch::add(PbtSample* sample, int tag) {
  if (sample == nullptr) return;
  PbtSample::Place place;
  // A sample in cache mode reads the set's cache: nothing to share.
  if (workers_ <= 1 || sample->isCached() || !sample->getPlace(place)) {
    flush();
    runNow(sample, tag);
    return;
  }
  if (!tags_.empty() && (sample != shared_ || place.dataStamp != batchStamp_)) flush();
  if (tags_.empty()) {
    // A batch starts while the shared sample holds its data: bring the copies to it.
    shared_ = sample;
    batchStamp_ = place.dataStamp;
    if (!RefreshWorkerCopies(copies_, *sample, workers_)) {
      runNow(sample, tag);
      return;
    }
    // The copies read the shared sample's data: hear of a change before it happens.
    previous_ = sample->dataListener();
    sample->setDataListener(this);
    listening_ = true;
  }
  places_.push_back(place);
  tags_.push_back(tag);
  if (static_cast<int>(tags_.size()) >= maxEntries_) flush();
}

void PbtSampleBatch::flush() {
  stopListening();
  if (tags_.empty()) return;
  const int count = static_cast<int>(tags_.size());
  const auto one = [&](int e, int w) {
    PbtSample& copy = *copies_[static_cast<size_t>(w)];
    copy.moveTo(places_[static_cast<size_t>(e)]);
    run_(copy, e, tags_[static_cast<size_t>(e)], w);
  };
  // The worker count changed since the copies were made: keep to the first copy.
  if (WorkerCount() > static_cast<int>(copies_.size())) {
    for (int e = 0; e < count; ++e) one(e, 0);
  } else {
    ParallelFor(0, count, one);
  }
  done_(count, tags_.data());
  tags_.clear();
  places_.clear();
}
