#pragma once
// PbtFeatureFill: computes every pool feature of a sample set's entries on the
// machine's workers, for the feature caches of PbtSampleSet and PbtMSampleSet.
//
// The set walks its entries in its own order and positions its shared sample on each
// (loads and random draws happen there, on the calling thread, exactly as before),
// then hands the positioned sample to add() with a tag. Entries are gathered into
// batches of one data stamp (PbtSample::getPlace); a batch's features are computed by
// worker copies of the shared sample (PbtSample::workerCopy, refreshed when the data
// changed), and `sink(tag, values, n)` then receives each entry's values on the
// calling thread, in the order the entries were added, so that every reduction the
// sink forms is the one-thread one. A sample without a place (or one worker) is
// computed at once with the shared sample. finish() flushes the last batch.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtSample.h"

class PbtFeatureFill {
 public:
  using Sink = std::function<void(int tag, const float* values, int n)>;

  PbtFeatureFill(int numFeatures, Sink sink);
  ~PbtFeatureFill();
  PbtFeatureFill(const PbtFeatureFill&) = delete;
  PbtFeatureFill& operator=(const PbtFeatureFill&) = delete;

  // The entry `tag` with `sample` positioned on it.
  void add(PbtSample* sample, int tag);
  // Computes and delivers what is still pending.
  void finish();

 private:
  struct Pending {
    PbtSample::Place place;
    int tag = 0;
  };
  void flush();
  void computeNow(PbtSample* sample, int tag);

  int numFeatures_ = 0;
  Sink sink_;
  int workers_ = 1;
  PbtSample* shared_ = nullptr;
  uint64_t batchStamp_ = 0;
  std::vector<Pending> pending_;
  std::vector<std::unique_ptr<PbtSample>> copies_;  // one per worker
  std::vector<float> values_;                      // pending_.size() x numFeatures_
  VectorQo<float> scratch_;
};
