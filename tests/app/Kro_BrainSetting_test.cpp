#include "app/Kro_BrainSetting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "features/FeatureFlags.h"

namespace {

void Parse(const std::vector<std::string>& args, Kro_BrainSetting& s, bool& atlasGiven) {
  std::vector<const char*> argv = {"segmenter"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  gAtlasPath.clear();
  atlasGiven = s.ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(ParseCommandLineTest, PositionalArgumentsAndSlashes) {
  struct Case {
    std::vector<std::string> args;
    const char* source;
    const char* target;
  } cases[] = {
      {{"in.img", "out.img"}, "in.img", "out.img"},
      {{"a/b/", "c/d"}, "a\\b", "c\\d"},
      {{"a\\b\\", "c"}, "a\\b", "c"},
      {{"-", "src", "dst"}, "src", "dst"}, // a lone '-' takes no value
  };
  for (const Case& c : cases) {
    Kro_BrainSetting s;
    bool atlas;
    Parse(c.args, s, atlas);
    EXPECT_STREQ(s.source.c_str(), c.source) << c.args[0];
    EXPECT_STREQ(s.target.c_str(), c.target) << c.args[0];
    EXPECT_FALSE(atlas);
    EXPECT_FALSE(s.badOptions);
  }
}

TEST(ParseCommandLineTest, OptionValues) {
  struct Case {
    std::vector<std::string> args;
    int mode;
    int numStructures;
    int iterations;
    float smoothness;
    int structure;
  } cases[] = {
      {{"s", "t"}, 0, 0, 3, 0.5f, 0},
      {{"-r", "1", "-n", "2", "-t", "5", "-s", "1.25", "-p", "7", "s", "t"}, 1, 2, 5, 1.25f, 7},
      {{"-r", " +1 ", "-n", "2", "s", "t"}, 1, 2, 3, 0.5f, 0},  // blanks and a sign around the number
      {{"-r", "1", "-r", "0", "s", "t"}, 0, 0, 3, 0.5f, 0},  // the later value wins
      {{"-rest", "1", "-n", "2", "s", "t"}, 1, 2, 3, 0.5f, 0},  // only the second character counts
      {{"-p", "300", "s", "t"}, 0, 0, 3, 0.5f, 44},          // low 8 bits of the structure
      {{"s", "-t", "4", "t"}, 0, 0, 4, 0.5f, 0},             // options between the positional ones
  };
  for (const Case& c : cases) {
    Kro_BrainSetting s;
    bool atlas;
    Parse(c.args, s, atlas);
    std::string label = c.args[0] + " " + c.args[1];
    EXPECT_EQ(s.mode, c.mode) << label;
    EXPECT_EQ(s.numStructures, c.numStructures) << label;
    EXPECT_EQ(s.iterations, c.iterations) << label;
    EXPECT_EQ(s.smoothness, c.smoothness) << label;
    EXPECT_EQ(s.structure, c.structure) << label;
    EXPECT_STREQ(s.source.c_str(), "s") << label;
    EXPECT_STREQ(s.target.c_str(), "t") << label;
    EXPECT_FALSE(s.badOptions) << label;
  }
}

// Command lines that would run with something else than what was typed, or with
// nothing: one line naming the argument, and the run goes no further.
TEST(ParseCommandLineTest, RefusesCommandLinesItCannotTakeWithOneLine) {
  struct Case {
    std::vector<std::string> args;
    const char* line;
  } cases[] = {
      {{"-m", "m", "a.hdr", "b.hdr", "c.hdr"}, "segmenter takes one source and one target; also given: c.hdr\n"},
      {{"-m", "m", "a.hdr", "b.hdr", "c.hdr", "d.hdr"},
       "segmenter takes one source and one target; also given: c.hdr d.hdr\n"},
      {{"-r", "1", "-n", "2", "s", "mid", "T"}, "segmenter takes one source and one target; also given: T\n"},
      {{"s", "t", "-s"}, "Option -s needs a value\n"},
      {{"s", "t", "-rest"}, "Option -rest needs a value\n"},
      {{"-x", "s", "t"}, "Unknown option -x; the options are -r, -m, -n, -t, -s, -a and -p\n"},
      {{"-R", "1", "s", "t"}, "Unknown option -R; the options are -r, -m, -n, -t, -s, -a and -p\n"},
      {{"--mode", "1", "s", "t"}, "Unknown option --mode; the options are -r, -m, -n, -t, -s, -a and -p\n"},
      {{"", "s", "t"}, "Argument 1 (\"\") names no file or folder\n"},
      {{"s", "/", "t"}, "Argument 2 (\"/\") names no file or folder\n"},
      {{"-m", "", "s", "t"}, "Invalid value \"\" for -m: the value is empty\n"},
      {{"-m", "/", "s", "t"}, "Invalid value \"/\" for -m: it names no folder\n"},
      {{"-p", "", "s", "t"}, "Invalid value \"\" for -p: the value is empty\n"},
      {{"-m", "m", "s"}, "The target is missing; the only file or folder given is s\n"},
      {{"-m", "m", "-s", "1"}, "The source and the target are missing\n"},
      {{"-r", "256", "s", "t"}, "Invalid value \"256\" for -r: the mode is 0 (segment) or 1 (train)\n"},
      {{"-r", "257", "-n", "2", "s", "t"}, "Invalid value \"257\" for -r: the mode is 0 (segment) or 1 (train)\n"},
      {{"-r", "-255", "-n", "2", "s", "t"}, "Invalid value \"-255\" for -r: the mode is 0 (segment) or 1 (train)\n"},
      // Only separators name the root, whatever their number.
      {{"-m", "//", "s", "t"}, "Invalid value \"//\" for -m: it names no folder\n"},
      {{"-m", "\\", "s", "t"}, "Invalid value \"\\\" for -m: it names no folder\n"},
      {{"s", "//"}, "Argument 2 (\"//\") names no file or folder\n"},
      // A value is named before the count of files: the option took a file as its value.
      {{"-m", "model", "-s", "a", "b"}, "Invalid value \"a\" for -s: the smoothness is a finite number of 0 or more\n"},
      // Several bad values: one line, the first on the command line.
      {{"-t", "0", "-n", "0", "-r", "1", "s", "t"},
       "Invalid value \"0\" for -t: the number of iterations is a whole number from 1 to 20\n"},
      {{"-n", "0", "-r", "5", "s", "t"},
       "Invalid value \"0\" for -n: the number of structures is a whole number from 1 to 253\n"},
      {{"-n", "0", "-a", std::string(500, 'a'), "s", "t"},
       "Invalid value \"0\" for -n: the number of structures is a whole number from 1 to 253\n"},
  };
  for (const Case& c : cases) {
    Kro_BrainSetting s;
    bool atlas;
    testing::internal::CaptureStdout();
    Parse(c.args, s, atlas);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(s.badOptions) << c.line;
    EXPECT_EQ(out, c.line);
  }
}

TEST(ParseCommandLineTest, AtlasKeptUnchangedModelLosesOnlyTrailingSlash) {
  Kro_BrainSetting s;
  bool atlas;
  Parse({"-a", "atlas/dir/a.3dm/", "-m", "models/set1/", "-r", "0", "s", "t"}, s, atlas);
  EXPECT_TRUE(atlas);
  EXPECT_EQ(gAtlasPath, "atlas/dir/a.3dm/");
  EXPECT_STREQ(s.modelDir.c_str(), "models/set1");
  EXPECT_FALSE(s.badOptions);
}

TEST(ParseCommandLineTest, RejectsAtlasPathTooLongToKeep) {
  Kro_BrainSetting ok, tooLong;
  bool atlas;
  testing::internal::CaptureStdout();
  Parse({"-a", std::string(499, 'a'), "s", "t"}, ok, atlas);
  EXPECT_FALSE(ok.badOptions);
  EXPECT_EQ(gAtlasPath.size(), 499u);
  Parse({"-a", std::string(500, 'a'), "s", "t"}, tooLong, atlas);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(tooLong.badOptions);
  EXPECT_TRUE(gAtlasPath.empty());
  EXPECT_NE(out.find("Atlas path is too long (500 characters, at most 499)"), std::string::npos);
}
