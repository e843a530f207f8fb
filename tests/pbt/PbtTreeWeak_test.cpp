#include "pbt/PbtTreeWeak.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtStumpBins.h"

namespace {

// Feature 0 is constant (its stump is degenerate and never best); on feature 1 the
// positives lie between two groups of negatives, so one stump cannot separate them
// and a tree of depth 2 can.
VectorSampleSet* MiddleSet() {
  return new VectorSampleSet({{7, 2}, {7, 3}}, {{7, 0}, {7, 1}, {7, 4}, {7, 5}, {7, 6}});
}

PbtAdaWeakParams Depth(int treeDepth) {
  PbtAdaWeakParams p;
  p.treeDepth = treeDepth;
  return p;
}

// Every sample's probability and in-set decision against its class.
void ExpectSeparates(PbtTreeWeak& tree, VectorSampleSet& set) {
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < set.numSamples(positive); ++i) {
      EXPECT_EQ(tree.classifyInSet(&set, positive, i), positive ? 1.0f : -1.0f) << positive << " " << i;
    }
  }
  set.freeFeatures();
  for (int positive = 1; positive >= 0; --positive) {
    for (int i = 0; i < set.numSamples(positive); ++i) {
      EXPECT_EQ(tree.probability(set.getSample(i, positive)), positive ? 1.0f : 0.0f) << positive << " " << i;
    }
  }
}

}  // namespace

TEST(PbtTreeWeakTest, DepthTwoSeparatesWhatOneStumpCannot) {
  std::unique_ptr<VectorSampleSet> set(MiddleSet());
  set->calculateAllFeatures();
  const VectorQo<double> before = set->getWeights(false);
  PbtAdaWeakParams params = Depth(2);
  PbtTreeWeak tree;
  ResetUniformRandomForTesting();
  const float err = tree.train(set.get(), &params);
  // Root and both children each train two stumps and keep one clone.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3 * (2 * 2 + 2));
  EXPECT_GT(err, 0.0f);
  ASSERT_NE(tree.root, nullptr);
  ASSERT_EQ(tree.children.size(), 2u);
  for (PbtTreeWeak* child : tree.children) {
    ASSERT_NE(child->root, nullptr);
    EXPECT_EQ(child->depth, 1);
    EXPECT_TRUE(child->children.empty());
  }
  for (int i = 0; i < 5; ++i) EXPECT_EQ(set->getWeights(false)[i], before[i]);
  std::vector<PbtFid> features;
  tree.collectFeatures(features);
  ASSERT_EQ(features.size(), 3u);
  for (const PbtFid& f : features) EXPECT_EQ(f.params[0], 1);
  ExpectSeparates(tree, *set);

  // A clone copies the whole tree: three stumps, two draws each.
  ResetUniformRandomForTesting();
  std::unique_ptr<PbtClassifier> copy(tree.clone());
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);
  EXPECT_EQ(RecordBytes(*copy), RecordBytes(tree));
}

TEST(PbtTreeWeakTest, LeavesWhereTheDepthOrAPerfectStumpEndsTheTree) {
  struct Case {
    const char* name;
    std::vector<float> pos, neg;
    int treeDepth;
  } cases[] = {
      {"depth 1", {2, 3}, {0, 1, 4, 5, 6}, 1},
      {"perfect stump", {1, 2}, {3, 4}, 3},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature(c.pos, c.neg));
    set->calculateAllFeatures();
    PbtAdaWeakParams params = Depth(c.treeDepth);
    PbtTreeWeak tree;
    tree.train(set.get(), &params);
    ASSERT_NE(tree.root, nullptr) << c.name;
    EXPECT_TRUE(tree.children.empty()) << c.name;
    // A single stump: probability by the sign of its response.
    set->freeFeatures();
    for (int positive = 1; positive >= 0; --positive) {
      for (int i = 0; i < set->numSamples(positive); ++i) {
        PbtSample* s = set->getSample(i, positive);
        EXPECT_EQ(tree.probability(s), tree.root->response(s) >= 0 ? 1.0f : 0.0f) << c.name;
      }
    }
  }
}

