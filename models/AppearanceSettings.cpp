#include "models/AppearanceSettings.h"

#include <cctype>
#include <cstdio>

#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"

namespace {

// Scans up to `count` whole numbers from `text` as consecutive "%d" conversions do:
// each skips white space, takes an optional sign and at least one digit, and stops at
// the first other character. A number that does not fit 32 bits ends the scan.
// Returns how many were scanned.
int ScanWholeNumbers(const char* text, int* out, int count) {
  for (int n = 0; n < count; ++n) {
    int64_t value = 0;
    if (!ScanWholeNumber(text, value) || !FitsInt32(value)) return n;
    out[n] = static_cast<int>(value);
  }
  return count;
}

bool ScanOne(const std::string& text, int& value) { return ScanWholeNumbers(text.c_str(), &value, 1) == 1; }

}  // namespace

void ReadAppearanceSettingsPiece(const std::string& piece, AppearanceSettings& settings) {
  std::string line = piece.substr(0, piece.find('\0'));  // as the piece reads as a C string
  std::string key;
  SplitAtFirst(key, line, ':', true);
  key = TrimBoth(key);
  if (key.empty()) return;
  int v = 0;
  if (key == "ModelType") {
    if (ScanOne(line, v)) settings.modelType = v;
  } else if (key == "NumberofClasses") {
    if (ScanOne(line, v)) settings.numClasses = v;
  } else if (key == "Radius") {
    if (ScanOne(line, v)) settings.radius = v;
  } else if (key == "Sub-volume") {
    int b[6];
    if (ScanWholeNumbers(line.c_str(), b, 6) == 6) {
      settings.box = SubVolume(b[0], b[1], b[2], b[3], b[4], b[5]);
      settings.shortSubVolume = false;
    } else {
      settings.shortSubVolume = true;
    }
  } else if (key == "IntensityType") {
    if (ScanOne(line, v)) {
      settings.intensityType = LowByte(v);
      settings.hasIntensityType = true;
    }
  } else if (key == "ClassifierVersion") {
    if (ScanOne(line, v)) {
      settings.classifierVersion = v;
      settings.hasClassifierVersion = true;
    }
  }
}

bool ReadAppearanceSettingsText(const std::string& text, AppearanceSettings& settings) {
  settings = AppearanceSettings();
  for (size_t at = 0; at < text.size();) {
    // The pieces the file reader's 200-byte buffer takes: through a line end, at most
    // kSettingsPiece characters.
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    if (end - at > kSettingsPiece) end = at + kSettingsPiece;
    ReadAppearanceSettingsPiece(text.substr(at, end - at), settings);
    at = end;
  }
  return !text.empty();
}

bool ReadAppearanceSettings(const std::string& path, AppearanceSettings& settings, std::string* error) {
  settings = AppearanceSettings();
  auto fail = [&](const char* why) {
    if (error) *error = "Cannot read the model settings " + path + ": " + why;
    return false;
  };
  if (!PathExists(path)) return fail("no such file");
  if (!IsRegularFile(path)) return fail("not a regular file");
  std::FILE* file = OpenFile(path, "rt");
  if (file == nullptr) return fail("the file does not open");
  char buffer[kSettingsPiece + 1];
  bool anything = false;
  // A piece is taken whole (NUL bytes included) as far as the buffer was filled.
  while (true) {
    size_t n = 0;
    int c = 0;
    while (n < kSettingsPiece && (c = std::fgetc(file)) != EOF) {
      buffer[n++] = static_cast<char>(c);
      if (c == '\n') break;
    }
    if (n == 0) break;
    anything = true;
    ReadAppearanceSettingsPiece(std::string(buffer, n), settings);
  }
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (readError) {
    settings = AppearanceSettings();
    return fail("a read error");
  }
  if (!anything) return fail("the file is empty");
  return true;
}

bool CheckAppearanceSettings(const AppearanceSettings& s, const std::string& path, std::string* error) {
  if (s.modelType < 1 || s.modelType > 3) {
    if (error) *error = path + " names no model that can segment (ModelType " + std::to_string(s.modelType) + ")";
    return false;
  }
  if (s.numClasses < 1 || s.numClasses > kMaxModelClasses || s.radius < kMinModelRadius ||
      s.radius > kMaxModelRadius || s.shortSubVolume) {
    if (error) *error = "invalid model settings in " + path;
    return false;
  }
  return true;
}
