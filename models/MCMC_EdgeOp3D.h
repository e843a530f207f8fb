#pragma once
// A three-dimensional Canny-type edge detector on float volumes, and the byte edge map
// that the region competition uses as its edge term.
//
// Volumes are indexed (slice, row, column) = (z, y, x); axis 1 runs along the slices,
// 2 along the rows, 3 along the columns.
#include "numerics/SimpleMatrix3D.h"
#include "numerics/VectorQo.h"
#include "volume/HeapMatrix3D.h"

class MCMC_EdgeOp3D : public SimpleMatrix3D<float> {
 public:
  MCMC_EdgeOp3D() = default;
  ~MCMC_EdgeOp3D() override = default;

  // Edge strengths of this operator's own volume into `out` (resized to it): the
  // gradient by derivative-of-Gaussian kernels (sigma, or per-axis sigmas scaled by the
  // voxel sizes `spacing` (z, y, x) when given), its magnitude, then non-maximum
  // suppression with fraction 0.05. An empty volume gives an empty `out`.
  virtual void CannyEdge(SimpleMatrix3D<float>& out, float sigma, const float* spacing);
};

// out := in convolved along `axis` (1, 2 or 3) with `kernel`, wrapping around at the
// borders: out[i] = sum over t of k[t] * in[(i + (L - 1) / 2 - t) mod D], each product
// formed in double and added to the float element. Any other axis, or an empty kernel,
// leaves out zero (sized as in).
void ConvolveAlongAxis(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& in, const VectorQo<float>& kernel,
                       int axis);

// out := magnitude at every voxel at least 2 voxels inside each border that is a local
// maximum across the gradient direction (interpolated between the straight and the
// diagonal neighbour) and above min + (max - min) * fraction; 0 elsewhere, everywhere
// when an extent is below 5, and at a voxel whose dominant gradient component is 0.
void SuppressNonMaxima(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& magnitude,
                       const SimpleMatrix3D<float>& gz, const SimpleMatrix3D<float>& gy,
                       const SimpleMatrix3D<float>& gx, float fraction);

// out (resized to in) := trunc(min(edge * 50, 255)) of CannyEdge(sigma 1, no spacing)
// on the byte volume in.
void ComputeCannyEdgeMap(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& in);