TEST(PbtTreeWeakTest, AnUnreachedSideStaysWithoutAStump) {
  // Every value is below the degenerate stump's threshold -1: all samples go to side 1.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({-3, -3}, {-3}));
  set->calculateAllFeatures();
  PbtAdaWeakParams params = Depth(2);
  PbtTreeWeak tree;
  EXPECT_EQ(tree.train(set.get(), &params), 0.5f);
  ASSERT_EQ(tree.children.size(), 2u);
  EXPECT_EQ(tree.children[0]->root, nullptr);
  EXPECT_NE(tree.children[1]->root, nullptr);
  // A sample the stump sends to side 0 meets the empty child: 0.0.
  std::unique_ptr<VectorSampleSet> other(VectorSampleSet::singleFeature({0}, {-3}));
  EXPECT_EQ(tree.probability(other->getSample(0, true)), 0.0f);
  // A sample sent to side 1 meets the child's (degenerate) stump, which votes for it.
  EXPECT_EQ(tree.probability(other->getSample(0, false)), 1.0f);
  other->calculateAllFeatures();
  EXPECT_EQ(tree.classifyInSet(other.get(), 1, 0), -1.0f);

  // Without a stump at all: probability and decision 0.0; posterior [1, 0].
  PbtTreeWeak empty;
  EXPECT_EQ(empty.probability(other->getSample(0, true)), 0.0f);
  EXPECT_EQ(empty.classifyInSet(other.get(), 1, 0), 0.0f);
  VectorQo<double> post;
  empty.posterior(other->getSample(0, true), post);
  EXPECT_EQ(post[0], 1.0);
  EXPECT_EQ(post[1], 0.0);
}

TEST(PbtTreeWeakTest, PosteriorFollowsTheProbability) {
  std::unique_ptr<VectorSampleSet> set(MiddleSet());
  set->calculateAllFeatures();
  PbtAdaWeakParams params = Depth(2);
  PbtTreeWeak tree;
  tree.train(set.get(), &params);
  set->freeFeatures();
  for (int positive = 1; positive >= 0; --positive) {
    VectorQo<double> post;
    tree.posterior(set->getSample(0, positive), post);
    ASSERT_EQ(post.cols, 2);
    EXPECT_EQ(post[1], positive ? 1.0 : 0.0);
    EXPECT_EQ(post[0], positive ? 0.0 : 1.0);
  }
}

TEST(PbtTreeWeakTest, RetrainingReplacesTheTreeAndAnEmptyPoolLeavesNoStump) {
  std::unique_ptr<VectorSampleSet> set(MiddleSet());
  set->calculateAllFeatures();
  PbtAdaWeakParams params = Depth(2);
  PbtTreeWeak tree;
  tree.train(set.get(), &params);
  const std::string first = RecordBytes(tree);
  tree.train(set.get(), &params);  // the first tree is released (the leak checker watches)
  EXPECT_EQ(RecordBytes(tree), first);

  VectorSampleSet noFeatures({{}}, {{}});
  noFeatures.calculateAllFeatures();
  EXPECT_EQ(tree.train(&noFeatures, &params), 1.0f);
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_TRUE(tree.children.empty());
}

TEST(PbtTreeWeakTest, RecordSizesAndRoundTrip) {
  PbtTreeWeak empty;
  EXPECT_EQ(RecordBytes(empty), std::string("\0\0\0\0\0\0\0\0\0", 9));

  std::unique_ptr<VectorSampleSet> single(VectorSampleSet::singleFeature({2, 3}, {0, 1, 4, 5, 6}));
  single->calculateAllFeatures();
  PbtAdaWeakParams one = Depth(1);
  PbtTreeWeak stump;
  stump.train(single.get(), &one);
  EXPECT_EQ(RecordBytes(stump).size(), 162u);

  std::unique_ptr<VectorSampleSet> set(MiddleSet());
  set->calculateAllFeatures();
  PbtAdaWeakParams two = Depth(2);
  PbtTreeWeak tree;
  tree.train(set.get(), &two);
  const std::string rec = RecordBytes(tree);
  ASSERT_EQ(rec.size(), 486u);
  EXPECT_EQ(rec[4], 1);  // has stump
  int32_t count;
  std::memcpy(&count, &rec[158], 4);
  EXPECT_EQ(count, 2);

  PbtTreeWeak back;
  ASSERT_TRUE(ReadWholeRecord(back, rec));
  EXPECT_EQ(RecordBytes(back), rec);
  EXPECT_EQ(back.children[1]->depth, 1);
  ExpectSeparates(tree, *set);
  set->freeFeatures();
  for (int i = 0; i < 5; ++i) {
    PbtSample* s = set->getSample(i, false);
    EXPECT_EQ(back.probability(s), tree.probability(s));
  }
  EXPECT_STREQ(back.getName(), "WeakTree");
  EXPECT_EQ(back.typeCode(), 5);
}

