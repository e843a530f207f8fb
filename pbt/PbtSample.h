#pragma once
// PbtSample: the abstract sample. It owns the feature pool (every PbtFid the sample
// can compute, in enumeration order) and computes one feature at its current
// position through the derived class (`computeFeature`).
//
// Cache mode: a sample set that has cached its features hands the shared sample out
// in cache mode, pointing it at the cache table of the entry's class and at the
// entry's column. Then getFeatureValue reads table[fid.poolIndex][column] and
// computeFeature is not called. The table is owned by the sample set; the set
// switches the sample back to compute mode when it frees the cache.
#include <cstdint>
#include <memory>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtFid.h"

template <class T>
class Raster;

class PbtSample {
 public:
  PbtSample() = default;
  virtual ~PbtSample() = default;
  PbtSample(const PbtSample&) = delete;
  PbtSample& operator=(const PbtSample&) = delete;

  // The value of one feature at the sample's current position.
  virtual float computeFeature(const PbtFid& fid) = 0;
  // Draws the sample at its current position into an 8-bit image for the sample
  // dumps; the base draws nothing and leaves the image as it is.
  virtual void renderImage(Raster<unsigned char>&) {}

  int numFeatures() const { return static_cast<int>(featurePool.size()); }

  // A new sample in compute mode for one worker of a parallel loop, with this one's
  // pool and position; the caller owns it. It reads this sample's data (volumes, maps)
  // rather than holding a copy of them, so it may be used only while this sample lives
  // and its data stays as it is (the same dataStamp). Taking the copy draws nothing and
  // opens no file. Null (the base) when the sample cannot be copied: the callers then
  // keep to the one shared sample.
  virtual PbtSample* workerCopy() const { return nullptr; }

  // The holder of worker copies may ask to hear of a change of this sample's data
  // before it happens, so that it can finish with its copies first: a derived sample
  // calls beforeDataChange() of the listener (at most one; null: none) before it
  // changes its data.
  class DataListener {
   public:
    virtual ~DataListener() = default;
    virtual void beforeDataChange() = 0;
  };
  void setDataListener(DataListener* listener) { listener_ = listener; }
  DataListener* dataListener() const { return listener_; }

  // Where the sample stands, for worker copies to follow it: four position words and
  // the stamp of the data (volumes, maps) the sample holds, which changes whenever that
  // data changes. False (the base) when the sample cannot say, or when computing a
  // feature here could open a file or draw: such an entry is computed with the shared
  // sample, on the calling thread.
  struct Place {
    int32_t words[4] = {0, 0, 0, 0};
    uint64_t dataStamp = 0;
  };
  virtual bool getPlace(Place&) const { return false; }
  // Moves this sample (a worker copy holding data of the same stamp) to `place`.
  virtual void moveTo(const Place&) {}
  // The stamp of the data this sample holds (see getPlace); 0 in the base.
  virtual uint64_t dataStamp() const { return 0; }

  // Compute mode: computeFeature(fid). Cache mode: cacheTable[fid.poolIndex][cacheColumn],
  // without a range check: callers use only features of the pool that the set numbered.
  float getFeatureValue(const PbtFid& fid) {
    if (!cached) return computeFeature(fid);
    return cacheTable[fid.poolIndex][cacheColumn];
  }

  // Sizes `out` to the pool's size n and sets element i to getFeatureValue(pool[i]);
  // returns n.
  int computeFeatures(VectorQo<float>& out, const std::vector<PbtFid>& pool);
  // computeFeatures(out, featurePool).
  int computeAllFeatures(VectorQo<float>& out) { return computeFeatures(out, featurePool); }

  // Switches to cache mode on `table` (rows by poolIndex) at column `column`.
  void setCacheMode(float** table, int column) {
    cached = 1;
    cacheTable = table;
    cacheColumn = column;
  }
  // Back to compute mode; the table is forgotten.
  void clearCacheMode() {
    cached = 0;
    cacheTable = nullptr;
  }
  bool isCached() const { return cached != 0; }

  // Every feature the sample can compute, in enumeration order.
  std::vector<PbtFid> featurePool;

 protected:
  // Tells the listener that the data is about to change.
  void announceDataChange() {
    if (listener_ != nullptr) listener_->beforeDataChange();
  }

 private:
  DataListener* listener_ = nullptr;
  unsigned char cached = 0;
  float** cacheTable = nullptr;
  int cacheColumn = 0;
};

// Brings one worker copy per worker to the data `shared` holds: a missing copy, or one
// of another data stamp, is taken again (on the workers). False when the sample cannot
// be copied. Copying draws nothing and opens no file.
bool RefreshWorkerCopies(std::vector<std::unique_ptr<PbtSample>>& copies, const PbtSample& shared, int workers);
