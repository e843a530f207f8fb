#include "platform/FolderCommands.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace fs = std::filesystem;

TEST(FolderCommandsTest, MkdirReadsBackslashesAndMakesParents) {
  TempFolder tmp;
  EXPECT_EQ(RunFolderCommand("mkdir " + tmp.path() + "\\a\\b\\c"), 0);
  EXPECT_TRUE(fs::is_directory(tmp.path() + "/a/b/c"));
  // Again: the folder exists, which is success for the program.
  EXPECT_EQ(RunFolderCommand("mkdir " + tmp.path() + "/a/b/c"), 0);
}

TEST(FolderCommandsTest, PathsKeepTheirBlanks) {
  // One blank ends the command and each switch; the rest is the path as it is, so a
  // name with blanks at either end never reaches its blank-less neighbour.
  TempFolder tmp;
  fs::create_directories(tmp.path() + "/lead/labels");
  WriteFileText(tmp.path() + "/lead/labels/keep.txt", "x");
  WriteFileText(tmp.path() + "/log.txt", "x");
  EXPECT_EQ(RunFolderCommand("mkdir " + tmp.path() + "/ lead \\labels"), 0);
  EXPECT_TRUE(fs::is_directory(tmp.path() + "/ lead /labels"));
  EXPECT_EQ(RunFolderCommand("rmdir /s /q " + tmp.path() + "/ lead \\labels"), 0);
  EXPECT_FALSE(fs::exists(tmp.path() + "/ lead /labels"));
  EXPECT_TRUE(fs::exists(tmp.path() + "/lead/labels/keep.txt"));
  EXPECT_EQ(RunFolderCommand("del " + tmp.path() + "/log.txt "), 0);
  EXPECT_TRUE(fs::exists(tmp.path() + "/log.txt"));
}

TEST(FolderCommandsTest, CreatedFoldersAreRemovedOnlyWhileEmpty) {
  TempFolder tmp;
  fs::create_directories(tmp.path() + "/kept");
  std::vector<std::string> created;
  ASSERT_TRUE(MakeFolder(tmp.path() + "/kept/a/b", &created));
  EXPECT_EQ(created.size(), 2u);  // a and a/b; "kept" was there
  RemoveEmptyFolders(created);
  EXPECT_FALSE(fs::exists(tmp.path() + "/kept/a"));
  EXPECT_TRUE(fs::is_directory(tmp.path() + "/kept"));

  created.clear();
  ASSERT_TRUE(MakeFolder(tmp.path() + "/kept/a/b", &created));
  WriteFileText(tmp.path() + "/kept/a/b/f.txt", "x");
  RemoveEmptyFolders(created);
  EXPECT_TRUE(fs::exists(tmp.path() + "/kept/a/b/f.txt"));
  EXPECT_TRUE(IsMissingOrEmptyFolder(tmp.path() + "/nothing"));
  EXPECT_TRUE(IsMissingOrEmptyFolder(tmp.path() + "/kept/a/b") == false);

  // A file or a link that took the place of a created folder stays, and so do the
  // folders around it.
  fs::create_directories(tmp.path() + "/elsewhere");
  for (const char* taken : {"file", "link"}) {
    created.clear();
    ASSERT_TRUE(MakeFolder(tmp.path() + "/kept/e/f", &created)) << taken;
    fs::remove(tmp.path() + "/kept/e/f");
    if (std::string(taken) == "file") {
      WriteFileText(tmp.path() + "/kept/e/f", "x");
    } else {
      fs::create_directory_symlink(tmp.path() + "/elsewhere", tmp.path() + "/kept/e/f");
    }
    RemoveEmptyFolders(created);
    EXPECT_TRUE(fs::exists(fs::symlink_status(tmp.path() + "/kept/e/f"))) << taken;
    fs::remove_all(tmp.path() + "/kept/e");
  }
  EXPECT_TRUE(fs::is_directory(tmp.path() + "/elsewhere"));

  // A trailing separator names the same folders, each once, and all of them go.
  for (const char* end : {"/", "\\"}) {
    created.clear();
    ASSERT_TRUE(MakeFolder(tmp.path() + "/kept/c/d" + end, &created)) << end;
    EXPECT_EQ(created.size(), 2u) << end;
    RemoveEmptyFolders(created);
    EXPECT_FALSE(fs::exists(tmp.path() + "/kept/c")) << end;
  }
}

