// Prints the time of one edge map and one per-label mixture fit on a whole-head-sized
// synthetic volume (181 x 217 x 181): three nested ellipsoid tissues with noise.
// Not a test; run it by hand: build/release/tests/models/models_timing
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "models/CBrainGMM.h"
#include "models/MCMC_EdgeOp3D.h"
#include "platform/ParallelFor.h"

int main() {
  const int nz = 181, ny = 217, nx = 181;
  HeapMatrix3D<short> intensity;
  HeapMatrix3D<unsigned char> labels, bytes, edges;
  intensity.SetSize(nz, ny, nx);
  labels.SetSize(nz, ny, nx);
  bytes.SetSize(nz, ny, nx);
  uint32_t state = 2024u;
  const short means[5] = {0, 40, 110, 160, 220};
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const double dz = (z - nz / 2.0) / (nz * 0.42), dy = (y - ny / 2.0) / (ny * 0.45),
                     dx = (x - nx / 2.0) / (nx * 0.40);
        const double r = std::sqrt(dz * dz + dy * dy + dx * dx);
        const int label = r > 1.0 ? 0 : r > 0.9 ? 1 : r > 0.6 ? 2 : r > 0.3 ? 3 : 4;
        state = state * 1664525u + 1013904223u;
        const int noise = label == 0 ? 0 : static_cast<int>(state >> 28) - 8;
        labels(z, y, x) = static_cast<unsigned char>(label);
        intensity(z, y, x) = static_cast<short>(means[label] + noise);
        bytes(z, y, x) = static_cast<unsigned char>(intensity(z, y, x));
      }

  auto t0 = std::chrono::steady_clock::now();
  ComputeCannyEdgeMap(edges, bytes);
  auto t1 = std::chrono::steady_clock::now();
  CBrainGMM gmm(3, 4);
  const int step = 4;  // min(8, ceil(log2(4) + 2))
  gmm.Fit(intensity, labels, step);
  auto t2 = std::chrono::steady_clock::now();

  std::printf("volume %d x %d x %d, %d workers\n", nx, ny, nz, WorkerCount());
  std::printf("ComputeCannyEdgeMap: %.2f s\n", std::chrono::duration<double>(t1 - t0).count());
  std::printf("CBrainGMM::Fit (3 components, labels 1-4, step %d): %.2f s\n", step,
              std::chrono::duration<double>(t2 - t1).count());
  return 0;
}
