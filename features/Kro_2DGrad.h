#pragma once
// Kro_2DGrad: 3 x 3 gradient kernels on the three orthogonal planes through a voxel.
// After Apply or ApplyInteger, sums[0..5] hold:
//   s0 rows and s1 columns in the slice plane, s2 slices and s3 columns in the row
//   plane, s4 slices and s5 rows in the column plane.
// kernelX = [-1 0 1; -2 0 2; -1 0 1] / 4, kernelY its transpose.
//
// The volume is not owned. Neighbour indexes are held inside the volume, so a voxel on
// a face reads its nearest voxels instead of leaving the volume; an empty volume (or
// none set) gives zero sums. Inside the volume both forms give the same sums.
#include "numerics/Matrix.h"
#include "volume/HeapMatrix3D.h"

class Kro_2DGrad {
 public:
  Kro_2DGrad();
  virtual ~Kro_2DGrad() = default;

  virtual void SetVolume(const HeapMatrix3D<unsigned char>& v) { volume = &v; }
  // The float kernels applied voxel by voxel.
  virtual void Apply(int z, int y, int x);
  // The same sums with integer arithmetic, times 0.25.
  virtual void ApplyInteger(int z, int y, int x);

  double sums[6] = {0, 0, 0, 0, 0, 0};
  Matrix<float> kernelY;
  Matrix<float> kernelX;
  const HeapMatrix3D<unsigned char>* volume = nullptr;
};
