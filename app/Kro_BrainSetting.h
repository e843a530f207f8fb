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
  // A command line the run cannot take is reported in one line, and sets badOptions;
  // only the first fault is reported, in this order:
  // - while walking the arguments (the walk stops at the fault): an empty argument or one
  //   of separators only (it names the root), an option letter other than a, m, n, p, r,
  //   s and t, an option without a value or with an empty one, a "-m" of separators only;
  // - then the first value on the command line that the run cannot use, named with its
  //   option as typed: an atlas path too long to keep, a mode other than the whole number
  //   0 or 1, "-n" outside 1 .. 253, "-t" outside 1 .. 20, "-s" not a finite number of 0
  //   or more (text that is not a number for any of these);
  // - then a third positional argument (all the extra ones are named), a missing source
  //   or target, and training (mode 1) without "-n".
  // A lone "-" is skipped.
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
