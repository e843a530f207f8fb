#pragma once
// Storing computed values into image pixels, shared by the Raster sources.
#include <type_traits>

#include "platform/Conversions.h"

// A double result as a pixel: floats rounded to float; bytes truncated toward zero
// after clamping to 0 .. 255 (NaN gives 0), so over- and undershoot of interpolation
// and filters saturate instead of wrapping.
template <class T>
T PixelFromDouble(double v) {
  if constexpr (std::is_same_v<T, float>) {
    return static_cast<float>(v);
  } else {
    static_assert(std::is_same_v<T, unsigned char>, "images are bytes or floats");
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return static_cast<unsigned char>(TruncToInt32(v));
  }
}

// A pixel's label: its value as an int, floats truncated toward zero.
template <class T>
int PixelLabel(T v) {
  if constexpr (std::is_same_v<T, float>) {
    return TruncToInt32(v);
  } else {
    return static_cast<int>(v);
  }
}
