#include "platform/NativePath.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "TestSupport.h"

namespace fs = std::filesystem;

TEST(NativePathTest, SameFileFollowsEveryPathToIt) {
  TempFolder tmp;
  fs::create_directories(tmp.file("d"));
  WriteFileText(tmp.file("x.img"), "voxels");
  WriteFileText(tmp.file("copy.img"), "voxels");
  fs::create_hard_link(tmp.file("x.img"), tmp.file("hard.img"));
  fs::create_symlink(tmp.file("x.img"), tmp.file("soft.img"));
  fs::create_symlink(tmp.file("none.img"), tmp.file("dangling.img"));
  const struct Case {
    const char* name;
    std::string other;
    bool same;
  } cases[] = {
      {"the same spelling", tmp.file("x.img"), true},
      {"backslashes", tmp.path() + "\\x.img", true},
      {"through a folder and back", tmp.file("d/../x.img"), true},
      {"a hard link", tmp.file("hard.img"), true},
      {"a symbolic link", tmp.file("soft.img"), true},
      {"another file of the same bytes", tmp.file("copy.img"), false},
      {"a missing file", tmp.file("none.img"), false},
      {"a link to a missing file", tmp.file("dangling.img"), false},
      {"an empty path", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSameFile(tmp.file("x.img"), c.other), c.same) << c.name;
    EXPECT_EQ(IsSameFile(c.other, tmp.file("x.img")), c.same) << c.name;
  }
  EXPECT_FALSE(IsSameFile(tmp.file("none.img"), tmp.file("none.img")));
}

TEST(NativePathTest, UniqueFilesAreNewAndNeverAnExistingOne) {
  TempFolder tmp;
  const std::string prefix = tmp.path() + "\\out.partial-";
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    const std::string name = CreateUniqueFile(tmp.path() + "\\out", ".partial-", ".img");
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".img") << name;
    EXPECT_TRUE(fs::is_regular_file(NativePath(name))) << name;
    EXPECT_EQ(fs::file_size(NativePath(name)), 0u) << name;
    // A file that is there already is left alone: the next name is another one.
    WriteFileText(NativePath(name), "taken");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 3u);
  for (const std::string& name : names) EXPECT_EQ(ReadFileText(NativePath(name)), "taken");

  // Nowhere to create it: a missing folder, or a folder path under a regular file.
  EXPECT_EQ(CreateUniqueFile(tmp.file("missing/out"), ".", ".img"), "");
  WriteFileText(tmp.file("plain"), "x");
  EXPECT_EQ(CreateUniqueFile(tmp.file("plain/out"), ".", ".img"), "");
}

TEST(NativePathTest, FitFileNameCutsTheStemAtACharacterBoundary) {
  const struct Case {
    const char* name;
    std::string stem;
    std::string tail;
    size_t limit;
    std::string fitted;
  } cases[] = {
      {"fits", "out", ".partial-7-0.img", 255, "out.partial-7-0.img"},
      {"fits exactly", "abcdefghij", ".x", 12, "abcdefghij.x"},
      {"one byte over", "abcdefghij", ".x", 11, "abcdefghi.x"},
      {"cut after a whole character", "a\xC3\xA9" "b", ".t", 5, "a\xC3\xA9.t"},
      {"two-byte character at the cut", "abc\xC3\xA9", ".t", 6, "abc.t"},
      {"three-byte character at the cut", "a\xE2\x82\xAC" "b", "", 3, "a"},
      {"four-byte character at the cut", "x\xF0\x9F\x98\x80", "", 4, "x"},
      {"the stem goes whole", "abc", "12345", 5, "12345"},
      {"the tail alone is too long", "abc", "123456", 5, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(FitFileName(c.stem, c.tail, c.limit), c.fitted) << c.name;
}

TEST(NativePathTest, AUniqueFileBesideTheLongestNameFitsTheFolder) {
  // Beside an output name as long as the folder takes, the stem is cut so that the
  // whole file name fits; the mark, the unique part and the suffix stay.
  TempFolder tmp;
  const long limit = pathconf(tmp.path().c_str(), _PC_NAME_MAX);
  ASSERT_GT(limit, 20);
  const std::string stem(static_cast<size_t>(limit) - 4, 'n');
  const std::string tail = ".partial-" + std::to_string(getpid()) + "-0.hdr";
  const std::string name = CreateUniqueFile(tmp.path() + "\\" + stem, ".partial-", ".hdr");
  EXPECT_EQ(name, tmp.path() + "\\" + stem.substr(0, static_cast<size_t>(limit) - tail.size()) + tail);
  EXPECT_TRUE(fs::is_regular_file(NativePath(name)));
}
