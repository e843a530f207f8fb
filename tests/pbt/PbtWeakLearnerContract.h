#pragma once
// The contract every single-feature weak learner of the two-class boosters keeps,
// written once as type-parameterised tests. A test file instantiates them for its
// learner with a kind that names what differs:
//
//   struct Kind {
//     using Learner = ...;      // the learner class
//     using Params = ...;       // its training record (has fid and featureIndex)
//     using OtherParams = ...;  // a parameter record of another learner
//     static constexpr const char* kName;       // class name that opens its fatal messages
//     static constexpr const char* kCountName;  // name of the resolution parameter
//     static constexpr int Params::*kCount;     // that parameter
//     static constexpr int kMaxCount;           // its largest accepted value
//     static constexpr int kDrawsPerConstruction;
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, PbtWeakLearnerContractTest, Kind);
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, PbtWeakLearnerContractDeathTest, Kind);
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "PbtTestSets.h"
#include "numerics/UniformRandom.h"

// One feature, positives {1, 2}, negatives {3, 4}, features cached, and a training
// record for the feature with a resolution of 30.
template <typename Kind>
class PbtWeakLearnerContractTest : public testing::Test {
 protected:
  PbtWeakLearnerContractTest() : set(VectorSampleSet::singleFeature({1, 2}, {3, 4})) {
    set->calculateAllFeatures();
    params.*Kind::kCount = 30;
    params.featureIndex = 0;
    params.fid = set->tableSample()->featurePool[0];
  }

  std::unique_ptr<VectorSampleSet> set;
  typename Kind::Params params;
};

template <typename Kind>
class PbtWeakLearnerContractDeathTest : public PbtWeakLearnerContractTest<Kind> {};

TYPED_TEST_SUITE_P(PbtWeakLearnerContractTest);
TYPED_TEST_SUITE_P(PbtWeakLearnerContractDeathTest);

// Every construction (constructor, clone, create) takes the learner's draws; training,
// reading a record and assignment take none.
TYPED_TEST_P(PbtWeakLearnerContractTest, EveryConstructionTakesItsDraws) {
  using Learner = typename TypeParam::Learner;
  const long long n = TypeParam::kDrawsPerConstruction;
  auto draws = [] { return UniformRandomDrawCountForTesting(); };
  ResetUniformRandomForTesting();
  Learner learner;
  EXPECT_EQ(draws(), n);
  std::unique_ptr<PbtClassifier> copy(learner.clone());
  EXPECT_EQ(draws(), 2 * n);
  std::unique_ptr<PbtClassifier> fresh(learner.create());
  EXPECT_EQ(draws(), 3 * n);
  Learner& other = static_cast<Learner&>(*fresh);
  other.train(this->set.get(), &this->params);
  EXPECT_TRUE(ReadRecord(other, RecordBytes(learner)));
  other = learner;
  EXPECT_EQ(draws(), 3 * n);
}

TYPED_TEST_P(PbtWeakLearnerContractDeathTest, TrainingOutsideItsContractEndsTheRun) {
  const std::string name = TypeParam::kName;
  typename TypeParam::Learner learner;
  for (int n : {0, -1, TypeParam::kMaxCount + 1}) {
    this->params.*TypeParam::kCount = n;
    EXPECT_EXIT(learner.train(this->set.get(), &this->params), testing::ExitedWithCode(1),
                "^" + name + ": " + TypeParam::kCountName + " " + std::to_string(n) + " outside 1.." +
                    std::to_string(TypeParam::kMaxCount) + "\n$");
  }
  this->params.*TypeParam::kCount = 30;
  this->params.featureIndex = 1;
  EXPECT_EXIT(learner.train(this->set.get(), &this->params), testing::ExitedWithCode(1),
              "^" + name + ": feature row 1 is not among the set's 1 features\n$");
  this->params.featureIndex = 0;
  this->set->freeFeatures();
  EXPECT_EXIT(learner.train(this->set.get(), &this->params), testing::ExitedWithCode(1),
              "^" + name + ": the sample set's features are not cached\n$");
  typename TypeParam::OtherParams wrong;
  EXPECT_EXIT(learner.train(this->set.get(), &wrong), testing::ExitedWithCode(1),
              "^" + name + ": training needs a " + name + "Params record\n$");
}

REGISTER_TYPED_TEST_SUITE_P(PbtWeakLearnerContractTest, EveryConstructionTakesItsDraws);
REGISTER_TYPED_TEST_SUITE_P(PbtWeakLearnerContractDeathTest, TrainingOutsideItsContractEndsTheRun);
