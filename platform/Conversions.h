#pragma once
// The program's one way of turning floating-point values into integers.
// A plain cast of an out-of-range double is undefined behaviour; these helpers
// truncate toward zero and are defined for every input.
#include <cmath>
#include <cstdint>

// Truncates toward zero. NaN gives 0; values beyond the int32 range saturate
// at INT32_MIN / INT32_MAX.
inline int32_t TruncToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Keeps the low 8 bits of an integer (two's complement), as storing into a byte does.
inline uint8_t LowByte(int64_t v) { return static_cast<uint8_t>(static_cast<uint64_t>(v) & 0xFFu); }

// Keeps the low 16 bits of an integer as a signed 16-bit value.
inline int16_t LowShort(int64_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFFu));
}

// Storing a double into a byte: truncation to int32, then the low byte.
inline uint8_t DoubleToLowByte(double v) { return LowByte(TruncToInt32(v)); }

// Storing a double into a 16-bit integer: truncation to int32, then the low 16 bits.
inline int16_t DoubleToLowShort(double v) { return LowShort(TruncToInt32(v)); }
