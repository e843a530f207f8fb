#include "models/Kro_AprncRegionLikelihood.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"

namespace {

// The fields of one distribution record, read without constructing an RF (which
// would take a draw of the program-wide generator).
struct RecordFields {
  VectorQo<double> masses;
  int32_t bins = 0;
  double min = 0.0;
  double width = 0.0;
};

bool ReadRecord(BinaryReader& in, RecordFields& out) {
  int32_t rows = 0, cols = 0;
  if (!in.i32(rows) || !in.i32(cols)) return false;
  if (rows != 1 || cols < 1 || cols > Kro_AprncRegionLikelihood::kMaxBins || !in.fits(cols, 8) ||
      !in.fits(1, 20 + int64_t{cols} * 8))
    return false;
  out.masses.SetSize(1, cols);
  if (!in.bytes(out.masses.data, static_cast<size_t>(cols) * sizeof(double))) return false;
  if (!in.i32(out.bins) || !in.f64(out.min) || !in.f64(out.width)) return false;
  return out.bins == cols && std::isfinite(out.min) && std::isfinite(out.width) && out.width > 0.0;
}

void Commit(RF& rf, const RecordFields& fields) {
  rf.pdf = fields.masses;
  rf.bins = fields.bins;
  rf.min = fields.min;
  rf.width = fields.width;
}

}  // namespace

bool Kro_AprncRegionLikelihood::Write(const std::string& fileName, std::string* error) const {
  std::ofstream file;
  bool ok = OpenOutputStream(file, fileName);
  if (ok) {
    BinaryWriter out(file);
    histogram.WriteBinary(out);
    cost.WriteBinary(out);
    file.close();
    ok = out.ok() && !file.fail();
    if (!ok) DeleteFileAt(fileName);
  }
  if (!ok && error) *error = "cannot write appearance record " + fileName;
  return ok;
}

bool Kro_AprncRegionLikelihood::Read(const std::string& fileName, std::string* error) {
  std::ifstream file;
  if (!OpenInputStream(file, fileName)) {
    if (error) *error = "cannot open appearance record " + fileName;
    return false;
  }
  BinaryReader in(file);
  RecordFields h, c;
  bool ok = ReadRecord(in, h) && ReadRecord(in, c) && in.remaining() == 0;
  // The cost grid is the histogram grid extended by one bin.
  ok = ok && c.bins == h.bins + 1 && c.min == h.min && c.width == h.width;
  if (!ok) {
    if (error) *error = "invalid appearance record " + fileName;
    return false;
  }
  Commit(histogram, h);
  Commit(cost, c);
  return true;
}

void Kro_AprncRegionLikelihood::Likelihood() {
  const double m = histogram.min;
  const double w = histogram.width;
  const int n = histogram.bins;
  const double last = m + n * w;
  cost.Init(m, last, w);
  // One value per bin of the extended grid; the count also bounds a degenerate width.
  double x = m;
  for (int i = 0; i <= n && x <= last; ++i, x += w) {
    const double d = histogram.Pdf(x);
    cost.Set(x, d > 0.0 ? -std::log(d) : 1000.0);
  }
}
