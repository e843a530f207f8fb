// Micro-benchmark of the voxel features: prints feature evaluations per second over
// the version-1, radius-5 pool (3 context maps) on one subject volume, one thread,
// and the pool sizes of the common settings.
//
//   feature_benchmark [subject.img] [voxels]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "features/FeatureFlags.h"
#include "features/Object3DSample.h"
#include "volume/AnalyzeVolume.h"

namespace {

size_t PoolSize(int version, int maps, int radius, int context, size_t* haar) {
  gFeatureVersion = version;
  gContextAvailable = context;
  Object3DSample sample(maps, radius);
  if (haar) *haar = sample.haarFilters.size();
  return sample.featurePool.size();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string subject =
      argc > 1 ? argv[1] : std::string("/work/shared/data/hippocampus/train/hippocampus_001.brain.img");
  const int voxels = argc > 2 ? std::atoi(argv[2]) : 2000;

  for (int version = 0; version <= 1; ++version)
    for (int radius = 1; radius <= 7; ++radius) {
      size_t haar = 0;
      PoolSize(version, 3, radius, 0, &haar);
      std::printf("Haar entries: version %d radius %d: %zu\n", version, radius, haar);
    }
  std::printf("pool: version 1, K 3, radius 5, context on: %zu\n", PoolSize(1, 3, 5, 1, nullptr));
  std::printf("pool: version 1, K 3, radius 5, context off: %zu\n", PoolSize(1, 3, 5, 0, nullptr));
  std::printf("pool: version 0, K 4, radius 2, context on: %zu\n", PoolSize(0, 4, 2, 1, nullptr));

  HeapMatrix3D<short> wide;
  if (!ReadVolume(subject, wide)) {
    std::printf("Cannot read the subject volume %s\n", subject.c_str());
    return 1;
  }
  HeapMatrix3D<unsigned char> volume;
  volume.SetSize(wide.dim0(), wide.dim1(), wide.dim2());
  for (int z = 0; z < wide.dim0(); ++z)
    for (int y = 0; y < wide.dim1(); ++y)
      for (int x = 0; x < wide.dim2(); ++x) volume(z, y, x) = static_cast<unsigned char>(wide(z, y, x) & 0xFF);

  gFeatureVersion = 1;
  gContextAvailable = 1;
  Object3DSample sample(3, 5);
  sample.setVolume(volume);
  HeapMatrix3D<unsigned char> maps[3] = {volume, volume, volume};
  sample.setContextVolumes(maps);
  sample.invalidateCase();

  // Voxels spread over the volume in a fixed order (a stride walk over the interior).
  const int D = volume.dim0(), H = volume.dim1(), W = volume.dim2();
  long long evaluations = 0;
  double checksum = 0.0;
  const double start = std::clock() * 1000.0 / CLOCKS_PER_SEC;
  long long k = 0;
  for (int n = 0; n < voxels; ++n) {
    k = (k + 7919) % (static_cast<long long>(D) * H * W);
    VoxelSampleRecord r;
    r.caseNumber = -1;
    r.z = static_cast<int16_t>(k / (H * W));
    r.y = static_cast<int16_t>((k / W) % H);
    r.x = static_cast<int16_t>(k % W);
    sample.setPosition(r);
    for (const PbtFid& f : sample.featurePool) checksum += sample.computeFeature(f);
    evaluations += static_cast<long long>(sample.featurePool.size());
  }
  const double seconds = (std::clock() * 1000.0 / CLOCKS_PER_SEC - start) / 1000.0;
  std::printf("subject %s (%d x %d x %d), pool %zu, %d voxels, 1 worker\n", subject.c_str(), D, H, W,
              sample.featurePool.size(), voxels);
  std::printf("%lld evaluations in %.3f s: %.0f evaluations per second (checksum %g)\n", evaluations, seconds,
              seconds > 0 ? evaluations / seconds : 0.0, checksum);
  return 0;
}
