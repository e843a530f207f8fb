#include "models/LiftFactors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/FolderCommands.h"

namespace {

const char* const kPath = "m\\prob_lift.txt";

TEST(LiftFactors, PairsSetTheFactorsOfTheClassesTheyName) {
  const struct Case {
    const char* name;
    const char* text;
    std::vector<double> lift;  // for 3 classes
  } cases[] = {
      {"no pairs", "", {1.0, 1.0, 1.0}},
      {"blanks only", " \n\t\n", {1.0, 1.0, 1.0}},
      {"one class lifted", "2 1.5\n", {1.0, 1.0, 1.5}},
      {"a class outside is ignored but counts as a read", "7 9.0\n1 3.0\n0 2\n5 5\n", {2.0, 3.0, 1.0}},
      {"negative and 32-bit-overflowing classes are ignored", "-1 2\n99999999999 4\n1 0.5\n", {1.0, 0.5, 1.0}},
      {"the last factor of a class wins", "1 9\n1 3\n", {1.0, 3.0, 1.0}},
      {"what follows the third pair is not read", "0 2\n1 2\n2 2\ngarbage nan\n", {2.0, 2.0, 2.0}},
      {"the factor's own forms", "0 0x1p1\n1 2.5e-1\n2 +4\n", {2.0, 0.25, 4.0}},
      {"a factor is a float", "0 0.1\n", {static_cast<double>(0.1f), 1.0, 1.0}},
      {"no blank needed where %d stops", "1.5\n", {1.0, 0.5, 1.0}},
  };
  for (const auto& c : cases) {
    VectorQo<double> lift;
    std::string error;
    ASSERT_TRUE(ParseLiftFactors(c.text, 3, kPath, lift, &error)) << c.name << ": " << error;
    ASSERT_EQ(ElementCount(lift), 3) << c.name;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(lift[i], c.lift[i]) << c.name << " class " << i;
  }
}

TEST(LiftFactors, BadFactorsAndCutPairsAreRefusedWithOneLine) {
  const std::string bad = " in m\\prob_lift.txt: it must be finite and positive";
  const struct Case {
    const char* name;
    const char* text;
    std::string error;
  } cases[] = {
      {"NaN", "1 nan\n", "invalid lift factor nan of class 1" + bad},
      {"NaN with a tag", "1 NAN(7)\n", "invalid lift factor NAN(7) of class 1" + bad},
      {"infinite", "0 inf\n", "invalid lift factor inf of class 0" + bad},
      {"beyond float", "0 1e39\n", "invalid lift factor 1e39 of class 0" + bad},
      {"negative", "2 -0.5\n", "invalid lift factor -0.5 of class 2" + bad},
      {"zero", "0 1\n1 0.0\n", "invalid lift factor 0.0 of class 1" + bad},
      {"below float", "0 1e-50\n", "invalid lift factor 1e-50 of class 0" + bad},
      {"on an ignored class too", "9 nan\n", "invalid lift factor nan of class 9" + bad},
      {"a class without its factor", "0 2\n1", "Cannot read the lift factor of class 1 in m\\prob_lift.txt"},
      {"a class and text", "0 x\n", "Cannot read the lift factor of class 0 in m\\prob_lift.txt"},
      {"text where a pair starts", "1 3.0\nlift\n0 100.0\n",
       "Cannot read a class and a lift factor at \"lift?0 100.0?\" in m\\prob_lift.txt"},
      {"a sign alone", "- 1\n", "Cannot read a class and a lift factor at \"- 1?\" in m\\prob_lift.txt"},
      {"long text is cut in the message", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\n",
       "Cannot read a class and a lift factor at \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\" in m\\prob_lift.txt"},
  };
  for (const auto& c : cases) {
    VectorQo<double> lift(2, 7.0);
    std::string error;
    EXPECT_FALSE(ParseLiftFactors(c.text, 3, kPath, lift, &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_EQ(ElementCount(lift), 2) << c.name;  // unchanged
  }
}

TEST(LiftFactors, FileThatIsMissingIsOneEverywhereAndOthersMustBeRegularAndSmall) {
  TempFolder tmp;
  const std::string path = tmp.file("prob_lift.txt");
  VectorQo<double> lift;
  std::string error;
  ASSERT_TRUE(ReadLiftFactors(path, 2, lift, &error));
  ASSERT_EQ(ElementCount(lift), 2);
  EXPECT_EQ(lift[0], 1.0);
  EXPECT_EQ(lift[1], 1.0);

  WriteFileText(path, "1 2.0\n");
  ASSERT_TRUE(ReadLiftFactors(path, 2, lift, &error));
  EXPECT_EQ(lift[1], 2.0);

  WriteFileText(path, std::string(kMaxLiftFileBytes + 1, ' '));
  EXPECT_FALSE(ReadLiftFactors(path, 2, lift, &error));
  EXPECT_EQ(error, "Cannot read the lift factors " + path + ": larger than 1048576 bytes");

  DeleteFileAt(path);
  MakeFolder(path);
  EXPECT_FALSE(ReadLiftFactors(path, 2, lift, &error));
  EXPECT_EQ(error, "Cannot read the lift factors " + path + ": not a regular file");
}

}  // namespace
