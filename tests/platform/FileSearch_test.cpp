#include "platform/FileSearch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "TestSupport.h"

TEST(FileSearchTest, WildcardMatching) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.3dm", "I00001.3dm", true},  {"*.3dm", "I00001.3dmx", false}, {"*", "anything", true},
      {"*_label.3dm", "I00001_label.3dm", true}, {"*_label.3dm", "I00001.3dm", false},
      {"a?c", "abc", true},           {"a?c", "ac", false},            {"*.*", "noext", false},
  };
  for (const Case& c : cases) EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
}

TEST(FileSearchTest, ListsSortedMatchesThroughBackslashedPattern) {
  TempFolder tmp;
  for (const char* n : {"b.3dm", "a.3dm", "B.3dm", "c.txt", "a.3dmx"}) WriteFileText(tmp.file(n), "");
  std::filesystem::create_directory(tmp.file("d.3dm"));
  std::vector<std::string> names = FindFiles(tmp.path() + "\\*.3dm");
  EXPECT_EQ(names, (std::vector<std::string>{"B.3dm", "a.3dm", "b.3dm", "d.3dm"}));
  EXPECT_TRUE(FindFiles(tmp.path() + "/missing/*.3dm").empty());
}

TEST(FileSearchTest, FilesUnderAFolderAreListedWithTheirFolders) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp.file("m/appearance/empty"));
  for (const char* n : {"m/appearance/clf", "m/appearance/clf1", "m/setting.txt"}) WriteFileText(tmp.file(n), "");
  std::filesystem::create_symlink("setting.txt", tmp.file("m/link"));
  EXPECT_EQ(FilesUnder(tmp.file("m")),
            (std::vector<std::string>{tmp.file("m") + "/appearance/clf", tmp.file("m") + "/appearance/clf1",
                                      tmp.file("m") + "/link", tmp.file("m") + "/setting.txt"}));
  EXPECT_TRUE(FilesUnder(tmp.file("missing")).empty());
}

// A linked folder is entered once, under the first path that reaches it in byte order;
// links back to a folder already listed (a cycle) end the walk instead of repeating it.
TEST(FileSearchTest, FilesUnderEntersLinkedFoldersOnceEachAndNamesWhereTheyLead) {
  TempFolder tmp;
  std::filesystem::create_directories(tmp.file("m"));
  std::filesystem::create_directories(tmp.file("shared"));
  WriteFileText(tmp.file("m/setting.txt"), "");
  WriteFileText(tmp.file("shared/known.3dm"), "");
  std::filesystem::create_directory_symlink("../shared", tmp.file("m/a"));
  std::filesystem::create_directory_symlink("../shared", tmp.file("m/b"));  // a second link to it
  std::filesystem::create_directory_symlink(".", tmp.file("m/self"));       // to the folder holding it
  std::filesystem::create_directory_symlink("..", tmp.file("shared/up"));   // to the folder above both
  // In a child, so that a walk that does not end fails the test instead of hanging it.
  const ProcessResult walk = RunInChild([&] {
    std::vector<std::string> linked;
    for (const std::string& file : FilesUnder(tmp.file("m"), &linked)) std::printf("file %s\n", file.c_str());
    for (const std::string& folder : linked) std::printf("linked %s\n", folder.c_str());
    std::fflush(stdout);
    _exit(0);
  });
  ASSERT_EQ(walk.status, 0) << "the walk did not end";
  const std::string top = std::filesystem::canonical(tmp.path()).string();
  EXPECT_EQ(walk.out, "file " + tmp.file("m") + "/a/known.3dm\nfile " + tmp.file("m") + "/setting.txt\n" +
                          "linked " + top + "/shared\nlinked " + top + "\n");
}
