#pragma once
// A cursor over the bytes that remain in a stream. Every read either fills its
// field completely or fails; once a read fails, the reader stays failed.
// Counts read from a file are checked with fits() before anything is sized from them.
#include <cstddef>
#include <cstdint>
#include <istream>

#include "platform/HostAssumptions.h"

class BinaryReader {
 public:
  // Measures the bytes left in a seekable stream; for other streams the
  // limit is unknown and only short reads are detected.
  explicit BinaryReader(std::istream& in);

  bool u8(uint8_t& v) { return bytes(&v, 1); }
  bool i8(int8_t& v) { return bytes(&v, 1); }
  bool u16(uint16_t& v) { return bytes(&v, 2); }
  bool i16(int16_t& v) { return bytes(&v, 2); }
  bool u32(uint32_t& v) { return bytes(&v, 4); }
  bool i32(int32_t& v) { return bytes(&v, 4); }
  bool f32(float& v) { return bytes(&v, 4); }
  bool f64(double& v) { return bytes(&v, 8); }
  bool bytes(void* p, size_t n);
  bool skip(size_t n);

  // True when `count` elements of `elementSize` bytes can still be read:
  // count is not negative and the bytes are there (as far as the stream tells).
  bool fits(int64_t count, int64_t elementSize) const;

  bool ok() const { return ok_; }
  void fail() { ok_ = false; }
  // Bytes left, or -1 when the stream cannot tell.
  int64_t remaining() const { return remaining_; }

 private:
  std::istream& in_;
  int64_t remaining_ = -1;
  bool ok_ = true;
};
