#include "models/MCMC_EdgeOp3D.h"

void MCMC_EdgeOp3D::CannyEdge(SimpleMatrix3D<float>& out, float, const float*) {
  out.SetSize(dim0(), dim1(), dim2());
  out.Fill(0.0f);
}

void ConvolveAlongAxis(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& in, const VectorQo<float>&, int) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  out.Fill(0.0f);
}

void SuppressNonMaxima(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& magnitude, const SimpleMatrix3D<float>&,
                       const SimpleMatrix3D<float>&, const SimpleMatrix3D<float>&, float) {
  out.SetSize(magnitude.dim0(), magnitude.dim1(), magnitude.dim2());
  out.Fill(0.0f);
}

void ComputeCannyEdgeMap(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  out.SetZero();
}
