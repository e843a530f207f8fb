#include "platform/NativePath.h"

#include <gtest/gtest.h>

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
    const std::string name = CreateUniqueFile(prefix, ".img");
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
  EXPECT_EQ(CreateUniqueFile(tmp.file("missing/out."), ".img"), "");
  WriteFileText(tmp.file("plain"), "x");
  EXPECT_EQ(CreateUniqueFile(tmp.file("plain/out."), ".img"), "");
}
