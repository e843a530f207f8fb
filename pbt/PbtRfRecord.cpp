#include "pbt/PbtRfRecord.h"

namespace PbtRfRecord {

void write(BinaryWriter& out, const RF& rf) {
  out.i32(rf.pdf.rows);
  out.i32(rf.pdf.cols);
  if (rf.pdf.data != nullptr && rf.pdf.rows > 0 && rf.pdf.cols > 0) {
    out.bytes(rf.pdf.data, static_cast<size_t>(rf.pdf.rows) * static_cast<size_t>(rf.pdf.cols) * sizeof(double));
  }
  out.i32(rf.bins);
  out.f64(rf.min);
  out.f64(rf.width);
}

bool read(BinaryReader& in, RF& rf) {
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
  int32_t bins = 0;
  double lo = 0.0, width = 0.0;
  if (!in.i32(bins) || !in.f64(lo) || !in.f64(width)) return false;
  if (bins < 0 || bins > (hasMasses ? cols : 0)) {
    in.fail();
    return false;
  }
  rf.pdf = masses;
  rf.bins = bins;
  rf.min = lo;
  rf.width = width;
  return true;
}

}  // namespace PbtRfRecord
