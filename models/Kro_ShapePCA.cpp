#include "models/Kro_ShapePCA.h"

#include <cmath>
#include <fstream>

#include "numerics/LinearAlgebra.h"
#include "numerics/MaxHeap.h"
#include "numerics/RF_gaussian.h"
#include "platform/NativePath.h"

namespace {

// Values are held as n x 1 (vectors, also for n = 0) or d x m (modes).
void SizeColumn(VectorQo<double>& v, int n) { v.Matrix<double>::SetSize(n, 1); }

// A matrix record read with its extents kept as stored, also when one of them is 0
// (a d x 0 `modes`, a 0 x 1 `sigmas`). False, m empty, for a negative extent, elements
// beyond the bytes left or the int range, or a short record.
bool ReadMatrixRecord(BinaryReader& r, Matrix<double>& m) {
  m.Release();
  int32_t rows = 0, cols = 0;
  if (!r.i32(rows) || !r.i32(cols) || rows < 0 || cols < 0) return false;
  const int64_t count = static_cast<int64_t>(rows) * cols;
  if (count > INT32_MAX || !r.fits(count, sizeof(double))) return false;
  m.SetSize(rows, cols);
  if (count > 0 && !r.bytes(m.data, static_cast<size_t>(count) * sizeof(double))) {
    m.Release();
    return false;
  }
  return true;
}

// sum over t of 2 c_t modes(r, t) / sigma_t^2, leaving out modes of sigma 0.
double ModeGradient(const Kro_ShapePCA& p, int r) {
  double g = 0.0;
  for (int t = 0; t < p.NumModes(); ++t) {
    const double s = p.sigmas[t];
    if (s != 0.0) g += 2.0 * p.coefficients[t] * p.modes(r, t) / (s * s);
  }
  return g;
}

}  // namespace

void Kro_ShapePCA::SetModes(const Matrix<double>& newModes, const VectorQo<double>& newSigmas) {
  if (ElementCount(newSigmas) == 0) {
    // No modes: d x 0 and 0 x 1, so that Write still stores d rows of modes.
    modes.Release();
    modes.SetSize(dimension, 0);
    sigmas.Release();
    sigmas.Matrix<double>::SetSize(0, 1);
    return;
  }
  modes = newModes;
  sigmas = newSigmas;
}

void Kro_ShapePCA::Write(std::ostream& out) {
  // Defects of orthonormality: (modes x modes^T - I) above 0.001.
  const int d = modes.rows;
  const int m = NumModes();
  std::vector<float> value;
  std::vector<int32_t> row, col;
  for (int r = 0; r < d; ++r)
    for (int c = 0; c < d; ++c) {
      double g = 0.0;
      for (int t = 0; t < m; ++t) g += modes(r, t) * modes(c, t);
      if (r == c) g -= 1.0;
      if (std::fabs(g) > 0.001) {
        value.push_back(static_cast<float>(g));
        row.push_back(r);
        col.push_back(c);
      }
    }
  orthoDefects.Clear();
  orthoDefects.Resize(static_cast<int>(value.size()));
  for (size_t n = 0; n < value.size(); ++n) orthoDefects.Set(static_cast<int>(n), value[n], row[n], col[n]);

  mean.WriteBinary(out);
  modes.WriteBinary(out);
  sigmas.WriteBinary(out);
  BinaryWriter w(out);
  w.i32(dimension);
  orthoDefects.Write(w);
}

bool Kro_ShapePCA::Read(std::istream& in) {
  BinaryReader r(in);
  Matrix<double> m, md, s;
  int32_t d = 0;
  PointTriple defects;
  if (!ReadMatrixRecord(r, m) || !ReadMatrixRecord(r, md) || !ReadMatrixRecord(r, s) || !r.i32(d) ||
      !defects.Read(r))
    return false;
  const int nm = md.cols;
  if (d < 0 || ElementCount(m) != d) return false;
  // Modes have d rows; 0 x 0 modes (a model without modes stored with an empty mode
  // matrix) read as d x 0.
  if (md.rows != d && !(nm == 0 && md.rows == 0)) return false;
  if (ElementCount(s) != nm) return false;
  for (int n = 0; n < defects.Count(); ++n)
    if (defects.rows[n] < 0 || defects.rows[n] >= d || defects.cols[n] < 0 || defects.cols[n] >= d) return false;
  mean.Matrix<double>::operator=(m);
  dimension = d;
  if (nm > 0) {
    modes = md;
    sigmas.Matrix<double>::operator=(s);
  } else {
    SetModes(Matrix<double>(), VectorQo<double>());
  }
  orthoDefects = defects;
  return true;
}

