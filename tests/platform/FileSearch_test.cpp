#include "platform/FileSearch.h"

#include <gtest/gtest.h>

#include <filesystem>

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