TEST(PbtTreeWeakTest, CorruptRecordsDoNotRead) {
  PbtTreeWeak good;
  good.root = new PbtAdaWeak();
  good.children = {new PbtTreeWeak(), new PbtTreeWeak()};
  const std::string rec = RecordBytes(good);
  ASSERT_EQ(rec.size(), 162u + 2 * 9);
  auto withCount = [&](int32_t n) {
    std::string r = rec;
    std::memcpy(&r[158], &n, 4);
    return r;
  };
  // A tree whose first children nest kMaxLevels + 1 levels deep.
  const std::string leaf(9, '\0');
  const std::string fork("\0\0\0\0\0\2\0\0\0", 9);
  std::string chain = leaf;
  for (int i = 0; i < PbtTreeWeak::kMaxLevels; ++i) chain = fork + chain + leaf;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short frame", rec.substr(0, 7)},
      {"truncated stump", rec.substr(0, 100)},
      {"truncated child", rec.substr(0, rec.size() - 3)},
      {"one child", withCount(1)},
      {"three children", withCount(3)},
      {"negative count", withCount(-2)},
      {"nested too deep", chain},
  };
  for (const Case& c : cases) {
    PbtTreeWeak t;
    t.depth = 4;
    std::istringstream in(c.bytes);
    BinaryReader r(in);
    EXPECT_FALSE(t.read(r)) << c.name;
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_EQ(t.depth, 4) << c.name;
    EXPECT_EQ(t.root, nullptr) << c.name;
  }
  // One level less reads.
  PbtTreeWeak deep;
  EXPECT_TRUE(ReadWholeRecord(deep, chain.substr(9, chain.size() - 18)));
}

TEST(PbtTreeWeakTest, SharedStumpBinsGiveTheTreesOfFreshBinning) {
  // A constant feature (degenerate), and two features whose bins the rounds share.
  const auto makeSet = [] {
    return std::unique_ptr<VectorSampleSet>(new VectorSampleSet(
        {{7, 2, 0.5f}, {7, 3, 9}, {7, 2.5f, 4}}, {{7, 0, 1}, {7, 1, 8}, {7, 4, 3.5f}, {7, 5, 2}, {7, 6, 7}}));
  };
  // Two rounds with different weights, as a boosting run gives its tree candidate.
  const auto twoRounds = [](VectorSampleSet& set, PbtStumpBins* bins, long long* draws) {
    std::vector<std::string> records;
    ResetUniformRandomForTesting();
    for (int round = 0; round < 2; ++round) {
      if (round == 1) {
        set.getWeights(true)[1] *= 3.0;
        set.getWeights(false)[2] *= 0.25;
      }
      PbtAdaWeakParams params = Depth(3);
      params.stumpBins = bins;
      PbtTreeWeak tree;
      tree.train(&set, &params);
      records.push_back(RecordBytes(tree));
    }
    *draws = UniformRandomDrawCountForTesting();
    return records;
  };
  std::unique_ptr<VectorSampleSet> fresh = makeSet(), shared = makeSet();
  fresh->calculateAllFeatures();
  shared->calculateAllFeatures();
  long long freshDraws = 0, sharedDraws = 0;
  const std::vector<std::string> want = twoRounds(*fresh, nullptr, &freshDraws);
  PbtStumpBins bins(shared->numFeatures(), shared->numSamples(true), shared->numSamples(false), 30);
  EXPECT_EQ(twoRounds(*shared, &bins, &sharedDraws), want);
  EXPECT_EQ(sharedDraws, freshDraws);
  EXPECT_NE(want[0], want[1]);
  // Bins made for other counts are not used.
  EXPECT_EQ(bins.entry(1, shared->numSamples(true) + 1, shared->numSamples(false), 30), nullptr);
  EXPECT_EQ(bins.entry(shared->numFeatures(), shared->numSamples(true), shared->numSamples(false), 30), nullptr);
}

