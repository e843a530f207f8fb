#pragma once
// The options of one run and their command-line parser.
#include <cstdint>
#include <string>

#include "numerics/McString.h"

class Kro_BrainSetting {
 public:
  Kro_BrainSetting() = default;
  virtual ~Kro_BrainSetting() = default;

  // Reads the options and positional arguments: the first positional argument is the
  // source, the second the target. Returns true when "-a" gave an atlas path.
  // A command line the run cannot take is reported in one line naming the argument,
  // and sets badOptions (the walk stops there): an empty argument or one that names no
  // file or folder ("/"), an option letter other than a, m, n, p, r, s and t, an option
  // without a value or with an empty one (also a "-m" of only a slash), a third
  // positional argument (all the extra ones are named), a missing source or target.
  // A value the run cannot use is reported in one line naming the option and the value
  // as typed, and sets badOptions: an atlas path too long to keep, a mode other than
  // the whole number 0 or 1, "-n" outside 1 .. 253, "-t" outside 1 .. 20, "-s" not a
  // finite number of 0 or more, and text that is not a number for any of these;
  // training (mode 1) without "-n" too. A lone "-" is skipped.
  virtual bool ParseCommandLine(int argc, const char* const* argv);

  uint8_t structure = 0;     // "-p"; set to 2 after parsing, read by neither road
  uint8_t mode = 0;          // "-r": 0 segment, 1 train
  uint8_t singleFile = 1;    // source and target are single files
  int32_t numStructures = 0; // "-n"
  McString source;           // first positional argument
  McString target;           // later positional arguments
  McString modelDir;         // "-m"
  McString workDir;          // the working folder when the run started
  int32_t iterations = 3;    // "-t"
  float smoothness = 0.5f;   // "-s"
  bool badOptions = false;   // the command line or an option value could not be used

 private:
  bool Refused(const std::string& line);
};

// Decimal whole number as the options read it: leading blanks and a sign, digits up
// to the first other character, 0 without digits; saturates at the int32 range.
int32_t ParseWholeNumber(const char* text);
