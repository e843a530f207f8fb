#include "models/MCMC_EdgeOp3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using Volume = SimpleMatrix3D<float>;

// Deterministic phantom: a bright ball off centre on a ramp, with a small pattern.
Volume Phantom(int nz, int ny, int nx) {
  Volume v;
  v.SetSize(nz, ny, nx);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const double r2 = (z - nz * 0.45) * (z - nz * 0.45) + (y - ny * 0.5) * (y - ny * 0.5) +
                          (x - nx * 0.55) * (x - nx * 0.55);
        v(z, y, x) = static_cast<float>((r2 < 9.0 ? 120 : 20) + 2 * x + ((x * 7 + y * 3 + z * 5) % 11));
      }
  return v;
}

std::string VolumeText(const Volume& v) {
  std::ostringstream out;
  out.precision(9);
  out << v.dim0() << " " << v.dim1() << " " << v.dim2();
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) out << " " << v(z, y, x);
  return out.str();
}

std::vector<float> Floats(const Volume& v) {
  std::vector<float> out;
  for (int z = 0; z < v.dim0(); ++z)
    for (int y = 0; y < v.dim1(); ++y)
      for (int x = 0; x < v.dim2(); ++x) out.push_back(v(z, y, x));
  return out;
}

void AppendBytes(std::vector<uint8_t>& bytes, const std::vector<float>& values) {
  const size_t at = bytes.size();
  bytes.resize(at + values.size() * 4);
  std::memcpy(bytes.data() + at, values.data(), values.size() * 4);
}

VectorQo<float> Kernel(int order) {
  VectorQo<float> k;
  k.GaussianDerivativeFilter(1, 1.0, order, 3.0);
  return k;
}

}  // namespace

TEST(MCMC_EdgeOp3DTest, ConvolveAlongAxisMatchesWrappedConvolution) {
  const Volume in = Phantom(5, 6, 7);
  VectorQo<float> three(3);
  three[0] = 0.5f;
  three[1] = -0.25f;
  three[2] = 2.0f;
  const std::vector<VectorQo<float>> kernels = {Kernel(1), three};
  ASSERT_EQ(kernels[0].cols, 7);

  std::ostringstream kernelText;
  kernelText.precision(9);
  for (const VectorQo<float>& k : kernels) {
    for (int t = 0; t < k.cols; ++t) kernelText << (t ? "," : "") << k[t];
    kernelText << ";";
  }
  const std::string script = R"(
import sys
import numpy as np
from scipy.ndimage import convolve1d
t = sys.argv[1].split()
shape = tuple(int(v) for v in t[:3])
vol = np.array([float(v) for v in t[3:]]).reshape(shape)
for ks in sys.argv[2].split(';'):
    if not ks:
        continue
    k = np.array([float(v) for v in ks.split(',')])
    for axis in range(3):
        out = convolve1d(vol, k, axis=axis, mode='wrap')
        print(' '.join('%.9g' % v for v in out.ravel()))
)";
  ProcessResult py = RunPython(script, {VolumeText(in), kernelText.str()});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  for (const VectorQo<float>& k : kernels) {
    for (int axis = 1; axis <= 3; ++axis) {
      SCOPED_TRACE(axis);
      std::string line;
      ASSERT_TRUE(std::getline(lines, line));
      std::istringstream numbers(line);
      Volume out;
      ConvolveAlongAxis(out, in, k, axis);
      for (float got : Floats(out)) {
        double expected = 0;
        ASSERT_TRUE(numbers >> expected);
        EXPECT_NEAR(got, expected, 1e-5 * std::max(1.0, std::fabs(expected)));
      }
    }
  }
  Volume out;
  ConvolveAlongAxis(out, in, three, 4);
  for (float v : Floats(out)) EXPECT_EQ(v, 0.0f);
}

