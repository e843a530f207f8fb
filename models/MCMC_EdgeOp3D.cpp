#include "models/MCMC_EdgeOp3D.h"

#include <cmath>

#include "numerics/HistogramFunctions.h"
#include "platform/Conversions.h"
#include "platform/ParallelFor.h"

namespace {

int Extent(const SimpleMatrix3D<float>& v, int axis) {
  return axis == 0 ? v.dim0() : axis == 1 ? v.dim1() : v.dim2();
}

bool IsEmpty(const SimpleMatrix3D<float>& v) { return v.dim0() < 1 || v.dim1() < 1 || v.dim2() < 1; }

void SizeAndZero(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& like) {
  out.SetSize(like.dim0(), like.dim1(), like.dim2());
  out.Fill(0.0f);
}

// i + shift taken modulo n into 0 .. n - 1 for any sign of the sum.
inline int Wrap(int index, int n) {
  const int r = index % n;
  return r < 0 ? r + n : r;
}

// The fixed short kernels used along an axis too short for the scaled ones.
void FixedKernels(VectorQo<float>& g, VectorQo<float>& d) {
  g.SetSize(3);
  g[0] = 0.125f;
  g[1] = 0.25f;
  g[2] = 0.125f;
  d.SetSize(3);
  d[0] = 0.1f;
  d[1] = 0.0f;
  d[2] = -0.1f;
}

}  // namespace

void ConvolveAlongAxis(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& in, const VectorQo<float>& kernel,
                       int axis) {
  SimpleMatrix3D<float> result;
  SizeAndZero(result, in);
  const int taps = kernel.rows * kernel.cols;
  if (IsEmpty(in) || taps < 1 || axis < 1 || axis > 3) {
    out = result;
    return;
  }
  const int nz = in.dim0(), ny = in.dim1(), nx = in.dim2();
  const int half = (taps - 1) / 2;
  const int n = Extent(in, axis - 1);
  // Every element sums its taps in the order t = 0 .. taps - 1, whatever the loop order;
  // the rows (z, y) are independent items shared among the workers.
  ParallelFor(0, nz * ny, [&](int row, int) {
      const int z = row / ny, y = row % ny;
      float* o = &result(z, y, 0);
      if (axis == 3) {
        const float* src = &in(z, y, 0);
        for (int x = 0; x < nx; ++x)
          for (int t = 0; t < taps; ++t)
            o[x] += static_cast<double>(kernel[t]) * static_cast<double>(src[Wrap(x + half - t, n)]);
      } else {
        for (int t = 0; t < taps; ++t) {
          const float* src = axis == 1 ? &in(Wrap(z + half - t, n), y, 0) : &in(z, Wrap(y + half - t, n), 0);
          const double k = kernel[t];
          for (int x = 0; x < nx; ++x) o[x] += k * static_cast<double>(src[x]);
        }
      }
  });
  out = result;
}

void SuppressNonMaxima(SimpleMatrix3D<float>& out, const SimpleMatrix3D<float>& m, const SimpleMatrix3D<float>& gz,
                       const SimpleMatrix3D<float>& gy, const SimpleMatrix3D<float>& gx, float fraction) {
  SizeAndZero(out, m);
  const int nz = m.dim0(), ny = m.dim1(), nx = m.dim2();
  if (nz < 5 || ny < 5 || nx < 5) return;
  float lo = m(0, 0, 0), hi = m(0, 0, 0);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const float v = m(z, y, x);
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
  const float threshold = lo + (hi - lo) * fraction;

  ParallelFor(2, nz - 2, [&](int z, int) {
    for (int y = 2; y < ny - 2; ++y)
      for (int x = 2; x < nx - 2; ++x) {
        const float g[3] = {gz(z, y, x), gy(z, y, x), gx(z, y, x)};
        const float a[3] = {std::fabs(g[0]), std::fabs(g[1]), std::fabs(g[2])};
        int d = 2;
        if (a[0] > a[1] && a[0] > a[2])
          d = 0;
        else if (a[1] > a[0] && a[1] > a[2])
          d = 1;
        // Without a gradient there is no direction to compare along.
        if (a[d] == 0.0f || std::isnan(a[d])) continue;
        const float mc = m(z, y, x);
        if (!(mc > threshold)) continue;
        bool maximum = true;
        for (int minor = 0; minor < 3 && maximum; ++minor) {
          if (minor == d) continue;
          const float w = a[minor] / a[d];
          const int s = SignOfFloat(g[d]) == SignOfFloat(g[minor]) ? 1 : -1;
          int step[3] = {0, 0, 0};
          step[d] = 1;
          int diag[3] = {0, 0, 0};
          diag[d] = 1;
          diag[minor] = s;
          const float forward = w * m(z + step[0], y + step[1], x + step[2]) +
                                (1.0f - w) * m(z + diag[0], y + diag[1], x + diag[2]);
          const float backward = w * m(z - step[0], y - step[1], x - step[2]) +
                                 (1.0f - w) * m(z - diag[0], y - diag[1], x - diag[2]);
          if (!(mc > forward && mc > backward)) maximum = false;
        }
        if (maximum) out(z, y, x) = mc;
      }
  });
}