TEST(FolderCommandsTest, MakeFolderNamesWhyItFailsAndWhatItMadeBefore) {
  TempFolder tmp;
  WriteFileText(tmp.file("blocker"), "x");
  const struct Case {
    const char* name;
    std::string path;
    int error;
    std::vector<std::string> made;  // reported as created
  } cases[] = {
      {"a file in the way of a parent", tmp.file("blocker/a/T"), ENOTDIR, {}},
      {"a name too long under a folder it made", tmp.file("new/" + std::string(300, 'x') + "/T"), ENAMETOOLONG,
       {tmp.file("new")}},
      {"an empty path", "", ENOENT, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> created;
    std::string failure;
    EXPECT_FALSE(MakeFolder(c.path, &created, &failure)) << c.name;
    EXPECT_EQ(failure, std::strerror(c.error)) << c.name;
    EXPECT_EQ(created, c.made) << c.name;
    RemoveEmptyFolders(created);
    EXPECT_FALSE(fs::exists(tmp.file("new"))) << c.name;
  }
  std::string failure = "kept";
  EXPECT_TRUE(MakeFolder(tmp.file("made"), nullptr, &failure));
  EXPECT_EQ(failure, "kept");
}

TEST(FolderCommandsTest, TheEmptinessCheckSaysWhenItCannotRead) {
  TempFolder tmp;
  fs::create_directories(tmp.file("empty"));
  fs::create_directories(tmp.file("full/sub"));
  WriteFileText(tmp.file("file"), "x");
  fs::create_directories(tmp.file("noread"));
  fs::permissions(tmp.file("noread"), fs::perms::owner_write | fs::perms::owner_exec);
  // Where permissions do not bite (run as root), the folder reads after all.
  const bool permissionsBite = access(tmp.file("noread").c_str(), R_OK) != 0;
  const struct Case {
    const char* name;
    std::string path;
    bool missingOrEmpty;
    std::string unreadable;
  } cases[] = {
      {"nothing there", tmp.file("missing"), true, ""},
      {"a file in the way of a parent", tmp.file("file/T"), true, ""},
      {"an empty folder", tmp.file("empty"), true, ""},
      {"an empty folder, program spelling", tmp.path() + "\\empty\\", true, ""},
      {"a folder that holds a folder", tmp.file("full"), false, ""},
      {"a file", tmp.file("file"), false, ""},
      {"an empty path", "", false, ""},
      {"a name too long", tmp.file(std::string(300, 'x')), false, std::strerror(ENAMETOOLONG)},
      {"a folder without read permission", tmp.file("noread"), false, std::strerror(EACCES)},
  };
  for (const Case& c : cases) {
    if (c.unreadable == std::strerror(EACCES) && !permissionsBite) continue;
    std::string unreadable = "stale";
    EXPECT_EQ(IsMissingOrEmptyFolder(c.path, &unreadable), c.missingOrEmpty) << c.name;
    EXPECT_EQ(unreadable, c.unreadable) << c.name;
  }
  fs::permissions(tmp.file("noread"), fs::perms::owner_all);
}

TEST(FolderCommandsTest, WithNoDescriptorLeftTheCheckSaysSoAndCreatedFoldersStillGo) {
  TempFolder tmp;
  std::vector<std::string> created;
  ASSERT_TRUE(MakeFolder(tmp.file("a/b"), &created));
  const ProcessResult r = RunInChild([&] {
    // The lowest free descriptor becomes the limit: no file or folder opens any more.
    const int lowest = dup(0);
    close(lowest);
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(lowest);
    if (lowest < 0 || setrlimit(RLIMIT_NOFILE, &limit) != 0) _exit(2);
    std::string unreadable;
    const bool empty = IsMissingOrEmptyFolder(tmp.file("a/b"), &unreadable);
    RemoveEmptyFolders(created);
    std::printf("%d %s\n", empty ? 1 : 0, unreadable.c_str());
    std::fflush(stdout);
    _exit(0);
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("0 ") + std::strerror(EMFILE) + "\n");
  EXPECT_FALSE(fs::exists(tmp.file("a")));
}

TEST(FolderCommandsTest, RmdirRemovesATreeAndDelRemovesAFile) {
  TempFolder tmp;
  fs::create_directories(tmp.path() + "/x/y");
  WriteFileText(tmp.path() + "/x/y/f.txt", "data");
  WriteFileText(tmp.path() + "/log.txt", "old");
  EXPECT_EQ(RunFolderCommand("rmdir /s /q " + tmp.path() + "\\x"), 0);
  EXPECT_FALSE(fs::exists(tmp.path() + "/x"));
  EXPECT_EQ(RunFolderCommand("del " + tmp.path() + "\\log.txt"), 0);
  EXPECT_FALSE(fs::exists(tmp.path() + "/log.txt"));
  // Removing what is not there is quiet success, as "rmdir /q" and "del" would be.
  EXPECT_EQ(RunFolderCommand("rmdir /s /q " + tmp.path() + "/x"), 0);
}

TEST(FolderCommandsTest, RefusesToRemoveEmptyRootOrWorkingFolder) {
  TempFolder tmp;
  std::string keep = tmp.file("keep.txt");
  WriteFileText(keep, "x");
  fs::path before = fs::current_path();
  fs::current_path(tmp.path());
  const char* unsafe[] = {"", " ", "/", "\\", ".", "..", "./", "sub/.."};
  for (const char* path : unsafe) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(RemoveFolderTree(path)) << '"' << path << '"';
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Refusing to remove folder"), std::string::npos) << path;
  }
  testing::internal::CaptureStderr();
  EXPECT_NE(RunFolderCommand("rmdir /s /q "), 0);
  EXPECT_NE(RunFolderCommand("rmdir /s /q \\"), 0);
  testing::internal::GetCapturedStderr();
  fs::current_path(before);
  EXPECT_TRUE(fs::exists(keep));
}

TEST(FolderCommandsTest, UnknownCommandFails) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunFolderCommand("format c:"), 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Unknown folder command"), std::string::npos);
}

