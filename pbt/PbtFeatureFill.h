#pragma once
// PbtFeatureFill: computes every pool feature of a sample set's entries on the
// machine's workers, for the feature caches of PbtSampleSet and PbtMSampleSet.
//
// The set walks its entries in its own order and positions its shared sample on each
// (loads and random draws happen there, on the calling thread, exactly as before),
// then hands the positioned sample to add() with a tag. Entries are gathered into
// batches of one data stamp (PbtSample::getPlace); a batch's features are computed by
// worker copies of the shared sample (PbtSample::workerCopy, refreshed when the data
// changed). The sink then receives the values: `sink(tag, values, first, last)` stores
// features first .. last-1 of the entry `tag` (values[f] is feature f). The features
// are cut into blocks delivered on the workers at once, one block per call; within a
// block the entries arrive in the order they were added, so every per-feature reduction
// the sink forms is the one-thread one. A sink must therefore touch nothing but what
// belongs to the features of its range. A sample without a place (or one worker) is
// computed at once with the shared sample and delivered whole. finish() flushes the
// last batch.
//
// The worker copies read the shared sample's data, so a batch must be computed before
// that data changes: while a batch is pending the fill listens to the shared sample
// (PbtSample::DataListener) and computes the batch when the sample announces a change,
// for example before it loads the next case.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtSample.h"

class PbtFeatureFill : private PbtSample::DataListener {
 public:
  using Sink = std::function<void(int tag, const float* values, int first, int last)>;

  PbtFeatureFill(int numFeatures, Sink sink);
  ~PbtFeatureFill() override;
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
  void beforeDataChange() override { flush(); }
  void stopListening();

  int numFeatures_ = 0;
  Sink sink_;
  int workers_ = 1;
  PbtSample* shared_ = nullptr;
  PbtSample::DataListener* previous_ = nullptr;  // the shared sample's listener before this
  bool listening_ = false;
  uint64_t batchStamp_ = 0;
  std::vector<Pending> pending_;
  std::vector<std::unique_ptr<PbtSample>> copies_;  // one per worker
  std::vector<float> values_;                      // pending_.size() x numFeatures_
  std::vector<int> counts_;                        // values computed per pending entry
  std::vector<VectorQo<float>> outs_;              // one per worker
  VectorQo<float> scratch_;
};
