#pragma once
// The model settings file "setting.txt" as the appearance model reads it.
//
// Text, one entry a line, read in pieces of at most 199 characters (a longer line is
// read as several). Each piece is split at its first ':'; the text before it, with
// blanks trimmed at both ends, is the key and is compared exactly (letter case
// counts). Keys read, each scanning the text after the colon:
//   "ModelType" %d, "NumberofClasses" %d, "Radius" %d,
//   "Sub-volume" %d %d %d %d %d %d (x0 y0 z0 x1 y1 z1, all six or the line is ignored),
//   "IntensityType" %d (its low 8 bits are kept: 260 gives 4),
//   "ClassifierVersion" %d.
// A piece without ':', any other key ("IntensityRange" among them) and a value that
// does not scan are ignored; a key given twice keeps its last value. Keys that are
// absent keep the defaults below.
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
};

// Reads the file at `path` (the program's spelling) into `settings`, which starts
// from the defaults. False, `settings` at its defaults, when the file does not open.
bool ReadAppearanceSettings(const std::string& path, AppearanceSettings& settings);
