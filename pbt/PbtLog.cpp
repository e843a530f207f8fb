#include "pbt/PbtLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/NativePath.h"

void WriteLog(const char* fileName, const char* text) {
  if (fileName == nullptr || fileName[0] == '\0') {
    std::fputs(text, stdout);
    return;
  }
  std::FILE* f = OpenFile(fileName, "a");
  if (f == nullptr) {
    std::printf("Unable to open logfile: %s\n", fileName);
    return;
  }
  std::fputs(text, f);
  std::fclose(f);
}

namespace {
void AppendFormatV(std::string& text, const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof(small), format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof(small)) {
    text.append(small, static_cast<size_t>(n));
    return;
  }
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), format, args);
  text.append(big.data(), static_cast<size_t>(n));
}
}  // namespace

std::string FormatText(const char* format, ...) {
  std::string text;
  va_list args;
  va_start(args, format);
  AppendFormatV(text, format, args);
  va_end(args);
  return text;
}

void AppendFormat(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  AppendFormatV(text, format, args);
  va_end(args);
}
