#pragma once
// The byte of a probability volume: trunc(p x 255.0), low 8 bits kept (so p = 0.999
// gives 254 and p = 1.0 gives 255). NaN and infinities give 0, as does any product
// outside the int32 range, so a broken posterior can never turn into a confident byte.
#include <cmath>
#include <cstdint>

#include "platform/Conversions.h"

inline uint8_t ProbabilityByte(double p) {
  double scaled = p * 255.0;
  if (!std::isfinite(scaled) || scaled >= 2147483648.0 || scaled <= -2147483649.0) return 0;
  return DoubleToLowByte(scaled);
}
