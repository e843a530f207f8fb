// Feature values of the voxel sample at its current voxel. The formulas, offsets,
// constants and rounding points are part of the stored-model format.
//
// Every read of the intensity volume goes through voxel(), which holds the indexes
// inside the volume; an empty volume gives 0 before any read.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "features/Edg3DSample.h"
#include "features/FeatureFlags.h"

namespace {

inline int Clamp(int v, int hi) { return v < 0 ? 0 : (v > hi ? hi : v); }

inline double Sign(double v) { return v > 0.0 ? 1.0 : (v < 0.0 ? -1.0 : 0.0); }

// First step k of a diagonal profile run from (a, b) at which the reads a + 1 + k,
// b + 1 + k (forward) and a - k, b - k (backward) all lie at or beyond the faces of
// axes of extents A and B, so that the held reads no longer change.
int64_t ProfileSaturation(int a, int A, int b, int B) {
  const int64_t forward = std::max<int64_t>(int64_t{A} - 2 - a, int64_t{B} - 2 - b);
  const int64_t backward = std::max<int64_t>(a, b);
  return std::max<int64_t>(0, std::max(forward, backward));
}

// Sum of the voxels of the box low .. high (inclusive) that lie inside the volume,
// from the summed table: voxels outside count 0. Inside the volume this is the plain
// eight-corner sum; the high corners are held at the last voxel so that a run past a
// high face does not subtract the sums of other voxels.
double ZeroOutsideSum(const HeapMatrix3D<double>& J, int x0, int y0, int z0, int x1, int y1, int z1) {
  x1 = std::min(x1, J.dim2() - 1);
  y1 = std::min(y1, J.dim1() - 1);
  z1 = std::min(z1, J.dim0() - 1);
  const int ax = std::max(x0, 0) - 1, ay = std::max(y0, 0) - 1, az = std::max(z0, 0) - 1;
  if (x1 <= ax || y1 <= ay || z1 <= az) return 0.0;
  auto at = [&J](int zz, int yy, int xx) { return (zz < 0 || yy < 0 || xx < 0) ? 0.0 : J(zz, yy, xx); };
  return at(z1, y1, x1) - at(az, y1, x1) - at(z1, ay, x1) - at(z1, y1, ax) + at(az, ay, x1) + at(az, y1, ax) +
         at(z1, ay, ax) - at(az, ay, ax);
}

// Mean over the clamped box of the alternative context family.
double ClampedMean(const HeapMatrix3D<double>& J, int x0, int y0, int z0, int x1, int y1, int z1) {
  const int X = J.dim2() - 1, Y = J.dim1() - 1, Z = J.dim0() - 1;
  const int ax = Clamp(x0 - 1, X), ay = Clamp(y0 - 1, Y), az = Clamp(z0 - 1, Z);
  const int bx = Clamp(x1, X), by = Clamp(y1, Y), bz = Clamp(z1, Z);
  const double sum = J(bz, by, bx) - J(az, by, bx) - J(bz, ay, bx) - J(bz, by, ax) + J(az, ay, bx) + J(az, by, ax) +
                     J(bz, ay, ax) - J(az, ay, ax);
  const double count = static_cast<double>(bx - ax) * (by - ay) * (bz - az);
  return count > 0.0 ? sum / count : 0.0;
}

}  // namespace

int Edg3DSample::voxel(int zz, int yy, int xx) const {
  const HeapMatrix3D<unsigned char>& v = data().volume;
  return v(Clamp(zz, v.dim0() - 1), Clamp(yy, v.dim1() - 1), Clamp(xx, v.dim2() - 1));
}

