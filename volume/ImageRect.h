#pragma once
// An inclusive pixel rectangle of an image: columns colStart .. colEnd and rows
// rowStart .. rowEnd. Drawing clips it to the image; it may reach outside.
#include <cstdint>

struct ImageRect {
  int32_t colStart = 0;
  int32_t colEnd = 0;
  int32_t rowStart = 0;
  int32_t rowEnd = 0;
};
