#include "features/Kro_2DGrad.h"

#include <algorithm>

Kro_2DGrad::Kro_2DGrad() : kernelY(3, 3), kernelX(3, 3) {
  static const float kX[3][3] = {{-0.25f, 0.0f, 0.25f}, {-0.5f, 0.0f, 0.5f}, {-0.25f, 0.0f, 0.25f}};
  for (int j = 0; j < 3; ++j)
    for (int i = 0; i < 3; ++i) {
      kernelX(j, i) = kX[j][i];
      kernelY(j, i) = kX[i][j];
    }
}

namespace {

inline int Clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

// Voxel reader with the indexes held inside the volume.
struct Reader {
  const HeapMatrix3D<unsigned char>& v;
  int Z, Y, X;
  int operator()(int z, int y, int x) const { return v(Clamp(z, Z), Clamp(y, Y), Clamp(x, X)); }
};

bool Usable(const HeapMatrix3D<unsigned char>* v) { return v && v->NumElements() > 0; }

}  // namespace

void Kro_2DGrad::ApplyInteger(int z, int y, int x) {
  if (!Usable(volume)) {
    std::fill(sums, sums + 6, 0.0);
    return;
  }
  const Reader I{*volume, volume->dim0() - 1, volume->dim1() - 1, volume->dim2() - 1};
  sums[0] = (2 * (I(z, y + 1, x) - I(z, y - 1, x)) + I(z, y + 1, x - 1) + I(z, y + 1, x + 1) - I(z, y - 1, x - 1) -
             I(z, y - 1, x + 1)) *
            0.25;
  sums[1] = (2 * (I(z, y, x + 1) - I(z, y, x - 1)) + I(z, y - 1, x + 1) + I(z, y + 1, x + 1) - I(z, y - 1, x - 1) -
             I(z, y + 1, x - 1)) *
            0.25;
  sums[2] = (2 * (I(z + 1, y, x) - I(z - 1, y, x)) + I(z + 1, y, x - 1) + I(z + 1, y, x + 1) - I(z - 1, y, x - 1) -
             I(z - 1, y, x + 1)) *
            0.25;
  sums[3] = (2 * (I(z, y, x + 1) - I(z, y, x - 1)) + I(z - 1, y, x + 1) + I(z + 1, y, x + 1) - I(z - 1, y, x - 1) -
             I(z + 1, y, x - 1)) *
            0.25;
  sums[4] = (2 * (I(z + 1, y, x) - I(z - 1, y, x)) + I(z + 1, y - 1, x) + I(z + 1, y + 1, x) - I(z - 1, y - 1, x) -
             I(z - 1, y + 1, x)) *
            0.25;
  sums[5] = (2 * (I(z, y + 1, x) - I(z, y - 1, x)) + I(z - 1, y + 1, x) + I(z + 1, y + 1, x) - I(z - 1, y - 1, x) -
             I(z + 1, y - 1, x)) *
            0.25;
}

void Kro_2DGrad::Apply(int z, int y, int x) {
  std::fill(sums, sums + 6, 0.0);
  if (!Usable(volume)) return;
  const Reader I{*volume, volume->dim0() - 1, volume->dim1() - 1, volume->dim2() - 1};
  const int n = kernelX.rows;
  const int half = (n - 1) / 2;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const double ky = kernelY(j, i), kx = kernelX(j, i);
      const int a = I(z, y - half + j, x - half + i);
      sums[0] += ky * a;
      sums[1] += kx * a;
      const int b = I(z - half + j, y, x - half + i);
      sums[2] += ky * b;
      sums[3] += kx * b;
      const int c = I(z - half + j, y - half + i, x);
      sums[4] += ky * c;
      sums[5] += kx * c;
    }
}