float Edg3DSample::computeFeature(const PbtFid& fid) {
  const Edg3DSample& d = data();
  switch (fid.kind) {
    case 'L':
      return locationFeatureValue(fid.params[0]);
    case 'S':
      return d.shapeIndex.IsInside(z, y, x) ? d.shapeIndex(z, y, x) : 0.0f;
    case 'V':
      return d.curvedness.IsInside(z, y, x) ? d.curvedness(z, y, x) : 0.0f;
    case 'I': {
      if (d.volume.NumElements() <= 0) return 0.0f;
      if (fid.params[0] == 0) {
        return static_cast<float>((static_cast<double>(voxel(z, y, x)) - intensityMean) /
                                  static_cast<double>(intensityScale));
      }
      if (fid.params[0] != 1) return 0.0f;
      gradient.ApplyInteger(z, y, x);
      double squares = 0.0;
      for (double s : gradient.sums) squares += s * s;
      return static_cast<float>(std::sqrt(squares) / intensityScale);
    }
    case '1':
      return profileFeatureValue(fid);
    case 'H':
      return haarFeatureValue(fid);
    case 'D':
      return derivativeFeatureValue(fid, z, y, x);
    case 'C':
      return curvatureFeatureValue(fid.index, z, y, x);
    case 't':
      return atlasFeatureValue();
    case 'O': {
      if (gContextFeatureMode == 1) return contextFeatureValue(fid);
      if (fid.params[5] != 4) return 0.0f;
      const int offset = fid.params[0], map = fid.params[1];
      if (offset < 0 || offset >= static_cast<int>(contextOffsets.size()) || map < 0 ||
          map >= static_cast<int>(d.contextVolumes.size()))
        return -1.0f;
      const std::array<int, 3>& o = contextOffsets[offset];
      const HeapMatrix3D<unsigned char>& M = d.contextVolumes[map];
      const int qz = z + o[2], qy = y + o[1], qx = x + o[0];
      if (!M.IsInside(qz, qy, qx)) return -1.0f;
      return static_cast<float>(static_cast<int>(M(qz, qy, qx)) - 1);
    }
    default:
      return 0.0f;
  }
}

float Edg3DSample::locationFeatureValue(int variant) {
  const HeapMatrix3D<unsigned char>& v0 = data().volume;
  const int W = v0.dim2(), H = v0.dim1(), D = v0.dim0();
  if (W <= 0 || H <= 0 || D <= 0) return 0.0f;
  const float u = static_cast<float>(static_cast<double>(x) / W);
  const float v = static_cast<float>(static_cast<double>(y) / H);
  const float w = static_cast<float>(static_cast<double>(z) / D);
  switch (variant) {
    case 0:
      return u;
    case 1:
      return v;
    case 2:
      return w;
    case 3:
      return static_cast<float>(static_cast<double>(u) + v);
    case 4:
      return static_cast<float>(static_cast<double>(u) + w);
    case 5:
      return static_cast<float>(static_cast<double>(v) + w);
    case 6:
      return static_cast<float>(static_cast<double>(u) - v);
    case 7:
      return static_cast<float>(static_cast<double>(u) - w);
    case 8:
      return static_cast<float>(static_cast<double>(v) - w);
    case 9:
      return static_cast<float>(static_cast<double>(u) + v + w);
    default:
      return 0.0f;
  }
}

float Edg3DSample::derivativeFeatureValue(const PbtFid& fid, int zz, int yy, int xx) {
  if (data().volume.NumElements() <= 0) return 0.0f;
  if (fid.subtype < 0 || fid.subtype > 2 || fid.index < 0 || fid.index > 5) return 0.0f;
  const int pz = zz + fid.offset[0], py = yy + fid.offset[1], px = xx + fid.offset[2];
  const int dz = fid.subtype == 0, dy = fid.subtype == 1, dx = fid.subtype == 2;
  const int c = voxel(pz, py, px);
  const int forward = voxel(pz + dz, py + dy, px + dx);
  const int backward = voxel(pz - dz, py - dy, px - dx);
  int value = 0;
  switch (fid.index) {
    case 0:
      value = c - forward;
      break;
    case 1:
      value = std::abs(c - forward);
      break;
    case 2:
      value = c - backward;
      break;
    case 3:
      value = std::abs(c - backward);
      break;
    case 4:
      value = 2 * c - backward - forward;
      break;
    default:
      value = std::abs(2 * c - backward - forward);
      break;
  }
  return static_cast<float>(value);
}

