#pragma once
// Writes little-endian fixed-width fields to a stream, field by field, no padding.
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "platform/HostAssumptions.h"

class BinaryWriter {
 public:
  explicit BinaryWriter(std::ostream& out) : out_(out) {}

  void u8(uint8_t v) { bytes(&v, 1); }
  void i8(int8_t v) { bytes(&v, 1); }
  void u16(uint16_t v) { bytes(&v, 2); }
  void i16(int16_t v) { bytes(&v, 2); }
  void u32(uint32_t v) { bytes(&v, 4); }
  void i32(int32_t v) { bytes(&v, 4); }
  void f32(float v) { bytes(&v, 4); }
  void f64(double v) { bytes(&v, 8); }
  // A raw block; the host is little-endian, so element blocks go out as they lie in memory.
  void bytes(const void* p, size_t n);

  // False once any write has failed.
  bool ok() const { return static_cast<bool>(out_); }

 private:
  std::ostream& out_;
};
