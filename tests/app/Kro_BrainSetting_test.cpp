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
      {{"one", "two", "three"}, "one", "three"},
      {{"", "src", "dst"}, "src", "dst"},  // an empty first argument leaves the source empty
      {{"-", "src", "dst"}, "src", "dst"}, // a lone '-' takes no value
  };
  for (const Case& c : cases) {
    Kro_BrainSetting s;
    bool atlas;
    Parse(c.args, s, atlas);
    EXPECT_STREQ(s.source.c_str(), c.source) << c.args[0];
    EXPECT_STREQ(s.target.c_str(), c.target) << c.args[0];
    EXPECT_FALSE(atlas);
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
      {{"-r", "257", "s", "t"}, 1, 0, 3, 0.5f, 0},    // low 8 bits: training
      {{"-r", "256", "s", "t"}, 0, 0, 3, 0.5f, 0},    // low 8 bits: segmentation
      {{"-r", " -1x", "s", "t"}, 255, 0, 3, 0.5f, 0}, // blanks, sign, stops at a non-digit
      {{"-s", "abc", "s", "t"}, 0, 0, 3, 0.0f, 0},    // no digits: 0.0
      {{"-t", "x", "s", "t"}, 0, 0, 0, 0.5f, 0},
      {{"-r", "1", "-r", "0", "s", "t"}, 0, 0, 3, 0.5f, 0},  // the later value wins
      {{"-x", "-r", "s", "t"}, 0, 0, 3, 0.5f, 0},    // unknown letter consumes "-r"
      {{"-Rfoo", "1", "s", "t"}, 0, 0, 3, 0.5f, 0},  // capitals are unknown
      {{"-rest", "1", "s", "t"}, 1, 0, 3, 0.5f, 0},  // only the second character counts
      {{"s", "t", "-r"}, 0, 0, 3, 0.5f, 0},          // an option without value is ignored
      {{"-n", "99999999999", "s", "t"}, 0, 2147483647, 3, 0.5f, 0},
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
