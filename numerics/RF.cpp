#include "numerics/RF.h"

#include <cmath>
#include <fstream>

#include "numerics/RF_uniform.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"

namespace {

constexpr double kNoLog = -1e99;

// Index from a quotient: NaN lies outside; everything else truncates toward zero.
int IndexOf(double q) { return std::isnan(q) ? -1 : TruncToInt32(q); }

}  // namespace

RF& RF::operator=(const RF& other) {
  if (this == &other) return *this;
  pdf = other.pdf;
  bins = other.bins;
  min = other.min;
  width = other.width;
  samplingTable = other.samplingTable;
  step = other.step;
  random = other.random;
  return *this;
}

int RF::BinCountOf(double n) { return std::isfinite(n) ? TruncToInt32(n) : 0; }

int RF::BinOf(double x) const {
  if (width == 0.0) return x == min ? 0 : -1;
  return IndexOf((x - min) / width + 0.5);
}

void RF::SetFromVector(const VectorQo<int>& v) {
  int n = v.rows * v.cols;
  Init(0.0, n - 1, 1.0);
  for (int i = 0; i < n; ++i) Set(i, v[i]);
  BuildSamplingTable(false);
}

void RF::SetFromVector(const VectorQo<float>& v) {
  int n = v.rows * v.cols;
  Init(0.0, n - 1, 1.0);
  for (int i = 0; i < n; ++i) Set(i, v[i]);
  BuildSamplingTable(false);
}

void RF::Init(double lo, double hi, double w) {
  min = lo;
  width = w;
  bins = hi == lo ? 1 : BinCountOf(std::floor((hi - lo) / w + 0.5) + 1.0);
  if (bins > 0) {
    pdf.SetSize(bins);
    pdf.Fill(0.0);
  }
}

void RF::InitWithBins(double a, double b, int n) {
  double d = (b - a) / n;
  if (d == 0.0) {
    Init(a, b, 1.0);
  } else {
    Init(a - d, b + d, (b - a) / (n + 2));
  }
}

void RF::Set(double x, double value) {
  int i = BinOf(x);
  if (i >= 0 && i < bins) pdf[i] = value;
}

void RF::Add(double x, double value) {
  int i = BinOf(x);
  if (i >= 0 && i < bins) pdf[i] += value;
}

double RF::Pdf(double x) const {
  int i = BinOf(x);
  return i >= 0 && i < bins ? pdf[i] : 0.0;
}

double RF::Cdf(double x) const {
  int k = BinOf(x);
  if (k < 0) return 0.0;
  if (k > bins - 1) k = bins - 1;
  double sum = 0.0;
  for (int i = 0; i <= k; ++i) sum += pdf[i];
  return sum;
}

double RF::LogPdf(double x) const {
  int i = width == 0.0 ? (x == min ? 0 : -1) : IndexOf((x - min) / width);
  if (i < 0 || i >= bins || !(pdf[i] > 0.0)) return kNoLog;
  return std::log(pdf[i]);
}

double RF::TemperedPdf(double x, double t) const { return std::exp(LogPdf(x) / t); }

double RF::LogPdfSlope(double x) const {
  double ahead = LogPdf(x + width);
  if (ahead == kNoLog) return (LogPdf(x) - LogPdf(x - width)) / width;
  return (ahead - LogPdf(x)) / width;
}

bool RF::LoadText(const char* path) {
  std::ifstream in;
  if (!OpenInputStream(in, path, std::ios::in)) return false;
  double lo, w;
  int n;
  if (!(in >> lo >> w >> n) || n < 0) return false;
  // Collected as read: nothing is sized from the count before the file holds the values.
  std::vector<double> masses;
  for (int i = 0; i < n; ++i) {
    double v;
    if (!(in >> v)) return false;
    masses.push_back(v);
  }
  min = lo;
  width = w;
  bins = n;
  pdf.SetSize(n);
  for (int i = 0; i < n; ++i) pdf[i] = masses[i];
  return true;
}

bool RF::SaveText(const char* path) const {
  std::ofstream out;
  if (!OpenOutputStream(out, path, std::ios::out | std::ios::trunc)) return false;
  out << min << "\n" << width << "\n" << bins << "\n";
  int n = Count();
  for (int i = 0; i < n; ++i) out << pdf[i] << "\n";
  out.close();
  return static_cast<bool>(out);
}

void RF::BuildSamplingTable(bool fine) {
  if (fine) {
    step = 0.001 / bins;
  } else {
    step = bins < 10000 ? 0.01 / bins : 0.1 / bins;
  }
  int size = BinCountOf(1.0 + std::trunc(1.0 / step));
  if (size < 0) size = 0;
  samplingTable.SetSize(size);
  Normalize();
  int k = 0;
  double s = 0.0;
  int n = bins < Count() ? bins : Count();
  for (int i = 0; i < n; ++i) {
    s += pdf[i];
    while (k * step < s && k < size) samplingTable[k++] = i;
  }
  // Every entry from k on repeats the last one set; with none set the table is all 0.
  const int last = k >= 1 ? samplingTable[k - 1] : 0;
  for (; k < size; ++k) samplingTable[k] = last;
}

double RF::Draw() {
  Normalize();
  const int n = Count();
  auto scan = [&](double u) {
    int i = 0;
    double s = 0.0;
    for (; i < n; ++i) {
      s += pdf[i];
      if (s >= u) break;
    }
    return i < n - 1 ? i : n - 1;
  };
  int i = scan(random.Draw());
  double x = min + i * width;
  if (Pdf(x) != 0.0) return x;
  // The first scan landed on an empty bin (all masses zero, or rounding at the top).
  i = scan(random.Draw());
  return min + i * width;
}

