#pragma once
// Raw element blocks are read and written byte for byte, so the stored layouts
// (little-endian IEEE values of fixed width) must match the host's.
#include <cstdint>

static_assert(sizeof(float) == 4, "float must be IEEE single precision");
static_assert(sizeof(double) == 8, "double must be IEEE double precision");
static_assert(sizeof(int) == 4, "int must be 32 bits");
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "stored records are little-endian; this host is not"
#endif
