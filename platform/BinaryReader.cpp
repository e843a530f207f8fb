#include "platform/BinaryReader.h"

#include <limits>

BinaryReader::BinaryReader(std::istream& in) : in_(in) {
  if (!in_) {
    ok_ = false;
    remaining_ = 0;
    return;
  }
  std::istream::pos_type here = in_.tellg();
  if (here == std::istream::pos_type(-1)) {
    in_.clear();
    return;
  }
  in_.seekg(0, std::ios::end);
  std::istream::pos_type end = in_.tellg();
  in_.seekg(here);
  if (end == std::istream::pos_type(-1) || !in_) {
    in_.clear();
    in_.seekg(here);
    return;
  }
  remaining_ = static_cast<int64_t>(end - here);
}

bool BinaryReader::bytes(void* p, size_t n) {
  if (!ok_) return false;
  if (n == 0) return true;
  if (remaining_ >= 0 && static_cast<uint64_t>(remaining_) < n) {
    ok_ = false;
    return false;
  }
  in_.read(static_cast<char*>(p), static_cast<std::streamsize>(n));
  if (static_cast<size_t>(in_.gcount()) != n) {
    ok_ = false;
    return false;
  }
  if (remaining_ >= 0) remaining_ -= static_cast<int64_t>(n);
  return true;
}

bool BinaryReader::skip(size_t n) {
  if (!ok_) return false;
  if (remaining_ >= 0 && static_cast<uint64_t>(remaining_) < n) {
    ok_ = false;
    return false;
  }
  char buf[256];
  while (n > 0) {
    size_t chunk = n < sizeof(buf) ? n : sizeof(buf);
    if (!bytes(buf, chunk)) return false;
    n -= chunk;
  }
  return true;
}

bool BinaryReader::fits(int64_t count, int64_t elementSize) const {
  if (!ok_ || count < 0 || elementSize < 0) return false;
  if (elementSize == 0 || count == 0) return true;
  if (count > std::numeric_limits<int64_t>::max() / elementSize) return false;
  if (remaining_ < 0) return true;
  return count * elementSize <= remaining_;
}
