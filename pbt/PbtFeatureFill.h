#pragma once
// PbtFeatureFill: computes every pool feature of a sample set's entries on the
// machine's workers, for the feature caches of PbtSampleSet and PbtMSampleSet.
//
// The set walks its entries in its own order and positions its shared sample on each
// (whatever the sample loads or draws as it moves happens there, on the calling
// thread, in the set's order), then hands the positioned sample to add() with a tag;
// the entries are computed in batches by worker copies of the sample (PbtSampleBatch).
// The sink then receives the values: `sink(tag, values, first, last)` stores features
// first .. last-1 of the entry `tag` (values[f] is feature f). The features are cut
// into blocks delivered on the workers at once, one block per call; within a block the
// entries arrive in the order they were added, so every per-feature reduction the sink
// forms is the one-thread one. A sink must therefore touch nothing but what belongs to
// the features of its range. finish() computes and delivers the last batch.
#include <functional>
#include <memory>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtSample.h"
#include "pbt/PbtSampleBatch.h"

class PbtFeatureFill {
 public:
  using Sink = std::function<void(int tag, const float* values, int first, int last)>;

  PbtFeatureFill(int numFeatures, Sink sink);
  PbtFeatureFill(const PbtFeatureFill&) = delete;
  PbtFeatureFill& operator=(const PbtFeatureFill&) = delete;

  // The entry `tag` with `sample` positioned on it.
  void add(PbtSample* sample, int tag) { batch_.add(sample, tag); }
  // Computes and delivers what is still pending.
  void finish() { batch_.finish(); }

 private:
  void compute(PbtSample& sample, int slot, int worker);
  void deliver(int count, const int* tags);

  int numFeatures_ = 0;
  Sink sink_;
  // One row of numFeatures_ values per batch slot, left uninitialised: every entry's
  // sink reads only the values computed for it, and the workers' first touch maps the
  // pages.
  std::unique_ptr<float[]> values_;
  std::vector<int> counts_;             // values computed per slot
  std::vector<VectorQo<float>> outs_;  // one per worker
  PbtSampleBatch batch_;
};
