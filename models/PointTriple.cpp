#include "models/PointTriple.h"

void PointTriple::Resize(int n) {
  if (n <= 0 || n == Count()) return;
  values.assign(static_cast<size_t>(n), 0.0f);
  rows.assign(static_cast<size_t>(n), 0);
  cols.assign(static_cast<size_t>(n), 0);
}

void PointTriple::Clear() {
  values.clear();
  rows.clear();
  cols.clear();
}

bool PointTriple::Set(int index, float value, int row, int col) {
  if (index < 0 || index >= Count()) return false;
  values[static_cast<size_t>(index)] = value;
  rows[static_cast<size_t>(index)] = row;
  cols[static_cast<size_t>(index)] = col;
  return true;
}

void PointTriple::Write(BinaryWriter& out) const {
  const int32_t n = Count();
  out.i32(n);
  if (n <= 0) return;
  out.bytes(rows.data(), rows.size() * 4);
  out.bytes(cols.data(), cols.size() * 4);
  out.bytes(values.data(), values.size() * 4);
}

bool PointTriple::Read(BinaryReader& in) {
  int32_t n = 0;
  if (!in.i32(n) || n < 0 || !in.fits(n, 12)) return false;
  std::vector<int32_t> r(static_cast<size_t>(n)), c(static_cast<size_t>(n));
  std::vector<float> v(static_cast<size_t>(n));
  if (n > 0 && (!in.bytes(r.data(), r.size() * 4) || !in.bytes(c.data(), c.size() * 4) ||
                !in.bytes(v.data(), v.size() * 4)))
    return false;
  rows.swap(r);
  cols.swap(c);
  values.swap(v);
  return true;
}
