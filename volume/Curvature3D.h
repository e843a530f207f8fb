#pragma once
// Curvature3D<T>: finite differences on a volume of its own (filled by its user), or
// on another object's (ReadVolumeOf), at one voxel: the gradient, the 3 x 3 matrix of
// second differences, and the mean gradient direction in a box. Used with
// T = unsigned char.
//
// Differences are formed in integers and converted to double. Neighbour indices are
// held inside the volume, so no operation reads outside it; a position outside the
// volume gives zero differences.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "numerics/SubVolume.h"
#include "volume/HeapMatrix3D.h"

template <class T>
class Curvature3D {
 public:
  Curvature3D() = default;
  virtual ~Curvature3D() = default;

  HeapMatrix3D<T>& Volume() { return volume_; }
  const HeapMatrix3D<T>& Volume() const { return volume_; }

  // The differences read another object's volume instead of this one's (a worker of a
  // parallel loop with a position of its own over one shared volume); `other` must
  // outlive that use. Null: this object's volume again. Copies take the setting along.
  void ReadVolumeOf(const Curvature3D* other) { view_ = other != nullptr ? &other->Read() : nullptr; }
  // The volume the differences read.
  const HeapMatrix3D<T>& Read() const { return view_ != nullptr ? *view_ : volume_; }

  void SetPosition(int z, int y, int x) {
    z_ = z;
    y_ = y;
    x_ = x;
  }

  // gx, gy, gz: differences along the columns, rows and slices.
  const double* Gradient() const { return gradient_; }
  // Row by row: xx, xy, xz, yx, yy, yz, zx, zy, zz (not symmetrised).
  const double* Hessian() const { return hessian_; }

  // Central differences without halving, neighbours clamped into the volume:
  // gx = V(z, y, min(x+1, X-1)) - V(z, y, max(x-1, 0)), and the same along y and z.
  void ComputeGradient() {
    if (!Read().IsInside(z_, y_, x_)) {
      gradient_[0] = gradient_[1] = gradient_[2] = 0.0;
      return;
    }
    gradient_[0] = DiffX(z_, y_, x_);
    gradient_[1] = DiffY(z_, y_, x_);
    gradient_[2] = DiffZ(z_, y_, x_);
  }

  // Needs ComputeGradient at the same voxel. A diagonal entry is the difference one
  // step further on minus the gradient; an off-diagonal entry is the gradient minus
  // the difference one step back along the other axis. That step back is held at 0
  // on a low face (the entry is then 0).
  void ComputeHessian() {
    if (!Read().IsInside(z_, y_, x_)) {
      std::fill(hessian_, hessian_ + 9, 0.0);
      return;
    }
    const int z = z_, y = y_, x = x_;
    const int X = Read().dim2(), Y = Read().dim1(), Z = Read().dim0();
    const int zb = std::max(z - 1, 0), yb = std::max(y - 1, 0), xb = std::max(x - 1, 0);
    const double gx = gradient_[0], gy = gradient_[1], gz = gradient_[2];
    hessian_[0] = (V(z, y, std::min(x + 2, X - 1)) - V(z, y, x)) - gx;
    hessian_[1] = gx - DiffX(z, yb, x);
    hessian_[2] = gx - DiffX(zb, y, x);
    hessian_[3] = gy - DiffY(z, y, xb);
    hessian_[4] = (V(z, std::min(y + 2, Y - 1), x) - V(z, y, x)) - gy;
    hessian_[5] = gy - DiffY(zb, y, x);
    hessian_[6] = gz - DiffZ(z, y, xb);
    hessian_[7] = gz - DiffZ(z, yb, x);
    hessian_[8] = (V(std::min(z + 2, Z - 1), y, x) - V(z, y, x)) - gz;
  }

  // The mean direction of the negated gradient (bright to dark) over the voxels of the
  // box enlarged by a quarter of its size per side and held to 1 .. size - 2, counting
  // only voxels whose squared gradient length exceeds 1000. out is (x, y, z) of unit
  // length, or (0, 0, 0) when no voxel counts or the directions cancel. Moves the
  // current voxel and overwrites the gradient.
  void MeanGradientDirection(float out[3], const SubVolume& box) {
    out[0] = out[1] = out[2] = 0.0f;
    int zLo, zHi, yLo, yHi, xLo, xHi;
    ScanRange(box.z0, box.z1, Read().dim0(), zLo, zHi);
    ScanRange(box.y0, box.y1, Read().dim1(), yLo, yHi);
    ScanRange(box.x0, box.x1, Read().dim2(), xLo, xHi);
    int count = 0;
    for (int z = zLo; z <= zHi; ++z)
      for (int y = yLo; y <= yHi; ++y)
        for (int x = xLo; x <= xHi; ++x) {
          SetPosition(z, y, x);
          ComputeGradient();
          for (double& g : gradient_) g = -g;
          const double m2 = gradient_[0] * gradient_[0] + gradient_[1] * gradient_[1] + gradient_[2] * gradient_[2];
          if (m2 > 1000.0) {
            ++count;
            const double m = std::sqrt(m2);
            for (int i = 0; i < 3; ++i) out[i] += static_cast<float>(gradient_[i] / m);
          }
        }
    if (count == 0) return;
    for (int i = 0; i < 3; ++i) out[i] /= static_cast<float>(count);
    const float length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
    if (length > 0.0f) {
      for (int i = 0; i < 3; ++i) out[i] /= length;
    } else {
      out[0] = out[1] = out[2] = 0.0f;
    }
  }

  // MeanGradientDirection over the 7 x 7 x 7 box around (z, y, x), cut to the volume.
  virtual void GradientDirection(float out[3], int z, int y, int x) {
    SubVolume box(x - 3, y - 3, z - 3, x + 3, y + 3, z + 3);
    box.Intersect(SubVolume(0, 0, 0, Read().dim2() - 1, Read().dim1() - 1, Read().dim0() - 1));
    MeanGradientDirection(out, box);
  }

 private:
  int V(int z, int y, int x) const { return Read()[z][y][x]; }
  double DiffX(int z, int y, int x) const {
    return V(z, y, std::min(x + 1, Read().dim2() - 1)) - V(z, y, std::max(x - 1, 0));
  }
  double DiffY(int z, int y, int x) const {
    return V(z, std::min(y + 1, Read().dim1() - 1), x) - V(z, std::max(y - 1, 0), x);
  }
  double DiffZ(int z, int y, int x) const {
    return V(std::min(z + 1, Read().dim0() - 1), y, x) - V(std::max(z - 1, 0), y, x);
  }

  // lo .. hi enlarged by a quarter of its size on each side, then held to 1 .. size - 2.
  static void ScanRange(int lo, int hi, int size, int& from, int& to) {
    const int64_t q = (static_cast<int64_t>(hi) - lo + 1) / 4;
    from = static_cast<int>(std::max<int64_t>(lo - q, 1));
    to = static_cast<int>(std::min<int64_t>(hi + q, static_cast<int64_t>(size) - 2));
  }

  HeapMatrix3D<T> volume_;
  const HeapMatrix3D<T>* view_ = nullptr;
  int z_ = 0;
  int y_ = 0;
  int x_ = 0;
  double gradient_[3] = {0.0, 0.0, 0.0};
  double hessian_[9] = {};
};
