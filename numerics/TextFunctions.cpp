#include "numerics/TextFunctions.h"

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
  std::string work = path;
  std::string out;
  SplitAtLast(out, work, '.', false);
  return out.empty() ? path : out;
}

std::string BaseName(const std::string& path) {
  if (path.empty()) return std::string();
  std::string s = StripExtension(path);
  std::string b, c;
  std::string work = s;
  SplitAtLast(b, work, '/', false);
  work = s;
  SplitAtLast(c, work, '\\', false);
  size_t cut = b.size() > c.size() ? s.rfind('/') : s.rfind('\\');
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