void Kro_ShapePCA::ClearSamples() {
  samples.clear();
  if (currentIndex >= 0) currentIndex = -1;
}

void Kro_ShapePCA::ComputeMean() {
  if (samples.empty()) return;
  const int d = ElementCount(samples[0]);
  dimension = d;
  SizeColumn(mean, d);
  if (d == 0) return;
  mean.SetZero();
  int n = 0;
  for (const auto& s : samples) {
    if (ElementCount(s) != d) continue;
    for (int r = 0; r < d; ++r) mean[r] += s[r];
    ++n;
  }
  for (int r = 0; r < d; ++r) mean[r] /= n;
}

bool Kro_ShapePCA::WriteFile(const std::string& path) {
  std::ofstream out;
  if (!OpenOutputStream(out, path)) return false;
  Write(out);
  out.close();
  return static_cast<bool>(out);
}

bool Kro_ShapePCA::ReadFile(const std::string& path) {
  std::ifstream in;
  if (!OpenInputStream(in, path)) return false;
  return Read(in);
}

void Kro_ShapePCA::Fit(int m) {
  ComputeMean();
  const int d = dimension;
  const int n = static_cast<int>(samples.size());
  Matrix<double> newModes;
  VectorQo<double> newSigmas;
  if (d < 1 || n < 1 || m < 1) {
    SetModes(newModes, newSigmas);
    return;
  }
  Matrix<float> S(d, d);
  VectorQo<double> x;
  for (int s = 0; s < n; ++s) {
    GetSample(x, s);
    if (ElementCount(x) != d) continue;
    for (int r = 0; r < d; ++r)
      for (int c = 0; c < d; ++c) S(r, c) += static_cast<float>(x[c] * x[r]);
  }
  for (int i = 0; i < d * d; ++i) S[i] /= static_cast<float>(n);

  std::vector<double*> a(static_cast<size_t>(d) + 1), v(static_cast<size_t>(d) + 1);
  std::vector<double> ablock(static_cast<size_t>(d + 1) * (d + 1)), vblock(ablock.size()), eig(static_cast<size_t>(d) + 1);
  for (int r = 0; r <= d; ++r) {
    a[r] = &ablock[static_cast<size_t>(r) * (d + 1)];
    v[r] = &vblock[static_cast<size_t>(r) * (d + 1)];
  }
  for (int r = 0; r < d; ++r)
    for (int c = 0; c < d; ++c) a[r + 1][c + 1] = S(r, c);
  int rotations = 0;
  if (!jacobi(a.data(), d, eig.data(), v.data(), &rotations)) {
    SetModes(newModes, newSigmas);  // no convergence: no modes
    return;
  }
  MaxHeap heap(1000);
  for (int i = 0; i < d; ++i) heap.Push({static_cast<float>(eig[i + 1]), i});
  const int kept = std::min(m, heap.Count());
  newModes.SetSize(d, kept);
  SizeColumn(newSigmas, kept);
  for (int t = 0; t < kept; ++t) {
    HeapEntry e;
    heap.Pop(&e);
    for (int r = 0; r < d; ++r) newModes(r, t) = static_cast<float>(v[r + 1][e.value + 1]);
    const float lambda = static_cast<float>(e.key);
    newSigmas[t] = lambda > 0.0f ? std::sqrt(lambda) : 0.0f;
  }
  SetModes(newModes, newSigmas);
}

double Kro_ShapePCA::ProjectOnMode(const VectorQo<double>& x, int t) const {
  if (t < 0 || t >= NumModes() || ElementCount(x) < modes.rows) return 0.0;
  double s = 0.0;
  for (int r = 0; r < modes.rows; ++r) s += modes(r, t) * x[r];
  return s;
}

