#include "features/HaarCube.h"

#include <algorithm>

#include "platform/Conversions.h"

int HaarCube::VoxelCount(int x0, int x1, int y0, int y1, int z0, int z1) {
  if (x1 < x0 || y1 < y0 || z1 < z0) return 0;
  return (x1 - x0 + 1) * (y1 - y0 + 1) * (z1 - z0 + 1);
}

void HaarCube::Write(BinaryWriter& out) const {
  out.i16(x0);
  out.i16(x1);
  out.i16(y0);
  out.i16(y1);
  out.i16(z0);
  out.i16(z1);
  out.f32(weight);
  out.i16(LowShort(count));
}

bool HaarCube::Read(BinaryReader& in) {
  int16_t b[6];
  float w = 0.0f;
  int16_t c = 0;
  for (int16_t& v : b) {
    if (!in.i16(v)) return false;
  }
  if (!in.f32(w) || !in.i16(c)) return false;
  const int n = VoxelCount(b[0], b[1], b[2], b[3], b[4], b[5]);
  // The stored count is only the low half of the true one; it must agree with the bounds.
  if (LowShort(n) != c) {
    in.fail();
    return false;
  }
  x0 = b[0];
  x1 = b[1];
  y0 = b[2];
  y1 = b[3];
  z0 = b[4];
  z1 = b[5];
  weight = w;
  count = n;
  return true;
}

void HaarCube::GetCorners(int16_t corners[24]) const {
  const int16_t ax = LowShort(x0 - 1), ay = LowShort(y0 - 1), az = LowShort(z0 - 1);
  const int16_t table[24] = {ax, ay, az, x1, ay, az, ax, y1, az, ax, ay, z1,
                             x1, y1, az, ax, y1, z1, x1, ay, z1, x1, y1, z1};
  std::copy(table, table + 24, corners);
}

void HaarCube::Transform(const double m[3][3], const double t[3]) {
  int lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  for (int c = 0; c < 8; ++c) {
    const double p[3] = {static_cast<double>((c & 1) ? x1 : x0), static_cast<double>((c & 2) ? y1 : y0),
                         static_cast<double>((c & 4) ? z1 : z0)};
    for (int r = 0; r < 3; ++r) {
      const double v = m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2] + t[r];
      const int q = TruncToInt32(v + 0.5);
      if (c == 0 || q < lo[r]) lo[r] = q;
      if (c == 0 || q > hi[r]) hi[r] = q;
    }
  }
  x0 = LowShort(lo[0]);
  x1 = LowShort(hi[0]);
  y0 = LowShort(lo[1]);
  y1 = LowShort(hi[1]);
  z0 = LowShort(lo[2]);
  z1 = LowShort(hi[2]);
  UpdateCount();
}
