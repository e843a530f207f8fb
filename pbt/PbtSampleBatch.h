#pragma once
// PbtSampleBatch: work on the entries of a sample set, one sample position each, done on
// the machine's workers.
//
// The caller walks its entries in its own order and positions its shared sample on
// each (case loads and their random draws happen there, on the calling thread, exactly
// as one thread does them), then hands the positioned sample to add() with a tag.
// Entries are gathered into batches of one data stamp (PbtSample::getPlace); a batch is
// run by worker copies of the shared sample (PbtSample::workerCopy, taken again when
// the data changed): `run(sample, slot, tag, worker)` does the work of the entry in
// batch slot `slot` with `sample`, moved to the entry. When every entry of a batch is
// done, `done(count, tags)` is called on the calling thread with the batch's tags in
// the order they were added, so that the caller can deliver the results in entry order.
// A sample without a place or in cache mode, or one worker, runs the entry at once on
// the calling thread with the shared sample itself (slot 0, worker 0), after the
// pending batch.
// finish() runs what is still pending.
//
// The worker copies read the shared sample's data, so a batch must be run before that
// data changes: while a batch is pending the batch listens to the shared sample
// (PbtSample::DataListener) and runs the batch when the sample announces a change, for
// example before it loads the next case.
//
// `run` is called on the workers at once (for distinct slots, never two with the same
// worker index at a time): it must draw nothing, open no file and write only what
// belongs to its slot or its worker.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pbt/PbtSample.h"

class PbtSampleBatch : private PbtSample::DataListener {
 public:
  using Run = std::function<void(PbtSample& sample, int slot, int tag, int worker)>;
  using Done = std::function<void(int count, const int* tags)>;

  // Batches of at most maxEntries entries (at least 1).
  PbtSampleBatch(int maxEntries, Run run, Done done);
  ~PbtSampleBatch() override;
  PbtSampleBatch(const PbtSampleBatch&) = delete;
  PbtSampleBatch& operator=(const PbtSampleBatch&) = delete;

  // The entry `tag` with `sample` positioned on it; nothing for a null sample.
  void add(PbtSample* sample, int tag);
  // Runs and delivers what is still pending.
  void finish() { flush(); }
  // The number of workers the batches are shared among (slots per batch are at most
  // maxEntries whatever this is).
  int workers() const { return workers_; }

 private:
  void flush();
  void runNow(PbtSample* sample, int tag);
  // Runs the pending batch, then passes the news on to the listener this batch
  // stood in for.
  void beforeDataChange() override {
    DataListener* next = previous_;
    flush();
    if (next != nullptr) next->beforeDataChange();
  }
  void stopListening();

  int maxEntries_ = 1;
  Run run_;
  Done done_;
  int workers_ = 1;
  PbtSample* shared_ = nullptr;
  PbtSample::DataListener* previous_ = nullptr;  // the shared sample's listener before this
  bool listening_ = false;
  uint64_t batchStamp_ = 0;
  std::vector<PbtSample::Place> places_;
  std::vector<int> tags_;
  std::vector<std::unique_ptr<PbtSample>> copies_;  // one per worker
};