namespace {

// 48 features of 400 positives and 400 negatives, whole numbers with a class shift
// on every third feature: enough features for every worker to train some of them.
std::unique_ptr<VectorSampleSet> ManyFeatureSet() {
  unsigned state = 4242u;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) % 50u);
  };
  std::vector<std::vector<float>> pos, neg;
  for (int i = 0; i < 400; ++i) {
    std::vector<float> p, q;
    for (int f = 0; f < 48; ++f) {
      p.push_back(static_cast<float>(next() + (f % 3 == 0 ? 10 + f % 7 : 0)));
      q.push_back(static_cast<float>(next()));
    }
    pos.push_back(p);
    neg.push_back(q);
  }
  return std::unique_ptr<VectorSampleSet>(new VectorSampleSet(pos, neg));
}

// The generator's first `count` values from its start-up state, as RandomUniform holds them.
std::vector<double> SequenceFromStart(long long count) {
  ResetUniformRandomForTesting();
  std::vector<double> values;
  for (long long k = 0; k < count; ++k) values.push_back(UniformRandom(&gUniformRandomSeed));
  return values;
}

// Walks the trained nodes in training order (a node, then its side-0 subtree, then
// side 1); every trained node holds a stump. Each node takes two draws per feature for
// its candidates, then its kept stump's two: the stump's histograms hold the values at
// those places of the sequence.
void ExpectNodeDraws(const PbtTreeWeak& node, int features, const std::vector<double>& sequence,
                     size_t* position, const std::string& where) {
  if (node.root == nullptr) return;  // never trained: no weight reached it
  *position += 2 * static_cast<size_t>(features);
  ASSERT_LT(*position + 1, sequence.size()) << where;
  EXPECT_EQ(node.root->posHist.random.value, sequence[*position]) << where;
  EXPECT_EQ(node.root->negHist.random.value, sequence[*position + 1]) << where;
  *position += 2;
  for (size_t k = 0; k < node.children.size(); ++k) {
    if (node.children[k] != nullptr) {
      ExpectNodeDraws(*node.children[k], features, sequence, position, where + "/" + std::to_string(k));
    }
  }
}

}  // namespace

// The search over the features runs on every worker; the tree and the random sequence
// are one worker's: two draws per feature and node taken by the calling thread alone,
// before the node's kept stump takes its own two.
TEST(PbtTreeWeakTest, SeveralWorkersTrainTheTreeAndDrawsOfOne) {
  std::unique_ptr<VectorSampleSet> set = ManyFeatureSet();
  set->calculateAllFeatures();
  const int features = set->numFeatures();
  ASSERT_EQ(features, 48);
  std::string want;
  for (int workers : {1, 3, 8}) {
    for (int round = 0; round < 3; ++round) {
      ScopedWorkerCount count(workers);
      PbtAdaWeakParams params = Depth(3);
      PbtTreeWeak tree;
      ResetUniformRandomForTesting();
      const long long threadBefore = UniformRandomThreadDrawCountForTesting();
      tree.train(set.get(), &params);
      const long long draws = UniformRandomDrawCountForTesting();
      const long long threadDraws = UniformRandomThreadDrawCountForTesting() - threadBefore;
      const std::string where = std::to_string(workers) + " workers, round " + std::to_string(round);
      if (want.empty()) want = RecordBytes(tree);
      EXPECT_EQ(RecordBytes(tree), want) << where;
      EXPECT_EQ(threadDraws, draws) << where << ": another thread drew";

      std::vector<PbtFid> stumps;
      tree.collectFeatures(stumps);
      ASSERT_EQ(stumps.size(), 7u) << where;  // a full tree of depth 3
      EXPECT_EQ(draws, static_cast<long long>(stumps.size()) * (2 * features + 2)) << where;
      const std::vector<double> sequence = SequenceFromStart(draws);
      size_t position = 0;
      ExpectNodeDraws(tree, features, sequence, &position, where);
      EXPECT_EQ(position, sequence.size()) << where;
    }
  }
}