void MCMC_EdgeOp3D::CannyEdge(SimpleMatrix3D<float>& out, float sigma, const float* spacing) {
  if (IsEmpty(*this)) {
    out.SetSize(0, 0, 0);
    return;
  }
  // A voxel size that is not a positive number cannot scale a kernel: ignore them all.
  if (spacing) {
    for (int a = 0; a < 3; ++a)
      if (!(spacing[a] > 0.0f) || !std::isfinite(spacing[a])) spacing = nullptr;
  }
  VectorQo<float> gauss[3], deriv[3];
  if (!spacing) {
    VectorQo<float> g, d;
    g.GaussianDerivativeFilter(1, sigma, 0, 3.0);
    d.GaussianDerivativeFilter(1, sigma, 1, 3.0);
    for (int a = 0; a < 3; ++a) {
      gauss[a] = g;
      deriv[a] = d;
    }
  } else {
    float smallest = spacing[0];
    if (spacing[1] < smallest) smallest = spacing[1];
    if (spacing[2] < smallest) smallest = spacing[2];
    for (int a = 0; a < 3; ++a) {
      float s = smallest * sigma / spacing[a];
      if (s < 0.5f) s = 0.5f;
      gauss[a].GaussianDerivativeFilter(1, s, 0, 3.0);
      deriv[a].GaussianDerivativeFilter(1, s, 1, 3.0);
      const int length = deriv[a].rows * deriv[a].cols;
      if (Extent(*this, a) < 2 * length || length < 2) FixedKernels(gauss[a], deriv[a]);
    }
  }

  SimpleMatrix3D<float> grad[3];
  for (int a = 0; a < 3; ++a) {
    SimpleMatrix3D<float> tmp;
    ConvolveAlongAxis(tmp, *this, deriv[a], a + 1);
    ConvolveAlongAxis(grad[a], tmp, gauss[a], 2);
    ConvolveAlongAxis(tmp, grad[a], gauss[a], 3);
    grad[a] = tmp;
  }
  SimpleMatrix3D<float> magnitude;
  SizeAndZero(magnitude, *this);
  ParallelFor(0, dim0(), [&](int z, int) {
    for (int y = 0; y < dim1(); ++y)
      for (int x = 0; x < dim2(); ++x) {
        const float a = grad[0](z, y, x), b = grad[1](z, y, x), c = grad[2](z, y, x);
        float sum = a * a + b * b;
        sum += c * c;
        magnitude(z, y, x) = std::sqrt(sum);
      }
  });
  SuppressNonMaxima(out, magnitude, grad[0], grad[1], grad[2], 0.05f);
}

void ComputeCannyEdgeMap(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<unsigned char>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  if (in.NumElements() == 0) return;
  MCMC_EdgeOp3D op;
  op.SetSize(in.dim0(), in.dim1(), in.dim2());
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) op(z, y, x) = in(z, y, x);
  SimpleMatrix3D<float> edges;
  op.CannyEdge(edges, 1.0f, nullptr);
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) {
        float v = edges(z, y, x) * 50.0f;
        if (std::isnan(v) || v < 0.0f) v = 0.0f;
        if (v > 255.0f) v = 255.0f;
        out(z, y, x) = static_cast<unsigned char>(TruncToInt32(v));
      }
}
