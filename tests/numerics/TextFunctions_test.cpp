#include "numerics/TextFunctions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "TestSupport.h"
#include "numerics/Angles.h"
#include "numerics/ListDirectory.h"
#include "platform/NativePath.h"

TEST(TextFunctionsTest, TrimAndSplit) {
  EXPECT_EQ(TrimBoth("  a b \t "), "a b \t");  // only spaces are blank
  EXPECT_EQ(TrimLeading("   "), "");

  std::string out = "unchanged", inout = "Key: value";
  SplitAtFirst(out, inout, ':', true);
  EXPECT_EQ(out, "Key");
  EXPECT_EQ(inout, " value");

  inout = "name";
  SplitAtLast(out, inout, '.', true);
  EXPECT_EQ(out, "");
  EXPECT_EQ(inout, "name");

  inout = "a.b.c";
  SplitAtLast(out, inout, '.', true);
  EXPECT_EQ(out, "a.b");
  EXPECT_EQ(inout, "c");

  out = "kept";
  inout = "";
  SplitAtFirst(out, inout, ':', true);  // nothing happens on an empty input
  EXPECT_EQ(out, "kept");
}

TEST(TextFunctionsTest, PathNames) {
  struct Case {
    const char* path;
    const char* stripped;
    const char* base;
  } cases[] = {
      {"I00001.3dm", "I00001", "I00001"},
      {"noext", "noext", "noext"},
      {"old.data/file", "old", "old"},
      {"a/b\\c.d", "a/b\\c", "c"},
      {"a\\b/c.d", "a\\b/c", "c"},
      {"c.d", "c", "c"},
      {"/file.txt", "/file", "/file"},
      {"  .hidden", "  .hidden", "  .hidden"},  // only blanks before the dot
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StripExtension(c.path), c.stripped) << c.path;
    EXPECT_EQ(BaseName(c.path), c.base) << c.path;
  }
  std::string p = "a/b/c";
  EXPECT_EQ(ToBackslashes(p), "a\\b\\c");
  for (auto [in, out] : {std::pair<std::string, std::string>{"dir/", "dir"}, {"dir\\", "dir"}, {"dir", "dir"}, {"", ""}}) {
    StripTrailingSlash(in);
    EXPECT_EQ(in, out);
  }
}

TEST(TextFunctionsTest, WholeNumbersReadAsPercentDReadsThem) {
  struct Case {
    const char* text;
    bool read;
    int64_t value;
    int used;  // characters consumed
    bool fits;
  };
  const Case cases[] = {
      {"42", true, 42, 2, true},
      {" \t\n-17x", true, -17, 6, true},
      {"+5 6", true, 5, 2, true},
      {"2147483647", true, 2147483647, 10, true},
      {"-2147483648", true, -2147483648LL, 11, true},
      {"2147483648", true, 2147483648LL, 10, false},
      {"-2147483649", true, -2147483649LL, 11, false},
      {"99999999999999999999999", true, int64_t{1} << 32, 23, false},
      {"-99999999999999999999999", true, -(int64_t{1} << 32), 24, false},
      {"", false, 0, 0, false},
      {"-", false, 0, 0, false},
      {"  x1", false, 0, 0, false},
      {"+-1", false, 0, 0, false},
  };
  for (const Case& c : cases) {
    const char* p = c.text;
    int64_t value = 0;
    EXPECT_EQ(ScanWholeNumber(p, value), c.read) << c.text;
    EXPECT_EQ(p - c.text, c.used) << c.text;
    if (!c.read) continue;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(FitsInt32(value), c.fits) << c.text;
  }
}

TEST(TextFunctionsTest, LogToFileAppends) {
  TempFolder tmp;
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(tmp.path());
  LogToFile("one ");
  LogToFile("two\n");
  std::filesystem::current_path(before);
  EXPECT_EQ(ReadFileText(tmp.file("printf.txt")), "one two\n");
}

TEST(AnglesTest, DirectionsAndNormalisation) {
  EXPECT_DOUBLE_EQ(DirectionAngle(0, 0, 0, 1), M_PI / 2);
  EXPECT_DOUBLE_EQ(DirectionAngle(0, 0, 0, -1), 3 * M_PI / 2);
  EXPECT_EQ(DirectionAngle(0, 0, 1, 0), 0.0);
  EXPECT_EQ(DirectionAngle(2, 2, 2, 2), 0.0);
  EXPECT_DOUBLE_EQ(NormalizeAngle(-0.5 * M_PI), 1.5 * M_PI);
  EXPECT_EQ(NormalizeAngle(2 * M_PI), 2 * M_PI);
  EXPECT_DOUBLE_EQ(NormalizeAngle(5 * M_PI), M_PI);
  EXPECT_DOUBLE_EQ(DegToRad(180), M_PI);
}

TEST(AnglesTest, VertexAngleOfARightAngle) {
  Point2D<double> p1(1, 0), p2(0, 0), p3(0, 1);
  double curvature = 99;
  double bisector = VertexAngle(&p1, &p2, &p3, &curvature);
  // The turn from the edge towards p3 (pi/2) to the edge towards p1 (0) is 3pi/2.
  EXPECT_DOUBLE_EQ(bisector, NormalizeAngle(M_PI / 2 + 0.75 * M_PI));
  EXPECT_DOUBLE_EQ(curvature, 2 * (1.5 * M_PI - M_PI) / 2);
}

TEST(ListDirectoryTest, SortedFilteredBackslashedAndOpenable) {
  TempFolder tmp;
  for (const char* n : {"b.3dm", "a.3dm", "x.3dmx", "c_label.3dm", "notes.txt"}) WriteFileText(tmp.file(n), n);
  WriteFileText(tmp.file(std::string(195, 'L') + ".3dm"), "too long");  // 199 characters: kept
  WriteFileText(tmp.file(std::string(196, 'M') + ".3dm"), "too long");  // 200 characters: skipped
  std::vector<McString> out = {McString("stale")};
  ListDirectory(tmp.path(), ".3dm", out);
  std::string base = tmp.path();
  ToBackslashes(base);
  std::vector<std::string> names;
  for (const McString& m : out) names.push_back(m.str());
  EXPECT_EQ(names, (std::vector<std::string>{base + "\\" + std::string(195, 'L') + ".3dm", base + "\\a.3dm",
                                             base + "\\b.3dm", base + "\\c_label.3dm"}));
  for (const McString& m : out) {
    std::FILE* f = OpenFile(m.str(), "rb");
    EXPECT_NE(f, nullptr) << m.c_str();
    if (f) std::fclose(f);
  }
  // The names left out for their length are told to a caller that asks, formatted alike.
  std::vector<std::string> tooLong = {"stale"};
  ListDirectory(tmp.path(), ".3dm", out, &tooLong);
  EXPECT_EQ(out.size(), 4u);
  EXPECT_EQ(tooLong, std::vector<std::string>{base + "\\" + std::string(196, 'M') + ".3dm"});
  ListDirectory(tmp.path(), "_label.3dm", out, &tooLong);
  EXPECT_TRUE(tooLong.empty());
  ListDirectory(tmp.path(), "_label.3dm", out);
  ASSERT_EQ(out.size(), 1u);
  ListDirectory(tmp.path() + "/missing", ".3dm", out);
  EXPECT_TRUE(out.empty());
}
