#include "numerics/TextFunctions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/NativePath.h"

std::string TrimLeading(const std::string& text) {
  size_t b = text.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : text.substr(b);
}

std::string TrimTrailing(const std::string& text) {
  size_t e = text.find_last_not_of(' ');
  return e == std::string::npos ? std::string() : text.substr(0, e + 1);
}

std::string TrimBoth(const std::string& text) { return TrimLeading(TrimTrailing(text)); }

namespace {

void SplitAt(size_t pos, std::string& out, std::string& inout, bool moveAfter) {
  std::string before;
  if (pos != std::string::npos) {
    before = inout.substr(0, pos);
    if (moveAfter) inout = inout.substr(pos + 1);
  }
  out = TrimBoth(before);
}

}  // namespace

void SplitAtFirst(std::string& out, std::string& inout, char separator, bool moveAfter) {
  if (inout.empty()) return;
  SplitAt(inout.find(separator), out, inout, moveAfter);
}

void SplitAtLast(std::string& out, std::string& inout, char separator, bool moveAfter) {
  if (inout.empty()) return;
  SplitAt(inout.rfind(separator), out, inout, moveAfter);
}

std::string StripExtension(const std::string& path) {
  if (path.empty()) return std::string();
  // Path names are not trimmed: blanks at either end of a name are part of it.
  // A text of blanks alone before the last '.' is no name: the whole path stays.
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find_first_not_of(' ') >= dot) return path;
  return path.substr(0, dot);
}

std::string BaseName(const std::string& path) {
  if (path.empty()) return std::string();
  const std::string s = StripExtension(path);
  const size_t slash = s.rfind('/'), back = s.rfind('\\');
  // The later separator wins; a '/' only at the very start is kept ("/file").
  const size_t before = slash == std::string::npos ? 0 : slash;
  const size_t beforeBack = back == std::string::npos ? 0 : back;
  const size_t cut = before > beforeBack ? slash : back;
  return cut == std::string::npos ? s : s.substr(cut + 1);
}

std::string& ToBackslashes(std::string& path) {
  for (char& ch : path) {
    if (ch == '/') ch = '\\';
  }
  return path;
}

void StripTrailingSlash(std::string& path) {
  if (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
}

void LogToFile(const std::string& text) {
  std::FILE* f = OpenFile("printf.txt", "at");
  if (f == nullptr) return;
  std::fprintf(f, "%s", text.c_str());
  std::fclose(f);
}

bool ScanWholeNumber(const char*& p, int64_t& value) {
  const char* q = p;
  while (std::isspace(static_cast<unsigned char>(*q))) ++q;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*q))) return false;
  constexpr int64_t kHeld = int64_t{1} << 32;
  int64_t v = 0;
  for (; std::isdigit(static_cast<unsigned char>(*q)); ++q) v = std::min(kHeld, v * 10 + (*q - '0'));
  value = negative ? -v : v;
  p = q;
  return true;
}
