#include "app/Kro_BrainSetting.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

std::string InvalidValue(const char* option, const std::string& value, const char* what) {
  return "Invalid value \"" + value + "\" for " + option + ": " + what;
}

// A name made only of separators names the root folder (an empty one, the working
// folder): no file or folder the run can use.
bool OnlySeparators(const std::string& text) { return text.find_first_not_of("/\\") == std::string::npos; }

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
  // The values given to the checked options, each with its place on the command line; a
  // repeated option counts with its last value.
  struct Given {
    int at = 0;  // 0: not given
    std::string text;
  };
  Given modeGiven, structuresGiven, iterationsGiven, smoothnessGiven, atlasValue;
  int positionals = 0;
  const char* sourceArg = nullptr;
  std::string alsoGiven;  // positional arguments after the target, as typed
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (arg[0] != '-') {
      std::string text = arg;
      // An empty name, or one of separators only, would be read as a path of the working
      // folder or of the root.
      if (text.empty() || OnlySeparators(text))
        return Refused("Argument " + std::to_string(i) + " (\"" + arg + "\") names no file or folder");
      StripTrailingSlash(text);
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
    if (value[0] == '\0') return Refused(InvalidValue(arg, "", "the value is empty"));
    switch (letter) {
      case 'a':
        atlasValue = {i, value};
        atlasGiven = true;
        break;
      case 'm': {
        std::string path = value;
        if (OnlySeparators(path)) return Refused(InvalidValue(arg, value, "it names no folder"));
        StripTrailingSlash(path);
        modelDir = path;
        break;
      }
      case 'n':
        numStructures = ParseWholeNumber(value);
        structuresGiven = {i, value};
        break;
      case 'p':
        structure = LowByte(ParseWholeNumber(value));
        break;
      case 'r':
        mode = LowByte(ParseWholeNumber(value));
        modeGiven = {i, value};
        break;
      case 's':
        smoothnessGiven = {i, value};
        // Only a finite value in float range is converted; anything else is refused below.
        smoothness = FiniteNonNegative(value) ? static_cast<float>(std::strtod(value, nullptr)) : 0.0f;
        break;
      case 't':
        iterations = ParseWholeNumber(value);
        iterationsGiven = {i, value};
        break;
    }
  }
  // Values the run cannot use: the first on the command line is named, before the count
  // of files (an option may have taken a file name as its value).
  std::vector<std::pair<int, std::string>> refusals;
  auto check = [&refusals](const Given& given, bool usable, const std::string& line) {
    if (given.at != 0 && !usable) refusals.push_back({given.at, line});
  };
  check(atlasValue, atlasValue.text.size() <= static_cast<size_t>(kMaxAtlasPath),
        "Atlas path is too long (" + std::to_string(atlasValue.text.size()) + " characters, at most " +
            std::to_string(kMaxAtlasPath) + "): " + atlasValue.text);
  check(modeGiven, WholeNumberIn(modeGiven.text, 0, 1),
        InvalidValue("-r", modeGiven.text, "the mode is 0 (segment) or 1 (train)"));
  check(structuresGiven, WholeNumberIn(structuresGiven.text, 1, kMaxStructures),
        InvalidValue("-n", structuresGiven.text, "the number of structures is a whole number from 1 to 253"));
  check(iterationsGiven, WholeNumberIn(iterationsGiven.text, 1, kMaxIterations),
        InvalidValue("-t", iterationsGiven.text, "the number of iterations is a whole number from 1 to 20"));
  check(smoothnessGiven, FiniteNonNegative(smoothnessGiven.text),
        InvalidValue("-s", smoothnessGiven.text, "the smoothness is a finite number of 0 or more"));
  // Only the first fault is named.
  std::string fault;
  if (!refusals.empty()) {
    fault = std::min_element(refusals.begin(), refusals.end())->second;
  } else if (!alsoGiven.empty()) {
    // Every later positional argument used to replace the target: a shell pattern that
    // names several volumes would write over the last one.
    fault = "segmenter takes one source and one target; also given: " + alsoGiven;
  } else if (positionals == 0) {
    fault = "The source and the target are missing";
  } else if (positionals == 1) {
    fault = "The target is missing; the only file or folder given is " + std::string(sourceArg);
  } else if (mode == 1 && structuresGiven.at == 0) {
    fault = "Training needs -n, the number of structures: a whole number from 1 to 253";
  }
  if (!fault.empty()) {
    Refused(fault);
  } else if (atlasGiven) {
    gAtlasPath = atlasValue.text;
  }
  return atlasGiven;
}
