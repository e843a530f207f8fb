#pragma once
// The options of one run and their command-line parser.
#include <cstdint>

#include "numerics/McString.h"

class Kro_BrainSetting {
 public:
  Kro_BrainSetting() = default;
  virtual ~Kro_BrainSetting() = default;

  // Reads the options and positional arguments. Returns true when "-a" gave an
  // atlas path. An atlas path too long to keep is reported and sets badOptions.
  virtual bool ParseCommandLine(int argc, const char* const* argv);

  uint8_t structure = 0;     // "-p"; set to 2 after parsing, read by neither road
  uint8_t mode = 0;          // "-r": 0 segment, 1 train, other values do nothing
  uint8_t singleFile = 1;    // source and target are single files
  int32_t numStructures = 0; // "-n"
  McString source;           // first positional argument
  McString target;           // later positional arguments
  McString modelDir;         // "-m"
  McString workDir;          // the working folder when the run started
  int32_t iterations = 3;    // "-t"
  float smoothness = 0.5f;   // "-s"
  bool badOptions = false;   // an option value could not be used
};

// Decimal whole number as the options read it: leading blanks and a sign, digits up
// to the first other character, 0 without digits; saturates at the int32 range.
int32_t ParseWholeNumber(const char* text);
