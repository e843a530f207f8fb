// Times one region competition run and prints the figures.
//
//   region_competition_bench VOLUME ATLAS [ITERATIONS [x0 y0 z0 x1 y1 z1]]
//   region_competition_bench --head FOLDER [ITERATIONS]
//
// The second form writes a synthetic head-sized volume (181 x 217 x 181, eight nested
// structures with noise) and an atlas shifted by two voxels into FOLDER, and runs on the
// box of 100 x 120 x 100 voxels around its centre.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "models/CRegionCompetition.h"
#include "numerics/UniformRandom.h"
#include "volume/AnalyzeVolume.h"
#include "volume/HeapMatrix3D.h"

namespace {

unsigned char HeadLabel(int z, int y, int x) {
  // Nested ellipsoids around the centre of the head, then two pairs of small blobs.
  const double dz = (z - 90) / 70.0, dy = (y - 108) / 85.0, dx = (x - 90) / 70.0;
  const double r = std::sqrt(dz * dz + dy * dy + dx * dx);
  auto blob = [&](int cz, int cy, int cx, int radius) {
    return (z - cz) * (z - cz) + (y - cy) * (y - cy) + (x - cx) * (x - cx) <= radius * radius;
  };
  if (blob(90, 100, 70, 8)) return 5;
  if (blob(90, 100, 110, 8)) return 6;
  if (blob(80, 120, 75, 6)) return 7;
  if (blob(80, 120, 105, 6)) return 8;
  if (r < 0.25) return 4;
  if (r < 0.55) return 3;
  if (r < 0.8) return 2;
  if (r < 1.0) return 1;
  return 0;
}

void WriteHead(const std::string& folder) {
  const int Z = 181, Y = 217, X = 181;
  HeapMatrix3D<short> volume;
  HeapMatrix3D<unsigned char> atlas;
  volume.SetSize(Z, Y, X);
  atlas.SetSize(Z, Y, X);
  const short levels[9] = {0, 40, 110, 80, 140, 60, 95, 125, 70};
  for (int z = 0; z < Z; ++z)
    for (int y = 0; y < Y; ++y)
      for (int x = 0; x < X; ++x) {
        const unsigned char l = HeadLabel(z, y, x);
        const unsigned hash = static_cast<unsigned>(z * 7919 + y * 104729 + x * 1299709) * 2654435761u;
        volume[z][y][x] = l == 0 ? 0 : static_cast<short>(levels[l] + static_cast<int>(hash >> 28) - 8);
        atlas[z][y][x] = HeadLabel(z, y, x - 2);
      }
  volume.Save(folder + "/head.3dm");
  WriteAnalyzeVolume(folder + "/head_atlas.img", atlas);  // an Analyze atlas is cut to the box
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s VOLUME ATLAS [ITERATIONS [x0 y0 z0 x1 y1 z1]] | --head FOLDER [ITERATIONS]\n",
                 argv[0]);
    return 1;
  }
  std::string volume = argv[1], atlas = argv[2];
  int iterations = argc > 3 ? std::atoi(argv[3]) : 15;
  SubVolume box;
  const SubVolume* boxPointer = nullptr;
  if (volume == "--head") {
    WriteHead(atlas);
    volume = atlas + "/head.3dm";
    atlas = atlas + "/head_atlas.img";
    box = SubVolume(40, 48, 40, 139, 167, 139);
    boxPointer = &box;
  } else if (argc >= 10) {
    box = SubVolume(std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[7]),
                    std::atoi(argv[8]), std::atoi(argv[9]));
    boxPointer = &box;
  }
  CRegionCompetition rc(4.0, 0.3, 1.4);
  const auto wall0 = std::chrono::steady_clock::now();
  const std::clock_t cpu0 = std::clock();
  const int result = rc.Run(volume, atlas, iterations, nullptr, boxPointer);
  const double cpu = (std::clock() - cpu0) * 1.0 / CLOCKS_PER_SEC;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
  // FNV-1a of the result, to compare builds byte for byte.
  unsigned long long hash = 1469598103934665603ull;
  for (int z = 0; z < rc.labels.dim0(); ++z)
    for (int y = 0; y < rc.labels.dim1(); ++y)
      for (int x = 0; x < rc.labels.dim2(); ++x) hash = (hash ^ rc.labels[z][y][x]) * 1099511628211ull;
  std::printf("result %d, labels %d x %d x %d, hash %016llx, draws %lld\n", result, rc.labels.dim2(),
              rc.labels.dim1(), rc.labels.dim0(), hash, UniformRandomDrawCountForTesting());
  std::printf("time %.3f s wall, %.3f s processor (1 worker)\n", wall, cpu);
  return result == 0 ? 0 : 1;
}
