#include "pbt/PbtMfFuncion.h"

#include <cmath>


void PbtMfFuncion::fit(const RF& pos, const RF& neg) {
  responseTable = pos;
  responseTable.Fill(0.0);
  const int n = pos.bins;
  auto difference = [&](int i) { return pos.pdf[i] - (i < neg.bins ? neg.pdf[i] : 0.0); };
  double m = 0.0;
  for (int i = 0; i < n; ++i) {
    const double d = std::fabs(difference(i));
    if (d > m) m = d;
  }
  for (int i = 0; i < n; ++i) responseTable.pdf[i] = m > 1e-5 ? difference(i) / m : difference(i);
}

void PbtMfFuncion::write(BinaryWriter& out) const {
  out.i16(slot);
  out.i16(label);
  responseTable.WriteBinary(out);
}

bool PbtMfFuncion::read(BinaryReader& in) {
  int16_t s = 0, l = 0;
  if (!in.i16(s) || !in.i16(l)) return false;
  // Last field: on failure the table is left as it was and nothing is committed.
  if (!responseTable.ReadBinary(in)) return false;
  slot = s;
  label = l;
  return true;
}