float Edg3DSample::profileFeatureValue(const PbtFid& fid) {
  if (data().volume.NumElements() <= 0) return 0.0f;
  const int axis = fid.params[0], subtype = fid.subtype, n = fid.index;
  if (axis < 0 || axis > 2 || subtype < 0 || subtype > 3) return 0.0f;
  gradient.ApplyInteger(z, y, x);
  const double* s = gradient.sums;
  double S = 0.0;
  if (subtype <= 1) {
    const HeapMatrix3D<double>& J = data().integral.sums;
    if (axis == 0) {
      S = ZeroOutsideSum(J, x, y + 1, z, x, y + n, z) - ZeroOutsideSum(J, x, y - n + 1, z, x, y, z);
    } else if (axis == 1) {
      S = ZeroOutsideSum(J, x, y, z + 1, x, y, z + n) - ZeroOutsideSum(J, x, y, z - n + 1, x, y, z);
    } else {
      S = ZeroOutsideSum(J, x + 1, y, z, x + n, y, z) - ZeroOutsideSum(J, x - n + 1, y, z, x, y, z);
    }
  } else {
    // From step `saturated` on every read is held at a corner of the volume, so each
    // further step adds the same difference: the tail is added as one product (with
    // the wrap-around of the step-by-step int sum), and a run length taken from a
    // file cannot make the loop long.
    // The extents of the data read (a worker copy holds no volume of its own).
    const HeapMatrix3D<unsigned char>& V = data().volume;
    const int64_t saturated = axis == 0   ? ProfileSaturation(y, V.dim1(), x, V.dim2())
                              : axis == 1 ? ProfileSaturation(z, V.dim0(), y, V.dim1())
                                          : ProfileSaturation(z, V.dim0(), x, V.dim2());
    const int steps = static_cast<int>(std::min<int64_t>(n, saturated));
    auto step = [&](int k) {
      if (axis == 0) return voxel(z, y + 1 + k, x + 1 + k) - voxel(z, y - k, x - k);
      if (axis == 1) return voxel(z + 1 + k, y + 1 + k, x) - voxel(z - k, y - k, x);
      return voxel(z + 1 + k, y, x + 1 + k) - voxel(z - k, y, x - k);
    };
    int sum = 0;
    for (int k = 0; k < steps; ++k) sum += step(k);
    if (n > steps) {
      const uint32_t tail = static_cast<uint32_t>(n - steps) * static_cast<uint32_t>(step(steps));
      sum = static_cast<int>(static_cast<uint32_t>(sum) + tail);
    }
    S = sum;
  }
  if (subtype == 1 || subtype == 3) return static_cast<float>(S);
  double g = 0.0;
  if (subtype == 0) {
    g = axis == 0 ? s[0] : (axis == 1 ? s[2] : s[5]);
  } else {
    g = axis == 0 ? s[0] * s[1] : (axis == 1 ? s[2] * s[3] : s[4] * s[5]);
  }
  return static_cast<float>(S * Sign(g));
}

float Edg3DSample::curvatureFeatureValue(int index, int zz, int yy, int xx) {
  const Edg3DSample& d = data();
  if (index == 12) return d.principal1.IsInside(zz, yy, xx) ? d.principal1(zz, yy, xx) : 0.0f;
  if (index == 13) return d.principal2.IsInside(zz, yy, xx) ? d.principal2(zz, yy, xx) : 0.0f;
  if (index < 0 || index > 15) return 0.0f;
  curvature.SetPosition(zz, yy, xx);
  curvature.ComputeGradient();
  curvature.ComputeHessian();
  const double* g = curvature.Gradient();
  const double* h = curvature.Hessian();
  if (index <= 2) return static_cast<float>(g[0 + index]);
  if (index <= 11) return static_cast<float>(h[index - 3]);
  const double g0 = g[0], g1 = g[1], g2 = g[2];
  const double n2 = g0 * g0 + g1 * g1 + g2 * g2;
  if (!(n2 > 1000.0)) return 0.0f;
  const double h00 = h[0], h01 = h[1], h02 = h[2], h11 = h[4], h12 = h[5], h22 = h[8];
  if (index == 14) {
    const float numerator =
        static_cast<float>(g0 * g0 * (h11 * h22 - h12 * h12) + g1 * g1 * (h00 * h22 - h02 * h02) +
                           g2 * g2 * (h00 * h11 - h01 * h01) + 2 * g0 * g1 * (h02 * h12 - h01 * h22) +
                           2 * g1 * g2 * (h01 * h02 - h00 * h12) + 2 * g0 * g2 * (h01 * h12 - h02 * h11));
    const float denominator = static_cast<float>(n2 * n2);
    return static_cast<float>(static_cast<double>(numerator) / denominator);
  }
  const float numerator = static_cast<float>(g0 * g0 * (h11 + h22) + g1 * g1 * (h00 + h22) + g2 * g2 * (h00 + h11) -
                                             2 * g0 * g1 * h01 - 2 * g0 * g2 * h02 - 2 * g1 * g2 * h12);
  const float denominator = static_cast<float>(2 * std::pow(n2, 1.5));
  return static_cast<float>(static_cast<double>(numerator) / denominator);
}

