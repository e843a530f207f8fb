#pragma once
// What every booster of the library keeps alike, written once as type-parameterised
// tests: the draws of construction, training, cloning and reading, the round limits
// that train nothing, and the records that do not read. A test file instantiates
// them for its booster with a kind that names what differs:
//
//   struct Kind {
//     using Booster = ...;  // the booster class
//     using Set = ...;      // the sample set it trains on
//     struct Scope { ... }; // held for each test: settings the sets need
//     // The file's training set (features not cached), trained for kRounds rounds at
//     // most, keeps kKept members.
//     static std::unique_ptr<Set> TrainingSet();
//     static constexpr int kRounds, kKept;
//     // One feature: class 0 (positives) {1, 2}, class 1 (negatives) {3, 4}.
//     static std::unique_ptr<Set> Separable();
//     // Samples of both classes, equally weighted, without a feature.
//     static std::unique_ptr<Set> WithoutFeatures();
//     // Trains for at most `rounds` rounds (caching the features first where the
//     // booster wants them cached) and returns the training error.
//     static double Train(Booster&, Set&, int rounds, const std::string& logName);
//     // Draws that constructing one member takes (a candidate is such a member too).
//     static int DrawsPerMember(const Booster& trained);
//     // Bytes of the record after the last member.
//     static constexpr size_t kTrailerBytes;
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, PbtBoosterContractTest, Kind);
//
// Every record starts with a float32 and the int32 member count at offset 4.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "platform/BinaryReader.h"

template <typename Kind>
class PbtBoosterContractTest : public testing::Test {
 protected:
  double train(typename Kind::Booster& booster, typename Kind::Set& set, int rounds) {
    return Kind::Train(booster, set, rounds, tmp.file("log.txt"));
  }

  typename Kind::Scope scope;
  TempFolder tmp;
};

TYPED_TEST_SUITE_P(PbtBoosterContractTest);

// Construction takes no draw. Training constructs one candidate per feature and one
// copy per kept member; clone() and reading construct one member per member; each of
// these takes a member's draws.
TYPED_TEST_P(PbtBoosterContractTest, DrawsOfConstructionTrainingCloneAndReading) {
  auto draws = [] { return UniformRandomDrawCountForTesting(); };
  std::unique_ptr<typename TypeParam::Set> set = TypeParam::TrainingSet();
  ResetUniformRandomForTesting();
  typename TypeParam::Booster booster;
  EXPECT_EQ(draws(), 0);
  this->train(booster, *set, TypeParam::kRounds);
  ASSERT_EQ(booster.numWeak(), TypeParam::kKept);
  const long long perMember = TypeParam::DrawsPerMember(booster);
  EXPECT_EQ(draws(), perMember * (set->numFeatures() + TypeParam::kKept));
  const long long trained = draws();
  const std::string rec = RecordBytes(booster);
  std::unique_ptr<PbtClassifier> copy(booster.clone());
  EXPECT_EQ(draws(), trained + perMember * TypeParam::kKept);
  EXPECT_EQ(RecordBytes(*copy), rec);
  typename TypeParam::Booster back;
  ASSERT_TRUE(ReadWholeRecord(back, rec));
  EXPECT_EQ(draws(), trained + 2 * perMember * TypeParam::kKept);
  EXPECT_EQ(RecordBytes(back), rec);
}

// A limit of no rounds, or a negative one, leaves the booster empty; so does a set
// without features (no candidate). The empty booster is wrong on one of the two
// equally weighted classes.
TYPED_TEST_P(PbtBoosterContractTest, NoRoundLimitOrNoFeatureTrainsNothing) {
  for (int limit : {0, -1}) {
    std::unique_ptr<typename TypeParam::Set> set = TypeParam::Separable();
    typename TypeParam::Booster booster;
    EXPECT_DOUBLE_EQ(this->train(booster, *set, limit), 0.5) << "limit " << limit;
    EXPECT_EQ(booster.numWeak(), 0) << "limit " << limit;
  }
  std::unique_ptr<typename TypeParam::Set> none = TypeParam::WithoutFeatures();
  typename TypeParam::Booster booster;
  EXPECT_DOUBLE_EQ(this->train(booster, *none, TypeParam::kRounds), 0.5) << "no feature";
  EXPECT_EQ(booster.numWeak(), 0) << "no feature";
}

// A member count that does not match the members stored, a record that ends early and
// a last member that does not read: the read fails, the reader is left failed and the
// booster as it was.
TYPED_TEST_P(PbtBoosterContractTest, ForgedOrShortRecordsDoNotRead) {
  std::unique_ptr<typename TypeParam::Set> set = TypeParam::TrainingSet();
  typename TypeParam::Booster trained;
  this->train(trained, *set, TypeParam::kRounds);
  ASSERT_GE(trained.numWeak(), 2);
  // The leading float (threshold or offset) made 2.5, so a read that took it would show.
  std::string rec = RecordBytes(trained);
  const float leading = 2.5f;
  std::memcpy(&rec[0], &leading, 4);
  const size_t first = 8 + RecordBytes(*trained.members[0]).size();  // end of the first member
  // The last member's feature description without its NUL: every count fits, the
  // members before it read.
  std::string unterminated = rec;
  const size_t last = rec.size() - TypeParam::kTrailerBytes - RecordBytes(*trained.members.back()).size();
  std::memset(&unterminated[last + 1], 'x', 100);
  auto withCount = [&](int32_t n) {
    std::string r = rec;
    std::memcpy(&r[4], &n, 4);
    return r;
  };
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"one byte of the count", rec.substr(0, 5)},
      {"two bytes of the count", rec.substr(0, 6)},
      {"negative count", withCount(-1)},
      {"one member more than stored", withCount(trained.numWeak() + 1)},
      {"huge count", withCount(0x7fffffff)},
      {"count 2^30", withCount(1 << 30)},
      {"cut inside the first member's feature", rec.substr(0, 8 + 100)},
      {"first member one byte short", rec.substr(0, first - 1)},
      {"cut inside the second member", rec.substr(0, first + 100)},
      {"last member one byte short", rec.substr(0, rec.size() - TypeParam::kTrailerBytes - 1)},
      {"last member's description unterminated", unterminated},
  };
  for (const Case& c : cases) {
    typename TypeParam::Booster booster;
    booster.members.push_back(trained.members[0]->clone());
    const std::string before = RecordBytes(booster);
    std::istringstream in(c.bytes);
    BinaryReader r(in);
    EXPECT_FALSE(booster.read(r)) << c.name;
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_EQ(RecordBytes(booster), before) << c.name;
  }
}

REGISTER_TYPED_TEST_SUITE_P(PbtBoosterContractTest, DrawsOfConstructionTrainingCloneAndReading,
                            NoRoundLimitOrNoFeatureTrainsNothing, ForgedOrShortRecordsDoNotRead);
