#pragma once
// Edg3DSample: the voxel sample. It holds the volumes of one case (a training case
// loaded from the training data set, or the volume being segmented given through
// setVolume), a current voxel, and the feature pool; computeFeature gives the value
// of one PbtFid at the current voxel.
//
// Ownership: the sample owns its volumes, its Haar filters (deleted in the destructor
// and whenever the Haar family is rebuilt) and its context maps.
//
// Reads near the border: every voxel read is held inside the volume (indexes clamped
// to the nearest voxel), so a voxel closer to a face than a feature's reach, or a
// small sample radius, never reads outside. An empty volume gives 0 for the features
// that read it. The shape volumes (S, V, C 12 and 13) give 0 where they do not cover
// the voxel.
//
// Random sequence: estimateIntensityRange constructs one RF (one draw); it runs once
// per case load in setPosition and once per setVolume.
//
// Threads: a sample is used by one thread at a time; a parallel loop gives each
// worker its own sample (workerCopy, without a draw). A worker copy has its own pool,
// position and scratch (gradient and curvature state) but reads the volumes, maps and
// Haar filters of the sample it was copied from, which must live and keep its data
// unchanged while the copy is used; its own public volumes stay empty. A member that
// changes the data first tells the listener (PbtSample::DataListener) and, on a worker
// copy, gives the copy data of its own (a deep copy), so a copy never writes the data
// it shares.
#include <array>
#include <string>
#include <vector>

#include "features/Kro_2DGrad.h"
#include "features/VoxelSampleRecord.h"
#include "pbt/PbtSample.h"
#include "volume/Curvature3D.h"
#include "volume/HeapMatrix3D.h"
#include "volume/ItgImage3D.h"

class HaarFilter3D;

class Edg3DSample : public PbtSample {
 public:
  // A plain sample: box extents 0, no case, 4 context maps, empty pool.
  Edg3DSample();
  ~Edg3DSample() override;

  // A worker copy (see PbtSample::workerCopy and above); draws nothing. Null for a
  // class derived from it (Object3DSample has its own), which must override both
  // workerCopy and getPlace to be shared among workers.
  Edg3DSample* workerCopy() const override;
  // Place: (x, y, z, loaded case) and the data stamp; false while an atlas feature of
  // the pool would still load the atlas file.
  bool getPlace(Place& place) const override;
  void moveTo(const Place& place) override;
  uint64_t dataStamp() const override { return dataStamp_; }
  // A new data stamp. Every sample starts with a stamp of its own, and every member
  // that changes the volumes or maps (the write accessors included) takes a new one,
  // so that worker copies taken earlier are never used with other data. Code that
  // writes the public volumes directly calls it too.
  void touchData();

  // The value of `fid` at the current voxel (see Edg3DSample_values.cpp).
  float computeFeature(const PbtFid& fid) override;

  // Moves to the record's voxel; loads the record's case from `folder` when it
  // differs from the loaded one (files "%s/I%05i.3dm", "%s/I%05i_%d_prob.3dm" per
  // context map and the atlas pair "%s/I%05i_atlas.img"). A case whose volume does
  // not load prints one line naming the file and leaves an empty case (features 0).
  virtual void setPosition(const VoxelSampleRecord& record);
  // Copies the text into `folder`; a null pointer changes nothing.
  virtual void setDirectory(const char* text);
  // Forgets the loaded case number (the volumes stay): loadedCase = -1.
  virtual void invalidateCase() { loadedCase = -1; }
  // volume := v, integral rebuilt, intensity range estimated (one RF draw), gradient
  // pointed at the volume. loadedCase is not changed.
  virtual void setVolume(const HeapMatrix3D<unsigned char>& v);
  // Copies the first numContextMaps volumes of `maps` (the caller passes at least
  // that many).
  virtual void setContextVolumes(const HeapMatrix3D<unsigned char>* maps);
  virtual void clearContextVolumes() {
    prepareDataChange();
    contextVolumes.clear();
    touchData();
  }
  // For writing the curvature volume: the data counts as changed (a new data stamp).
  virtual Curvature3D<unsigned char>& getDerivedVolumes() {
    prepareDataChange();
    touchData();
    return curvature;
  }
  virtual void setScale(float s) { intensityScale = s; }

