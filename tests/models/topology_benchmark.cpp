// Prints the time of Kro_3DTopology::Build on a whole-head-sized synthetic label volume:
// nested ellipsoid shells (labels 1..8) with two small structures per hemisphere.
// Usage: topology_benchmark [depth height width]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "models/Kro_3DTopology.h"

int main(int argc, char** argv) {
  int d = 256, h = 256, w = 256;
  if (argc == 4) {
    d = std::atoi(argv[1]);
    h = std::atoi(argv[2]);
    w = std::atoi(argv[3]);
  }
  HeapMatrix3D<unsigned char> v;
  v.SetSize(d, h, w);
  for (int i = 0; i < d; ++i)
    for (int j = 0; j < h; ++j)
      for (int k = 0; k < w; ++k) {
        double z = (i - d / 2.0) / (0.45 * d), y = (j - h / 2.0) / (0.45 * h), x = (k - w / 2.0) / (0.40 * w);
        double r = z * z + y * y + x * x;
        int label = r < 1.0 ? 1 + static_cast<int>((1.0 - r) * 4) : 0;
        double xs = (x < 0 ? x + 0.3 : x - 0.3) / 0.12, ys = (y + 0.1) / 0.2, zs = z / 0.15;
        if (xs * xs + ys * ys + zs * zs < 1.0) label = x < 0 ? 7 : 8;
        v(i, j, k) = static_cast<unsigned char>(label);
      }
  Kro_3DTopology t;
  auto start = std::chrono::steady_clock::now();
  if (!t.Build(v)) {
    std::printf("Build refused %dx%dx%d\n", d, h, w);
    return 1;
  }
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int faces = t.Store(0).Count() + t.Store(1).Count() + t.Store(2).Count();
  std::printf("volume %dx%dx%d, %zu labels, %d faces, Build %.3f s\n", d, h, w, t.activeLabels.size(), faces, s);
  return 0;
}
