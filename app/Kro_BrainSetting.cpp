#include "app/Kro_BrainSetting.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "features/FeatureFlags.h"
#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"

int32_t ParseWholeNumber(const char* text) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    if (value <= INT64_C(2147483648)) value = value * 10 + (*p - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool Kro_BrainSetting::ParseCommandLine(int argc, const char* const* argv) {
  bool atlasGiven = false;
  if (argc < 2) return false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      std::string text = arg;
      StripTrailingSlash(text);
      McString& field = source.Length() > 0 ? target : source;
      field = ToBackslashes(text);
      continue;
    }
    if (arg[1] == '\0') continue;  // a lone "-"
    const char letter = arg[1];
    if (++i >= argc) break;  // every option takes the next argument as its value
    const char* value = argv[i];
    switch (letter) {
      case 'a': {
        std::string path = value;
        if (path.size() > static_cast<size_t>(kMaxAtlasPath)) {
          std::printf("Atlas path is too long (%zu characters, at most %d): %s\n", path.size(),
                      kMaxAtlasPath, value);
          badOptions = true;
        } else {
          gAtlasPath = path;
        }
        atlasGiven = true;
        break;
      }
      case 'm': {
        std::string path = value;
        StripTrailingSlash(path);
        modelDir = path;
        break;
      }
      case 'n':
        numStructures = ParseWholeNumber(value);
        break;
      case 'p':
        structure = LowByte(ParseWholeNumber(value));
        break;
      case 'r':
        mode = LowByte(ParseWholeNumber(value));
        break;
      case 's':
        smoothness = static_cast<float>(std::strtod(value, nullptr));
        break;
      case 't':
        iterations = ParseWholeNumber(value);
        break;
      default:
        break;  // unknown letters consume their value silently
    }
  }
  return atlasGiven;
}