  // Location, intensity, derivative, profile and the edge Haar family.
  virtual void buildFeaturePool();
  // The context-offset table and one O entry per offset and map (nothing while
  // gContextAvailable is 0).
  virtual void addContextFeatures();
  virtual void addContextAndMeanFeatures();
  virtual float contextFeatureValue(const PbtFid& fid);
  virtual void addCurvatureFeatures();
  virtual void addDerivativeFeatures();
  virtual void addProfileFeatures();
  virtual void addIntensityFeatures();
  virtual void addShapeFeatures();
  virtual void addLocationFeatures();
  // The edge-sample Haar family into `filters` (old filters deleted).
  virtual void addHaarFeatures(std::vector<HaarFilter3D*>& filters, int depth, int height, int width);
  virtual float derivativeFeatureValue(const PbtFid& fid, int z, int y, int x);
  virtual float profileFeatureValue(const PbtFid& fid);
  // Fills shape index and curvedness from principal1/principal2, sized like `extents`.
  virtual void computeShapeVolumes(HeapMatrix3D<float>& shape, HeapMatrix3D<float>& curved,
                                   const HeapMatrix3D<float>& extents);
  virtual float locationFeatureValue(int variant);
  virtual float curvatureFeatureValue(int index, int z, int y, int x);
  // Mean, standard deviation and histogram peak of `volume` (one RF draw). An empty
  // volume gives mean 0 and scale 0. With `remember`, the figures are kept with a copy
  // of the volume (the last 16 case volumes, 256 MB at most) and taken from there when
  // the same voxels come again: training loads every case anew at each tree node, and
  // the sum of squares in voxel order is the slowest part of a load. The draw is taken
  // either way.
  virtual void estimateIntensityRange(bool remember = false);

  // The Haar value of a feature at the current box origin; 0 for an index outside
  // the filter list.
  float haarFeatureValue(const PbtFid& fid) const;
  // Rebuilds `integral` (sums and squares) from `volume`.
  void buildIntegral();
  // Deletes every Haar filter and empties the list.
  static void deleteFilters(std::vector<HaarFilter3D*>& filters);

  int boxSpan = 0;
  int boxWidth = 0;
  int boxHeight = 0;
  int boxDepth = 0;
  std::string folder;
  std::vector<HaarFilter3D*> haarFilters;
  Kro_2DGrad gradient;
  int loadedCase = -1;
  int boxOriginZ = 0;
  int boxOriginY = 0;
  int boxOriginX = 0;
  int x = 0;
  int y = 0;
  int z = 0;
  HeapMatrix3D<unsigned char> volume;
  ItgImage3D<double> integral;
  Curvature3D<unsigned char> curvature;
  HeapMatrix3D<float> principal1;
  HeapMatrix3D<float> principal2;
  HeapMatrix3D<float> shapeIndex;
  HeapMatrix3D<float> curvedness;
  HeapMatrix3D<unsigned char> atlas;
  std::vector<std::array<int, 3>> contextOffsets;           // (dx, dy, dz)
  std::vector<HeapMatrix3D<unsigned char>> contextVolumes;  // empty: no maps
  float peakScale = 1.0f;
  float intensityMean = 0.0f;
  float intensityScale = 0.0f;
  int numContextMaps = 4;

 protected:
  // This sample becomes a worker copy of `other`: every member but the data (pool,
  // box, position, scalars, offsets, stamp) copied, the data read from other's (its
  // source, when other is a copy itself); compute mode. No draw, no file.
  void copyStateFrom(const Edg3DSample& other);
  // The sample whose data this one reads: itself, or a worker copy's source.
  const Edg3DSample& data() const { return *source_; }
  bool isWorkerCopy() const { return source_ != this; }
  // Before a change of the data: the listener is told, and a worker copy takes a deep
  // copy of its source's data (volumes, maps, Haar filters) and reads its own from then on.
  void prepareDataChange();
  // Voxel of `volume` with the indexes held inside it; the volume is not empty.
  int voxel(int zz, int yy, int xx) const;
  // The atlas value at the current voxel; an empty atlas is first loaded from
  // gAtlasPath (a path that fails is tried and reported once).
  float atlasFeatureValue();
  // Appends one entry of the given fields.
  void appendFeature(const PbtFid& fid) { featurePool.push_back(fid); }

  std::string failedAtlasPath_;  // the gAtlasPath that last failed to load
  bool atlasFailed_ = false;
  uint64_t dataStamp_ = 0;

 private:
  const Edg3DSample* source_ = this;  // see data()
};
