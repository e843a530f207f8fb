#include "platform/FolderCommands.h"

#include <gtest/gtest.h>

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

  // A trailing separator names the same folders, each once, and all of them go.
  for (const char* end : {"/", "\\"}) {
    created.clear();
    ASSERT_TRUE(MakeFolder(tmp.path() + "/kept/c/d" + end, &created)) << end;
    EXPECT_EQ(created.size(), 2u) << end;
    RemoveEmptyFolders(created);
    EXPECT_FALSE(fs::exists(tmp.path() + "/kept/c")) << end;
  }
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
