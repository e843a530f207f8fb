#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "volume/FolderLayout.h"

namespace {

// Case-file names are stored and compared as formatted: the folder as given (backslashes
// kept), one "/", "I", the case number padded to five digits, the ending.
TEST(FolderLayout, CaseFileNamesAsFormatted) {
  struct Case {
    const char* name;
    std::string folder;
    int caseNumber;
    std::string ending;
    const char* expected;
  };
  const Case cases[] = {
      {"volume", "target", 0, layout::kCaseVolumeEnding, "target/I00000.3dm"},
      {"labels in a backslashed folder", "out\\1\\labels", 12, layout::kCaseLabelsEnding,
       "out\\1\\labels/I00012_label.3dm"},
      {"atlas header", "t", 99999, layout::kCaseAtlasHeaderEnding, "t/I99999_atlas.hdr"},
      {"six digits are not cut", "t", 123456, layout::kCaseBootstrapEnding, "t/I123456_bstp.3dm"},
      {"negative number", "t", -3, layout::kCaseTwoClassMapEnding, "t/I-0003_prob.3dm"},
      {"longest number", "t", INT_MIN, layout::kCaseVolumeEnding, "t/I-2147483648.3dm"},
      {"empty folder", "", 7, layout::kCaseAtlasImageEnding, "/I00007_atlas.img"},
  };
  for (const Case& c : cases) EXPECT_EQ(layout::CaseFile(c.folder, c.caseNumber, c.ending), c.expected) << c.name;
}

TEST(FolderLayout, CaseMapFileNamesTheClass) {
  EXPECT_EQ(layout::CaseMapFile("t\\2", 4, 2), "t\\2/I00004_2_prob.3dm");
  EXPECT_EQ(layout::CaseMapFile("t", 0, 252), "t/I00000_252_prob.3dm");
  EXPECT_EQ(layout::CaseMapFile("t", INT_MIN, INT_MIN), "t/I-2147483648_-2147483648_prob.3dm");
}

}  // namespace
