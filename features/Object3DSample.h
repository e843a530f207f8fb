#pragma once
// Object3DSample: the voxel sample the drivers use. Adds the atlas feature and the
// versioned feature pool, built in the constructor from gFeatureVersion and
// gContextAvailable as they are at that moment.
//
// A stored model names its features by PbtFid content; a model is usable only with a
// sample of the same radius, context-map count and feature version.
#include "features/Edg3DSample.h"

class Object3DSample : public Edg3DSample {
 public:
  // Box of 2 * radius + 1 voxels on each axis; builds the pool.
  Object3DSample(int numContextMaps, int radius);

  // A deep copy (pool included, not rebuilt); draws nothing.
  Object3DSample* workerCopy() const override;

  // By gFeatureVersion: 0 intensity, location, derivative, Haar (version 0), context;
  // 1 atlas first, then the same with the version-1 Haar family; any other: context.
  void buildFeaturePool() override;
  virtual void addAtlasFeatures();
  virtual void addHaarFeaturesVersion0(std::vector<HaarFilter3D*>& filters, int depth, int height, int width);
  virtual void addHaarFeaturesVersion1(std::vector<HaarFilter3D*>& filters, int depth, int height, int width);
  // For writing the atlas volume: the data counts as changed (a new data stamp).
  virtual HeapMatrix3D<unsigned char>& getAtlasVolume() {
    prepareDataChange();
    touchData();
    return atlas;
  }

 private:
  struct Empty {};
  // An empty sample with no pool, filled by workerCopy.
  explicit Object3DSample(Empty) {}
};
