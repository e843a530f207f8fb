#include "numerics/UniformRandom.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <cstdint>

#include "RandomReference.h"
#include "TestSupport.h"

TEST(UniformRandomTest, FreshSequenceStartsWithTheKnownValues) {
  ResetUniformRandomForTesting();
  EXPECT_EQ(UniformRandom(&gUniformRandomSeed), 0.41599935f);
  EXPECT_EQ(UniformRandom(&gUniformRandomSeed), 0.09196489f);
  EXPECT_EQ(UniformRandom(&gUniformRandomSeed), 0.75641048f);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);
}

TEST(UniformRandomTest, FirstThousandDrawsMatchAnIndependentReference) {
  const int count = 1000;
  std::string script = std::string(kPythonReferenceGenerator) +
                       "import sys\nprint('\\n'.join(repr(draw()) for _ in range(int(sys.argv[1]))))\n";
  ProcessResult py = RunPython(script, {std::to_string(count)});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  ResetUniformRandomForTesting();
  int compared = 0;
  for (std::string line; std::getline(lines, line); ++compared) {
    float expected = static_cast<float>(std::strtod(line.c_str(), nullptr));
    ASSERT_EQ(UniformRandom(&gUniformRandomSeed), expected) << "draw " << compared;
  }
  EXPECT_EQ(compared, count);
}

TEST(UniformRandomTest, SeedWordIsNormalisedOnInitialisation) {
  // The start-up seed 999 and any other positive seed initialise from 1; a negative
  // seed initialises from its negation and reinitialises even after start-up.
  ResetUniformRandomForTesting();
  std::vector<float> fromStart{UniformRandom(&gUniformRandomSeed), UniformRandom(&gUniformRandomSeed)};

  ResetUniformRandomForTesting();
  int seed = 12345;
  EXPECT_EQ(UniformRandom(&seed), fromStart[0]);
  EXPECT_EQ(UniformRandom(&seed), fromStart[1]);

  int negativeOne = -1;
  EXPECT_EQ(UniformRandom(&negativeOne), fromStart[0]);  // reinitialised from 1
  int lowest = INT32_MIN;                                 // has no negation: taken as 1
  EXPECT_EQ(UniformRandom(&lowest), fromStart[0]);
  EXPECT_GT(lowest, 0);
}

TEST(UniformRandomTest, HolderDrawsOnConstructionButNotOnCopy) {
  ResetUniformRandomForTesting();
  RandomUniform r;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 1);
  EXPECT_EQ(r.value, static_cast<double>(0.41599935f));
  RandomUniform copy(r);
  RandomUniform assigned;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  assigned = r;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  EXPECT_EQ(copy.value, r.value);
  EXPECT_EQ(assigned.value, r.value);
  EXPECT_EQ(r.Draw(), static_cast<double>(0.75641048f));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);
}

TEST(UniformRandomTest, HolderBuiltWithoutDrawTakesNoneAndDrawsAfresh) {
  ResetUniformRandomForTesting();
  RandomUniform quiet{WithoutDraw{}};
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
  EXPECT_EQ(quiet.value, 0.0);
  // Its first draw is the sequence's first value.
  EXPECT_EQ(quiet.Draw(), static_cast<double>(0.41599935f));
}

TEST(UniformRandomTest, ThreadCountHoldsOnlyTheCallingThreadsDraws) {
  ResetUniformRandomForTesting();
  const long long mine = UniformRandomThreadDrawCountForTesting();
  UniformRandom(&gUniformRandomSeed);
  long long other = -1;
  std::thread([&other] {
    UniformRandom(&gUniformRandomSeed);
    UniformRandom(&gUniformRandomSeed);
    other = UniformRandomThreadDrawCountForTesting();
  }).join();
  EXPECT_EQ(other, 2);
  EXPECT_EQ(UniformRandomThreadDrawCountForTesting() - mine, 1);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);
}
