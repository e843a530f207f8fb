#include "pbt/PbtBooster.h"

#include <gtest/gtest.h>

#include <memory>

#include "PbtTestSets.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtOrBoost.h"
#include "pbt/PbtTreeWeak.h"

namespace {

PbtAdaWeak* Stump(int feature) {
  PbtAdaWeak* s = new PbtAdaWeak();
  s->fid.params[0] = feature;
  return s;
}

std::vector<int> FeatureNumbers(const PbtClassifier& c) {
  std::vector<PbtFid> features;
  c.collectFeatures(features);
  std::vector<int> numbers;
  for (const PbtFid& f : features) numbers.push_back(f.params[0]);
  return numbers;
}

}  // namespace

TEST(PbtBoosterTest, MemberOperationsOverMixedAndMissingMembers) {
  PbtAdaBoost booster;
  EXPECT_EQ(booster.numWeak(), 0);
  EXPECT_TRUE(FeatureNumbers(booster).empty());
  booster.clear();
  EXPECT_EQ(booster.numWeak(), 0);

  // A stump, a null entry, a disjunction of two stumps and a tree of three.
  PbtOrBoost* disjunction = new PbtOrBoost();
  disjunction->members = {Stump(2), Stump(3)};
  PbtTreeWeak* tree = new PbtTreeWeak();
  tree->root = Stump(4);
  tree->children = {new PbtTreeWeak(), new PbtTreeWeak()};
  tree->children[0]->root = Stump(5);
  tree->children[1]->root = Stump(6);
  booster.members = {Stump(1), nullptr, disjunction, tree};
  booster.alphas = {1.0f, 2.0f, 3.0f, 4.0f};
  booster.offset = 5.0f;
  EXPECT_EQ(booster.numWeak(), 4);
  EXPECT_EQ(FeatureNumbers(booster), (std::vector<int>{1, 2, 3, 4, 5, 6}));

  // A clone is deep: its members are copies, alphas and offset come along.
  std::unique_ptr<PbtAdaBoost> copy(static_cast<PbtAdaBoost*>(booster.clone()));
  EXPECT_EQ(copy->members[1], nullptr);
  EXPECT_NE(copy->members[2], booster.members[2]);
  EXPECT_EQ(FeatureNumbers(*copy), FeatureNumbers(booster));
  EXPECT_EQ(copy->alphas, booster.alphas);
  EXPECT_EQ(copy->offset, 5.0f);

  // clear deletes the members (the leak checker watches) and keeps alphas and offset.
  booster.clear();
  EXPECT_EQ(booster.numWeak(), 0);
  EXPECT_EQ(booster.alphas.size(), 4u);
  EXPECT_EQ(booster.offset, 5.0f);
  EXPECT_TRUE(FeatureNumbers(booster).empty());
  *copy = *copy;  // self-assignment keeps everything
  EXPECT_EQ(copy->numWeak(), 4);
}