TEST(FolderCommandsTest, EmptySubfoldersGoDeepestFirstAndTheFolderStays) {
  TempFolder tmp;
  const std::string t = tmp.file("t");
  fs::create_directories(t + "/1/top/0_1/1_1");
  fs::create_directories(t + "/1/labels");
  fs::create_directories(t + "/2");
  WriteFileText(t + "/1/labels/I00000.3dm", "x");
  fs::create_directories(tmp.file("elsewhere/empty"));
  fs::create_directory_symlink(tmp.file("elsewhere"), t + "/link");
  RemoveEmptySubfolders(t);
  EXPECT_EQ(TreeContents(t), (std::map<std::string, std::string>{
                                 {"1", "<folder>"}, {"1/labels", "<folder>"}, {"1/labels/I00000.3dm", "x"},
                                 {"link", "<link>"}}));
  EXPECT_TRUE(fs::is_directory(tmp.file("elsewhere/empty")));  // links are not followed
  fs::remove(t + "/link");
  fs::remove_all(t + "/1");
  RemoveEmptySubfolders(t);
  EXPECT_TRUE(fs::is_directory(t));
  RemoveEmptySubfolders(tmp.file("missing"));
}

TEST(FolderCommandsTest, InsideAFolderFollowsLinksAndDotDots) {
  TempFolder tmp;
  fs::create_directories(tmp.file("m/appearance"));
  fs::create_directories(tmp.file("other"));
  fs::create_directory_symlink("m", tmp.file("m-link"));
  fs::create_directory_symlink("m/appearance", tmp.file("into-m"));
  fs::create_directory_symlink("../other", tmp.file("m/out"));
  const struct Case {
    std::string path;
    std::string folder;
    bool inside;
  } cases[] = {
      {tmp.file("m/appearance/clf"), tmp.file("m"), true},
      {tmp.file("m/new.img"), tmp.file("m"), true},
      {tmp.file("m/not/made/yet.3dm"), tmp.file("m"), true},
      {tmp.path() + "\\m\\appearance\\known.3dm", tmp.file("m"), true},
      {tmp.file("other/../m/x.img"), tmp.file("m"), true},
      {tmp.file("into-m/x.img"), tmp.file("m"), true},
      {tmp.file("m/x.img"), tmp.file("m-link"), true},
      {tmp.file("m"), tmp.file("m"), true},  // a file in the folder's place would replace it
      {tmp.file("m/out/new.3dm"), tmp.file("m"), true},  // inside as written, though the link leads out
      {tmp.file("m/out/../x.img"), tmp.file("m"), true},
      {tmp.file("mx/a.img"), tmp.file("m"), false},
      {tmp.file("other/a.img"), tmp.file("m"), false},
      {tmp.file("m/../other/a.img"), tmp.file("m"), false},
      {"", tmp.file("m"), false},
      {tmp.file("m/a.img"), "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}