bool Kro_ShapePCA::Analyse(const VectorQo<double>& x) {
  const int d = dimension;
  const int m = NumModes();
  currentVector = x;
  currentIndex = -1;
  if (d < 1 || ElementCount(x) != d || ElementCount(mean) != d) {
    coefficients.Release();
    normalisedSquares.Release();
    centred.Release();
    reconstruction.Release();
    defectProduct.Release();
    residual = 0.0;
    return false;
  }
  GetSample(centred, -1);
  SizeColumn(coefficients, m);
  SizeColumn(normalisedSquares, m);
  reconstruction.Matrix<float>::SetSize(d, 1);
  reconstruction.SetZero();
  for (int t = 0; t < m; ++t) {
    const double c = ProjectOnMode(centred, t);
    coefficients[t] = c;
    const double q = sigmas[t] != 0.0 ? c / sigmas[t] : 0.0;
    normalisedSquares[t] = q * q;
    for (int r = 0; r < d; ++r) reconstruction[r] += static_cast<float>(modes(r, t) * c);
  }
  double sum = 0.0;
  for (int r = 0; r < d; ++r) {
    reconstruction[r] = static_cast<float>(reconstruction[r] - centred[r]);
    sum += static_cast<double>(reconstruction[r]) * reconstruction[r];
  }
  residual = residualWeight * sum;
  defectProduct.Matrix<float>::SetSize(d, 1);
  defectProduct.SetZero();
  for (int n = 0; n < orthoDefects.Count(); ++n)
    defectProduct[orthoDefects.rows[n]] += orthoDefects.values[n] * reconstruction[orthoDefects.cols[n]];
  return true;
}

double Kro_ShapePCA::ShapeEnergy(const VectorQo<double>& x) {
  Analyse(x);
  double e = 0.0;
  for (int t = 0; t < ElementCount(normalisedSquares); ++t) e += normalisedSquares[t];
  return e + residual;
}

void Kro_ShapePCA::SampleShape(VectorQo<double>& out, int kind, int t) {
  const int d = ElementCount(mean);
  const int m = NumModes();
  out.Release();
  if (kind == -1) {
    VectorQo<double> coeff;
    SizeColumn(coeff, m);
    for (int n = 0; n < m; ++n) {
      RF_gaussian g;  // deliberate: one draw per mode
      const double s = 3.0 * sigmas[n];
      if (s > 0.0) {
        g.Init(0.0, s, s / 10.0);
        coeff[n] = g.Draw();
      } else {
        g.Draw();  // the draws of an empty distribution; the coefficient stays 0
      }
    }
    SizeColumn(out, d);
    for (int r = 0; r < d; ++r) {
      double delta = 0.0;
      for (int n = 0; n < m; ++n) delta += modes(r, n) * coeff[n];
      out[r] = mean[r] + delta;
    }
  } else if (kind == 0) {
    out = mean;
  } else if ((kind == 1 || kind == 2) && t >= 0 && t < m) {
    const double f = kind == 1 ? 10.0 : -10.0;
    SizeColumn(out, d);
    for (int r = 0; r < d; ++r) out[r] = mean[r] + modes(r, t) * sigmas[t] * f;
  }
}

double Kro_ShapePCA::EnergyDerivative(int r) const {
  if (r < 0 || r >= ElementCount(defectProduct) || ElementCount(coefficients) != NumModes()) return 0.0;
  return -5.0 * (2.0 * residualWeight * defectProduct[r] + ModeGradient(*this, r));
}

void Kro_ShapePCA::Reconstruct(VectorQo<double>& out, const VectorQo<double>& x) {
  out = x;
  for (int step = 0; step < 100; ++step) {
    if (!Analyse(out)) return;
    for (int r = 0; r < dimension; ++r) out[r] = out[r] - ModeGradient(*this, r) - 0.1 * defectProduct[r];
  }
}

void Kro_ShapePCA::GetSample(VectorQo<double>& out, int index) {
  const VectorQo<double>* src = nullptr;
  if (index >= 0) {
    if (index < static_cast<int>(samples.size())) {
      currentIndex = index;
      src = &samples[static_cast<size_t>(index)];
    }
  } else {
    src = currentIndex >= 0 && currentIndex < static_cast<int>(samples.size())
              ? &samples[static_cast<size_t>(currentIndex)]
              : (ElementCount(currentVector) ? &currentVector : nullptr);
  }
  const int d = ElementCount(mean);
  if (!src || ElementCount(*src) != d || d == 0) {
    out.Release();
    return;
  }
  VectorQo<double> r;
  SizeColumn(r, d);
  for (int n = 0; n < d; ++n) r[n] = (*src)[n] - mean[n];
  out = r;
}
