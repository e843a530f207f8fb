#include "platform/BinaryWriter.h"

void BinaryWriter::bytes(const void* p, size_t n) {
  if (n == 0) return;
  out_.write(static_cast<const char*>(p), static_cast<std::streamsize>(n));
}
