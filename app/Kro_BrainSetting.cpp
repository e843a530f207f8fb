#include "app/Kro_BrainSetting.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "features/FeatureFlags.h"
#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"

int32_t ParseWholeNumber(const char* text) {
  int64_t value = 0;
  if (!ScanWholeNumber(text, value)) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

namespace {

// The option values that the run cannot use are refused before anything is written.
constexpr int kMaxStructures = 253;  // the 8-bit labels hold K = n + 1 classes and the marker n + 2
constexpr int kMaxIterations = 20;   // the model folder holds "clf" and "clf1" to "clf19"

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The whole text is a decimal whole number (blanks around it and a sign allowed).
bool IsWholeNumberText(const char* text) {
  const char* p = text;
  while (IsBlank(*p)) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
  while (IsBlank(*p)) ++p;
  return *p == '\0';
}

bool WholeNumberIn(const std::string& text, int lo, int hi) {
  if (!IsWholeNumberText(text.c_str())) return false;
  const int32_t v = ParseWholeNumber(text.c_str());  // saturates, so the comparison cannot wrap
  return v >= lo && v <= hi;
}

bool FiniteNonNegative(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (end == begin) return false;
  while (IsBlank(*end)) ++end;
  return *end == '\0' && std::isfinite(v) && v >= 0.0 && v <= FLT_MAX;
}

void Refuse(bool& bad, const char* option, const std::string& value, const char* what) {
  std::printf("Invalid value \"%s\" for %s: %s\n", value.c_str(), option, what);
  bad = true;
}

constexpr const char* kOptionLetters = "amnprst";

}  // namespace

// A command line the run cannot take: one line, and the walk ends there.
bool Kro_BrainSetting::Refused(const std::string& line) {
  std::printf("%s\n", line.c_str());
  badOptions = true;
  return false;
}

bool Kro_BrainSetting::ParseCommandLine(int argc, const char* const* argv) {
  bool atlasGiven = false;
  if (argc < 2) return false;
  // The last value given to each checked option, as typed.
  const char* modeText = nullptr;
  const char* structuresText = nullptr;
  const char* iterationsText = nullptr;
  const char* smoothnessText = nullptr;
  int positionals = 0;
  const char* sourceArg = nullptr;
  std::string alsoGiven;  // positional arguments after the target, as typed
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      std::string text = arg;
      StripTrailingSlash(text);
      // An empty name would be read as a path of the working folder or of the root.
      if (text.empty())
        return Refused("Argument " + std::to_string(i) + " (\"" + arg + "\") names no file or folder");
      if (positionals == 0) {
        source = ToBackslashes(text);
        sourceArg = arg;
      } else if (positionals == 1) {
        target = ToBackslashes(text);
      } else {
        alsoGiven += (alsoGiven.empty() ? "" : " ") + std::string(arg);
      }
      ++positionals;
      continue;
    }
    if (arg[1] == '\0') continue;  // a lone "-"
    const char letter = arg[1];
    if (std::strchr(kOptionLetters, letter) == nullptr)
      return Refused("Unknown option " + std::string(arg) + "; the options are -r, -m, -n, -t, -s, -a and -p");
    if (++i >= argc) return Refused("Option " + std::string(arg) + " needs a value");
    const char* value = argv[i];
    if (value[0] == '\0') return Refused("Invalid value \"\" for " + std::string(arg) + ": the value is empty");
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
        if (path.empty())
          return Refused("Invalid value \"" + std::string(value) + "\" for " + arg + ": it names no folder");
        modelDir = path;
        break;
      }
      case 'n':
        numStructures = ParseWholeNumber(value);
        structuresText = value;
        break;
      case 'p':
        structure = LowByte(ParseWholeNumber(value));
        break;
      case 'r':
        mode = LowByte(ParseWholeNumber(value));
        modeText = value;
        break;
      case 's':
        smoothnessText = value;
        // Only a finite value in float range is converted; anything else is refused below.
        smoothness = FiniteNonNegative(value) ? static_cast<float>(std::strtod(value, nullptr)) : 0.0f;
        break;
      case 't':
        iterations = ParseWholeNumber(value);
        iterationsText = value;
        break;
    }
  }
  // Every later positional argument used to replace the target: a shell pattern that
  // names several volumes would write over the last one.
  if (!alsoGiven.empty())
    return Refused("segmenter takes one source and one target; also given: " + alsoGiven);
  if (positionals == 0) return Refused("The source and the target are missing");
  if (positionals == 1)
    return Refused("The target is missing; the only file or folder given is " + std::string(sourceArg));
  if (modeText != nullptr && !WholeNumberIn(modeText, 0, 1))
    Refuse(badOptions, "-r", modeText, "the mode is 0 (segment) or 1 (train)");
  if (structuresText != nullptr && !WholeNumberIn(structuresText, 1, kMaxStructures))
    Refuse(badOptions, "-n", structuresText, "the number of structures is a whole number from 1 to 253");
  if (iterationsText != nullptr && !WholeNumberIn(iterationsText, 1, kMaxIterations))
    Refuse(badOptions, "-t", iterationsText, "the number of iterations is a whole number from 1 to 20");
  if (smoothnessText != nullptr && !FiniteNonNegative(smoothnessText))
    Refuse(badOptions, "-s", smoothnessText, "the smoothness is a finite number of 0 or more");
  if (!badOptions && mode == 1 && structuresText == nullptr) {
    std::printf("Training needs -n, the number of structures: a whole number from 1 to 253\n");
    badOptions = true;
  }
  return atlasGiven;
}
