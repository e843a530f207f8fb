#include "pbt/PbtFid.h"

#include <cstring>

PbtFid::PbtFid() : kind(0), params{}, index(0), subtype(0), offset{}, poolIndex(-1) {
  std::memset(description, 0, sizeof(description));
  std::memcpy(description, "NONE", 4);
}

bool PbtFid::setDescription(const char* text) {
  size_t n = std::strlen(text);
  if (n >= sizeof(description)) return false;
  std::memset(description, 0, sizeof(description));
  std::memcpy(description, text, n);
  return true;
}

void PbtFid::write(BinaryWriter& out) const {
  out.u8(kind);
  out.bytes(description, sizeof(description));
  for (int32_t p : params) out.i32(p);
  out.i32(index);
  out.i32(subtype);
  for (int16_t o : offset) out.i16(o);
  out.i32(poolIndex);
}

bool PbtFid::read(BinaryReader& in) {
  if (!in.fits(kRecordSize, 1)) {
    in.fail();
    return false;
  }
  PbtFid f;
  in.u8(f.kind);
  in.bytes(f.description, sizeof(f.description));
  for (int32_t& p : f.params) in.i32(p);
  in.i32(f.index);
  in.i32(f.subtype);
  for (int16_t& o : f.offset) in.i16(o);
  in.i32(f.poolIndex);
  if (!in.ok()) return false;
  if (std::memchr(f.description, 0, sizeof(f.description)) == nullptr) {
    in.fail();
    return false;
  }
  *this = f;
  return true;
}