void Edg3DSample::computeShapeVolumes(HeapMatrix3D<float>& shape, HeapMatrix3D<float>& curved,
                                      const HeapMatrix3D<float>& extents) {
  prepareDataChange();
  const int D = extents.dim0(), H = extents.dim1(), W = extents.dim2();
  shape.SetSize(D, H, W);
  curved.SetSize(D, H, W);
  for (int zz = 0; zz < D; ++zz)
    for (int yy = 0; yy < H; ++yy)
      for (int xx = 0; xx < W; ++xx) {
        const float k1 = principal1.IsInside(zz, yy, xx) ? principal1(zz, yy, xx) : 0.0f;
        const float k2 = principal2.IsInside(zz, yy, xx) ? principal2(zz, yy, xx) : 0.0f;
        if (std::fabs(k1) > 1e-5f || std::fabs(k2) > 1e-5f) {
          const float angle = std::atan2(k1 + k2, k1 - k2);
          shape(zz, yy, xx) = static_cast<float>(0.5 - angle / 3.14159265358979323846);
          curved(zz, yy, xx) =
              static_cast<float>(std::sqrt((static_cast<double>(k1) * k1 + static_cast<double>(k2) * k2) / 2));
        } else {
          shape(zz, yy, xx) = 0.0f;
          curved(zz, yy, xx) = 0.0f;
        }
      }
}

float Edg3DSample::contextFeatureValue(const PbtFid& fid) {
  const std::vector<HeapMatrix3D<unsigned char>>& contextVolumes = data().contextVolumes;
  const ItgImage3D<double>& integral = data().integral;
  const int qz = z + fid.params[2], qy = y + fid.params[3], qx = x + fid.params[4];
  switch (fid.params[5]) {
    case 4: {
      const int map = fid.params[1];
      if (map < 0 || map >= static_cast<int>(contextVolumes.size())) return -1.0f;
      const HeapMatrix3D<unsigned char>& M = contextVolumes[map];
      return M.IsInside(qz, qy, qx) ? static_cast<float>(M(qz, qy, qx)) : -1.0f;
    }
    case 3: {
      const int map = fid.params[1];
      if (map < 0 || map >= static_cast<int>(contextVolumes.size())) return 1.0f;
      const HeapMatrix3D<unsigned char>& M = contextVolumes[map];
      double sum = 0.0;
      int count = 0;
      for (int dz = -1; dz <= 1; ++dz)
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (M.IsInside(qz + dz, qy + dy, qx + dx)) {
              sum += M(qz + dz, qy + dy, qx + dx);
              ++count;
            }
      return count == 0 ? 1.0f : static_cast<float>(sum / count);
    }
    case 2: {
      if (integral.sums.NumElements() <= 0) return 0.5f;
      const int r = fid.params[1];
      const double mean = ClampedMean(integral.sums, qx - r, qy - r, qz - r, qx + r, qy + r, qz + r);
      return static_cast<float>(mean < 0.5 ? 0.5 : mean);
    }
    default:
      return 0.0f;
  }
}

float Edg3DSample::atlasFeatureValue() {
  if (data().atlas.NumElements() <= 0) {
    // A path that failed once is neither opened nor reported again; its features stay 0.
    if (!atlasFailed_ || failedAtlasPath_ != gAtlasPath) {
      prepareDataChange();  // a worker copy loads into data of its own
      touchData();
      if (!atlas.Load(gAtlasPath)) {
        atlas.Clear();
        atlasFailed_ = true;
        failedAtlasPath_ = gAtlasPath;
        std::printf("Cannot read the atlas volume %s\n", gAtlasPath.empty() ? "(null)" : gAtlasPath.c_str());
        std::fflush(stdout);
      }
    }
    if (data().atlas.NumElements() <= 0) return 0.0f;
  }
  const HeapMatrix3D<unsigned char>& a = data().atlas;
  return a.IsInside(z, y, x) ? static_cast<float>(a(z, y, x)) : 0.0f;
}
