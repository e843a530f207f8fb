#include "models/LiftFactors.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "numerics/TextFunctions.h"
#include "platform/NativePath.h"

namespace {

// The text of a value for a one-line message: at most 32 characters of it, each
// character that does not print shown as '?'.
std::string Shown(const char* start, const char* end) {
  const size_t n = static_cast<size_t>(end - start);
  std::string shown(start, n > 32 ? 32 : n);
  for (char& c : shown)
    if (!std::isprint(static_cast<unsigned char>(c))) c = '?';
  return n > 32 ? shown + "..." : shown;
}

}  // namespace

bool ParseLiftFactors(const std::string& text, int numClasses, const std::string& path, VectorQo<double>& lift,
                      std::string* error) {
  VectorQo<double> factors(numClasses > 0 ? numClasses : 0, 1.0);
  const char* p = text.c_str();
  const char* const end = p + text.size();
  auto fail = [&](const std::string& line) {
    if (error) *error = line;
    return false;
  };
  for (int read = 0; read < numClasses; ++read) {
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (p >= end) break;  // fewer pairs than classes: the others keep 1.0
    // The class, as "%d" reads it.
    const char* start = p;
    int64_t index = 0;
    if (!ScanWholeNumber(p, index))
      return fail("Cannot read a class and a lift factor at \"" + Shown(start, end) + "\" in " + path);
    const char* q = p;
    const bool fits = FitsInt32(index);
    // The factor, as "%f" reads it after the blank of the pattern.
    while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
    char* after = nullptr;
    errno = 0;
    const float factor = p < end ? std::strtof(p, &after) : 0.0f;
    if (p >= end || after == p)
      return fail("Cannot read the lift factor of class " + Shown(start, q) + " in " + path);
    if (!std::isfinite(factor) || !(factor > 0.0f))
      return fail("invalid lift factor " + Shown(p, after) + " of class " + Shown(start, q) + " in " + path +
                  ": it must be finite and positive");
    p = after;
    if (fits && index >= 0 && index < numClasses) factors[static_cast<int>(index)] = factor;
  }
  lift = factors;
  return true;
}

bool ReadLiftFactors(const std::string& path, int numClasses, VectorQo<double>& lift, std::string* error) {
  if (!PathExists(path)) {
    lift = VectorQo<double>(numClasses > 0 ? numClasses : 0, 1.0);
    return true;
  }
  auto fail = [&](const std::string& why) {
    if (error) *error = "Cannot read the lift factors " + path + ": " + why;
    return false;
  };
  if (!IsRegularFile(path)) return fail("not a regular file");
  std::FILE* file = OpenFile(path, "rb");
  if (file == nullptr) return fail("the file does not open");
  std::string text;
  char buffer[4096];
  size_t n = 0;
  bool tooLarge = false;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    if (static_cast<long>(text.size() + n) > kMaxLiftFileBytes) {
      tooLarge = true;
      break;
    }
    text.append(buffer, n);
  }
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (tooLarge) return fail("larger than " + std::to_string(kMaxLiftFileBytes) + " bytes");
  if (readError) return fail("a read error");
  return ParseLiftFactors(text, numClasses, path, lift, error);
}