TEST(MCMC_EdgeOp3DTest, ConvolutionWrapsFromFirstToLastSlices) {
  Volume in;
  in.SetSize(12, 5, 5);
  in.Fill(0.0f);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) in(0, y, x) = in(1, y, x) = 100.0f;
  Volume out;
  ConvolveAlongAxis(out, in, Kernel(1), 1);
  EXPECT_NE(out(11, 2, 2), 0.0f);  // reached only across the wrap
  EXPECT_NE(out(10, 2, 2), 0.0f);
  EXPECT_EQ(out(6, 2, 2), 0.0f);  // more than three slices from the slab both ways
}

TEST(MCMC_EdgeOp3DTest, EdgeMapBytesMatchReferenceSuppression) {
  const Volume phantom = Phantom(9, 10, 11);
  HeapMatrix3D<unsigned char> bytes;
  bytes.SetSize(9, 10, 11);
  MCMC_EdgeOp3D op;
  op.SetSize(9, 10, 11);
  for (int z = 0; z < 9; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 11; ++x) {
        bytes(z, y, x) = static_cast<unsigned char>(phantom(z, y, x));
        op(z, y, x) = bytes(z, y, x);
      }

  // The gradient as the operator forms it: derivative along its axis, then the
  // Gaussian along rows and columns.
  Volume grad[3], tmp, magnitude;
  for (int a = 0; a < 3; ++a) {
    ConvolveAlongAxis(tmp, op, Kernel(1), a + 1);
    ConvolveAlongAxis(grad[a], tmp, Kernel(0), 2);
    ConvolveAlongAxis(tmp, grad[a], Kernel(0), 3);
    grad[a] = tmp;
  }
  magnitude = op;
  for (int z = 0; z < 9; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 11; ++x) {
        const float a = grad[0](z, y, x), b = grad[1](z, y, x), c = grad[2](z, y, x);
        float sum = a * a + b * b;
        sum += c * c;
        magnitude(z, y, x) = std::sqrt(sum);
      }
  Volume edges;
  op.CannyEdge(edges, 1.0f, nullptr);
  Volume suppressed;
  SuppressNonMaxima(suppressed, magnitude, grad[0], grad[1], grad[2], 0.05f);
  EXPECT_EQ(Floats(edges), Floats(suppressed));

  HeapMatrix3D<unsigned char> map;
  ComputeCannyEdgeMap(map, bytes);

  TempFolder tmpFolder;
  std::vector<uint8_t> raw;
  for (const Volume* v : {&magnitude, &grad[0], &grad[1], &grad[2]}) AppendBytes(raw, Floats(*v));
  WriteFileBytes(tmpFolder.file("grads.f32"), raw);
  const std::string script = R"(
import sys
import numpy as np
f32 = np.float32
shape = (9, 10, 11)
data = np.fromfile(sys.argv[1], dtype='<f4').reshape((4,) + shape)
m, g = data[0], data[1:]
lo, hi = m.min(), m.max()
thr = f32(lo + (hi - lo) * f32(0.05))
out = np.zeros(shape, dtype=np.float32)
def sgn(v):
    return -1 if v < 0 else (1 if v > 0 else 0)
for z in range(2, shape[0] - 2):
    for y in range(2, shape[1] - 2):
        for x in range(2, shape[2] - 2):
            gv = [g[0][z, y, x], g[1][z, y, x], g[2][z, y, x]]
            av = [abs(v) for v in gv]
            if av[0] > av[1] and av[0] > av[2]:
                d = 0
            elif av[1] > av[0] and av[1] > av[2]:
                d = 1
            else:
                d = 2
            if av[d] == 0:
                continue
            c = m[z, y, x]
            ok = c > thr
            p = (z, y, x)
            for mi in range(3):
                if mi == d:
                    continue
                w = f32(av[mi] / av[d])
                s = 1 if sgn(gv[d]) == sgn(gv[mi]) else -1
                st = [0, 0, 0]; st[d] = 1
                dg = [0, 0, 0]; dg[d] = 1; dg[mi] = s
                at = lambda o, k: m[p[0] + k * o[0], p[1] + k * o[1], p[2] + k * o[2]]
                fw = f32(w * at(st, 1)) + f32((f32(1) - w) * at(dg, 1))
                bw = f32(w * at(st, -1)) + f32((f32(1) - w) * at(dg, -1))
                ok = ok and c > fw and c > bw
            if ok:
                out[z, y, x] = c
b = np.trunc(np.minimum(out * f32(50.0), f32(255.0))).astype(np.uint8)
print(' '.join(str(v) for v in b.ravel()))
)";
  ProcessResult py = RunPython(script, {tmpFolder.file("grads.f32")});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream numbers(py.out);
  int nonZero = 0;
  for (int z = 0; z < 9; ++z)
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 11; ++x) {
        int expected = -1;
        ASSERT_TRUE(numbers >> expected);
        EXPECT_EQ(map(z, y, x), expected) << z << " " << y << " " << x;
        nonZero += map(z, y, x) != 0;
      }
  EXPECT_GT(nonZero, 5);
}