int RF::DrawRounded() { return TruncToInt32(Draw() + 0.5); }

double RF::DrawFromTable() {
  double u = random.Draw();
  int i = IndexOf(u / step);
  int size = samplingTable.rows * samplingTable.cols;
  if (i < 0 || i >= size) return -1.0;
  return min + width * samplingTable[i];
}

bool RF::Normalize() {
  const int n = Count();
  double total = 0.0;
  for (int i = 0; i < n; ++i) total += pdf[i];
  if (!(total > 0.0)) return false;
  for (int i = 0; i < n; ++i) pdf[i] /= total;
  return true;
}

void RF::Fill(double value) { pdf.Fill(value); }

double RF::Mean() const {
  double sum = 0.0;
  double x = min;
  for (int i = 0; i < bins; ++i) {
    sum += x * pdf[i];
    x += width;
  }
  return sum;
}

void RF::Smooth(const VectorQo<double>& kernel) {
  const int taps = kernel.rows * kernel.cols;
  Matrix<double> result;
  if (pdf.rows > pdf.cols) {
    Matrix<double> column(taps, 1);
    for (int i = 0; i < taps; ++i) column[i] = kernel[i];
    result = pdf.ConvolveColumns(column);
  } else {
    Matrix<double> row(1, taps);
    for (int i = 0; i < taps; ++i) row[i] = kernel[i];
    result = pdf.ConvolveRows(row);
  }
  const int n = Count();
  for (int i = 0; i < n; ++i) pdf[i] = result[i];
  Normalize();
}

void RF::SetFromSubset(const RF& source, const std::vector<int>& kept) {
  *this = source;
  const int n = Count();
  std::vector<int> mask(static_cast<size_t>(n), 0);
  for (int b : kept) {
    if (b >= 0 && b < n) mask[b] = 1;
  }
  int keptCount = 0;
  for (int m : mask) keptCount += m;
  if (keptCount == n) return;
  double remaining = 1.0;
  for (int i = 0; i < n; ++i) {
    if (mask[i]) {
      remaining -= pdf[i];
    } else {
      pdf[i] = 0.0;
    }
  }
  // Deliberate construction: takes one draw before the masses are drawn.
  RF_uniform uniform;
  for (int i = 0; remaining > 0.001 && i < n; ++i) {
    if (mask[i]) continue;
    uniform.Init(0.0, remaining, 0.001);
    pdf[i] = uniform.Draw();
    remaining -= pdf[i];
  }
  Normalize();
}

void RF::BuildCdf() {
  const int n = Count();
  cdf.SetSize(n);
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    sum += pdf[i];
    cdf[i] = sum;
  }
}

double RF::CdfLookup(double x) const {
  int k = BinOf(x);
  if (k > bins - 1) k = bins - 1;
  if (k < 0) return 0.0;
  if (k >= cdf.rows * cdf.cols) return 1.0;
  return cdf[k];
}

double RF::InverseCdf(double u) const {
  if (!(u >= 0.0)) return 0.0;
  int k = IndexOf(u / step);
  if (k < 0 || k >= samplingTable.rows * samplingTable.cols) return 0.0;
  int i = samplingTable[k];
  if (i < 0 || i >= Count()) return 0.0;
  if (!(pdf[i] > 0.0)) return min + i * width;
  if (i > cdf.rows * cdf.cols) return 0.0;  // cdf not built for these masses
  double prev = i >= 1 ? cdf[i - 1] : 0.0;
  return min + width * (i - 0.5 + (u - prev) / pdf[i]);
}

bool RF::InRange(double x) const {
  int i = BinOf(x);
  return i >= 0 && i < bins;
}

double RF::Entropy() const {
  const int n = Count();
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    if (pdf[i] > 0.0) sum += pdf[i] * std::log10(pdf[i]);
  }
  return -sum / std::log10(2.0);
}

void RF::WriteBinary(BinaryWriter& out) const {
  out.i32(pdf.rows);
  out.i32(pdf.cols);
  if (pdf.data != nullptr && pdf.rows > 0 && pdf.cols > 0) {
    out.bytes(pdf.data, static_cast<size_t>(pdf.rows) * static_cast<size_t>(pdf.cols) * sizeof(double));
  }
  out.i32(bins);
  out.f64(min);
  out.f64(width);
}

bool RF::ReadBinary(BinaryReader& in) {
  int32_t rows = 0, cols = 0;
  if (!in.i32(rows) || !in.i32(cols)) return false;
  const bool hasMasses = rows > 0 && cols > 0;
  if (rows < 0 || cols < 0 || (hasMasses && rows != 1) || !in.fits(hasMasses ? cols : 0, 8) ||
      !in.fits(1, 20 + (hasMasses ? int64_t{cols} * 8 : 0))) {
    in.fail();
    return false;
  }
  VectorQo<double> masses;
  masses.SetSize(rows, cols);
  if (hasMasses && !in.bytes(masses.data, static_cast<size_t>(cols) * sizeof(double))) return false;
  int32_t n = 0;
  double lo = 0.0, w = 0.0;
  if (!in.i32(n) || !in.f64(lo) || !in.f64(w)) return false;
  if (n < 0 || n > (hasMasses ? cols : 0)) {
    in.fail();
    return false;
  }
  pdf = masses;
  bins = n;
  min = lo;
  width = w;
  return true;
}

std::ostream& RF::WriteBinary(std::ostream& out) const {
  BinaryWriter w(out);
  WriteBinary(w);
  return out;
}

std::istream& RF::ReadBinary(std::istream& in) {
  BinaryReader r(in);
  if (!ReadBinary(r)) in.setstate(std::ios::failbit);
  return in;
}
