#include "platform/FolderCommands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestSupport.h"

namespace fs = std::filesystem;

TEST(FolderCommandsTest, MkdirReadsBackslashesAndMakesParents) {
  TempFolder tmp;
  EXPECT_EQ(RunFolderCommand("mkdir " + tmp.path() + "\\a\\b\\c"), 0);
  EXPECT_TRUE(fs::is_directory(tmp.path() + "/a/b/c"));
  // Again: the folder exists, which is success for the program.
  EXPECT_EQ(RunFolderCommand("mkdir       " + tmp.path() + "/a/b/c"), 0);
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