TEST(MCMC_EdgeOp3DTest, FlatSmallAndEmptyVolumesHaveNoEdges) {
  struct Case {
    const char* name;
    int nz, ny, nx;
    bool constant;
  };
  const Case cases[] = {
      {"constant", 8, 8, 8, true}, {"four slices", 4, 9, 9, false}, {"four rows", 9, 4, 9, false},
      {"four columns", 9, 9, 4, false}, {"empty", 0, 0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeapMatrix3D<unsigned char> in, out;
    in.SetSize(c.nz, c.ny, c.nx);
    for (int z = 0; z < c.nz; ++z)
      for (int y = 0; y < c.ny; ++y)
        for (int x = 0; x < c.nx; ++x)
          in(z, y, x) = static_cast<unsigned char>(c.constant ? 77 : (x * 40 + y * 13 + z * 29) % 200);
    ComputeCannyEdgeMap(out, in);
    EXPECT_EQ(out.dim0(), c.nz);
    EXPECT_EQ(out.dim1(), c.ny);
    EXPECT_EQ(out.dim2(), c.nx);
    for (int z = 0; z < c.nz; ++z)
      for (int y = 0; y < c.ny; ++y)
        for (int x = 0; x < c.nx; ++x) EXPECT_EQ(out(z, y, x), 0);
  }
}

// Rows of the convolutions and slices of the suppression on every worker: the edge
// strengths (with and without voxel sizes) and the byte map of one worker.
TEST(MCMC_EdgeOp3DTest, SeveralWorkersGiveTheEdgesOfOne) {
  HeapMatrix3D<unsigned char> in;
  in.SetSize(19, 23, 21);
  for (int z = 0; z < 19; ++z)
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 21; ++x) {
        const int r2 = (x - 10) * (x - 10) + (y - 11) * (y - 11) + 2 * (z - 9) * (z - 9);
        in(z, y, x) = static_cast<unsigned char>((r2 < 60 ? 180 : 40) + (x * 7 + y * 3 + z * 5) % 17);
      }
  std::vector<HeapMatrix3D<unsigned char>> maps(2);
  std::vector<std::vector<float>> strengths(2);
  for (int run = 0; run < 2; ++run) {
    ScopedWorkerCount count(run == 0 ? 1 : 6);
    ComputeCannyEdgeMap(maps[run], in);
    MCMC_EdgeOp3D op;
    op.SetSize(19, 23, 21);
    for (int z = 0; z < 19; ++z)
      for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 21; ++x) op(z, y, x) = in(z, y, x);
    const float spacing[3] = {2.0f, 1.0f, 1.5f};
    SimpleMatrix3D<float> out;
    op.CannyEdge(out, 1.5f, spacing);
    for (int z = 0; z < 19; ++z)
      for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 21; ++x) strengths[run].push_back(out(z, y, x));
  }
  int nonzero = 0;
  for (int z = 0; z < 19; ++z)
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 21; ++x) {
        nonzero += maps[0](z, y, x) != 0 ? 1 : 0;
        ASSERT_EQ(maps[0](z, y, x), maps[1](z, y, x)) << z << " " << y << " " << x;
      }
  EXPECT_GT(nonzero, 50);
  EXPECT_EQ(0, std::memcmp(strengths[0].data(), strengths[1].data(), strengths[0].size() * sizeof(float)));
}
