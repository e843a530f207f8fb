#pragma once
// The model settings file "setting.txt" as the appearance model reads it.
//
// Text, one entry a line, read in pieces of at most 199 characters (a longer line is
// read as several). Each piece is split at its first ':'; the text before it, with
// blanks trimmed at both ends, is the key and is compared exactly (letter case
// counts). Keys read, each scanning the text after the colon:
//   "ModelType" %d, "NumberofClasses" %d, "Radius" %d,
//   "Sub-volume" %d %d %d %d %d %d (x0 y0 z0 x1 y1 z1),
//   "IntensityType" %d (its low 8 bits are kept: 260 gives 4),
//   "ClassifierVersion" %d.
// A whole number is what "%d" reads (leading white space, an optional sign, digits up
// to the first other character) and must fit 32 bits; a value that does not scan so
// is ignored. A "Sub-volume" piece with fewer than six such numbers leaves the box as
// it was and marks the settings (shortSubVolume) until a later complete one; the
// loader refuses such settings rather than work in a box nobody wrote.
// A piece without ':' and any other key ("IntensityRange" among them) are ignored;
// a key given twice keeps its last value. Keys that are absent keep the defaults
// below.
#include <cstddef>
#include <cstdint>
#include <string>

#include "numerics/SubVolume.h"

struct AppearanceSettings {
  int modelType = 0;
  int numClasses = 0;
  int radius = 0;
  SubVolume box;  // all 0 when absent
  uint8_t intensityType = 1;
  int classifierVersion = 0;
  bool hasIntensityType = false;
  bool hasClassifierVersion = false;
  bool shortSubVolume = false;  // the last "Sub-volume" piece held fewer than six numbers
};

// A file is read in pieces of at most this many characters.
constexpr size_t kSettingsPiece = 199;

// Applies one piece (a line, or a part of a long one) to `settings`. Text from a NUL
// byte on is not part of the piece's line.
void ReadAppearanceSettingsPiece(const std::string& piece, AppearanceSettings& settings);
// The same reading on a whole text held in memory, piece by piece as the file reader
// cuts it; false (settings at their defaults) for an empty text.
bool ReadAppearanceSettingsText(const std::string& text, AppearanceSettings& settings);

// Reads the file at `path` (the program's spelling) into `settings`, which starts
// from the defaults. False, `settings` at its defaults and *error (when given) one
// line naming the file, when the file does not exist, is not a regular file, cannot
// be read, or is empty.
bool ReadAppearanceSettings(const std::string& path, AppearanceSettings& settings, std::string* error = nullptr);

// The ranges a model that segments needs: model type 1 to 3, NumberofClasses 1 to
// kMaxModelClasses, Radius kMinModelRadius to kMaxModelRadius (training writes 5) and
// a complete "Sub-volume" line. False with *error one line naming the file: "<path>
// names no model that can segment (ModelType <n>)" for a model type of 0 (absent
// included) or outside 1 to 3, "invalid model settings in <path>" for the others.
constexpr int kMaxModelClasses = 256;
constexpr int kMinModelRadius = 1;
constexpr int kMaxModelRadius = 10;
bool CheckAppearanceSettings(const AppearanceSettings& settings, const std::string& path, std::string* error);
