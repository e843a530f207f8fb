#pragma once
// Kro_ShapePCA: a point-distribution shape model over shape vectors of d values.
//
// `mean` (d x 1), `modes` (d x m, column t is mode t) and `sigmas` (m x 1, the spread of
// each mode) are fitted from the training vectors by Fit (an eigen-decomposition of the
// covariance here; Kro_ShapePCASvd fits by singular value decomposition). A model
// without modes (a fit that finds none) holds `modes` of d x 0 and `sigmas` of 0 x 1,
// so its record stores those extents and d orthonormality defects of -1 on the diagonal.
//
// Model record (Write / Read), little-endian, no padding:
//   matrix record  mean    int32 rows, int32 cols, rows x cols float64 (row order)
//   matrix record  modes
//   matrix record  sigmas
//   int32          dimension d
//   PointTriple    orthoDefects: the entries of modes x modes^T - I above 0.001 in
//                  magnitude (recomputed by Write)
// Read rejects (false, model unchanged) a short record, a negative matrix extent and
// sizes that disagree: mean holding other than d values, modes without d rows, sigmas
// other than one per mode, defect entries outside d x d. Matrix records keep their
// extents (d x 0 modes, 0 x 1 sigmas); modes stored as 0 x 0 also read as d x 0.
//
// Random sequence: SampleShape of kind -1 constructs one RF_gaussian per mode (one draw
// each) and draws one coefficient from it (one or two draws), also for a mode whose
// sigma is 0 (whose coefficient is then 0).
//
// A mode whose sigma is 0 carries no spread: it adds nothing to the energy terms
// (no division by 0 in Analyse, EnergyDerivative and Reconstruct).
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "models/PointTriple.h"
#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"

class Kro_ShapePCA {
 public:
  Kro_ShapePCA() = default;
  Kro_ShapePCA(const Kro_ShapePCA&) = default;
  Kro_ShapePCA& operator=(const Kro_ShapePCA&) = default;
  virtual ~Kro_ShapePCA() = default;

  // Recomputes orthoDefects, then writes the model record.
  virtual void Write(std::ostream& out);
  virtual bool Read(std::istream& in);
  // Drops the training vectors, keeping the fitted model.
  virtual void ClearSamples();
  // mean := the element-wise mean of the samples (dimension from the first sample);
  // nothing without samples. Samples of another size than the first are skipped.
  virtual void ComputeMean();
  // False when the file does not open or a write fails.
  virtual bool WriteFile(const std::string& path);
  // False (model unchanged) when the file does not open or the record is rejected.
  virtual bool ReadFile(const std::string& path);
  virtual int NumSamples() const { return static_cast<int>(samples.size()); }
  virtual void AddSample(const VectorQo<double>& v) { samples.push_back(v); }
  // At most m modes from the covariance eigen-decomposition (largest eigenvalues of the
  // first 1000); none when the decomposition fails or there are no samples. A negative
  // eigenvalue (rounding) gives sigma 0, not NaN.
  virtual void Fit(int m);
  // sum over r of modes(r, t) * x[r]; 0 for a mode out of range.
  virtual double ProjectOnMode(const VectorQo<double>& x, int t) const;
  // Centres x, projects it on the modes, keeps the coefficients, their normalised squares,
  // the reconstruction error e and the residual weight * |e|^2. False (results empty,
  // residual 0) when x does not hold d values.
  virtual bool Analyse(const VectorQo<double>& x);
  // Analyse, then the sum of the normalised squares plus the residual.
  virtual double ShapeEnergy(const VectorQo<double>& x);
  // out := mean + delta: kind -1 a random shape, 0 the mean, 1 / 2 mean +- 10 sigma_t
  // along mode t; an empty out for another kind or a mode t out of range.
  virtual void SampleShape(VectorQo<double>& out, int kind, int t);
  // The energy's derivative at entry r for the vector analysed last:
  // -5 (2 residualWeight defectProduct[r] + sum_t 2 c_t modes(r, t) / (sigma_t sigma_t));
  // 0 out of range.
  virtual double EnergyDerivative(int r) const;
  // 100 steps pulling x towards the model: Analyse, then for every r
  // out[r] := out[r] - sum_t 2 c_t modes(r, t) / (sigma_t sigma_t) - 0.1 defectProduct[r].
  virtual void Reconstruct(VectorQo<double>& out, const VectorQo<double>& x);
  // out := sample index - mean, or the vector analysed last when index < 0; empty for
  // an index beyond the samples or when nothing was analysed.
  virtual void GetSample(VectorQo<double>& out, int index);

  int NumModes() const { return ElementCount(sigmas); }
  int Dimension() const { return dimension; }

  VectorQo<double> mean;
  Matrix<double> modes;
  VectorQo<double> sigmas;
  int32_t dimension = 0;
  std::vector<VectorQo<double>> samples;
  // The vector made current last: a sample (its index) or the analysed vector (a copy).
  int currentIndex = -1;
  VectorQo<double> currentVector;
  VectorQo<double> coefficients;
  VectorQo<double> normalisedSquares;
  VectorQo<double> centred;
  PointTriple orthoDefects;
  VectorQo<float> reconstruction;
  VectorQo<float> defectProduct;
  double residual = 0.0;
  float residualWeight = 0.1f;

 protected:
  // The model's fields from one fit: d x m modes and m x 1 sigmas; without sigmas
  // `dimension` x 0 modes and 0 x 1 sigmas.
  void SetModes(const Matrix<double>& newModes, const VectorQo<double>& newSigmas);
};
