#include "pbt/PbtMClassTree.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <thread>

#include "PbtTestSets.h"
#include "PbtTreeTestDoubles.h"
#include "TestSupport.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtFlags.h"

namespace {

// A sample whose features are the given values.
struct RowSample {
  explicit RowSample(std::vector<float> values) : row(std::move(values)), sample(static_cast<int>(row.size())) {
    sample.setPosition(&row);
  }
  std::vector<float> row;
  TableSample sample;
};

// Root: three branches on features 0..2, posterior [0.25, 0.75]. Every child k
// has two branches on features 3..4 over the leaves [1, 0] and [0, 1], and a stored
// posterior that differs from what descending it answers:
// child 0 [0.5, 0.5], child 1 [0.3, 0.7], child 2 [0.6, 0.4].
std::unique_ptr<DoubleTree> ThreeWayTree() {
  const std::vector<std::vector<double>> stored = {{0.5, 0.5}, {0.3, 0.7}, {0.6, 0.4}};
  std::vector<PbtMClassTree*> children;
  for (const auto& s : stored) {
    children.push_back(MakeNode(s, new BranchClassifier(3, 2), {MakeNode({1, 0}), MakeNode({0, 1})}));
  }
  return std::unique_ptr<DoubleTree>(MakeNode({0.25, 0.75}, new BranchClassifier(0, 3), children));
}

std::vector<double> Posterior(const PbtMClassTree& tree, const std::vector<float>& features) {
  RowSample s(features);
  VectorQo<double> out;
  tree.treePosterior(out, &s.sample);
  return Values(out);
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, const char* name) {
  ASSERT_EQ(got.size(), want.size()) << name;
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << name << " element " << i;
}

std::string Bytes(const PbtClassifier& c) { return RecordBytes(c); }

// Reads `bytes` into a fresh DoubleTree with the given layout flag.
bool ReadTree(DoubleTree& tree, const std::string& bytes, int layout) {
  const int saved = gTreeLayoutFlag;
  gTreeLayoutFlag = layout;
  std::istringstream in(bytes);
  BinaryReader reader(in);
  const bool ok = tree.read(reader);
  gTreeLayoutFlag = saved;
  return ok;
}

std::string FromHex(const std::string& hex) {
  const std::vector<uint8_t> b = HexBytes(hex);
  return std::string(b.begin(), b.end());
}

// A root with a BranchClassifier(0, 2) and posterior [0.25, 0.75] over the leaves
// [1, 0] and [0, 1], in the current layout. The leaves carry code 0.
const char* kCurrentTree =
    "00000000 01 00000000 02000000"      // code 0, has-classifier, record (first 0, count 2)
    "01000000 02000000 0000803e 0000403f"  // posterior 1 x 2: 0.25, 0.75
    "02000000"                           // two slots
    "01 00000000 00 01000000 02000000 0000803f 00000000 00000000"  // leaf [1, 0]
    "01 00000000 00 01000000 02000000 00000000 0000803f 00000000";  // leaf [0, 1]

// The same tree in the older two-branch layout.
const char* kOlderTree =
    "07000000 09000000 00000000 01 00000000 02000000"  // two ignored ints, code, classifier
    "01 11000000 22000000 00000000 00 00 00 01000000 02000000 0000803f 00000000"
    "01 00000000 00000000 00000000 00 00 00 01000000 02000000 00000000 0000803f"
    "01000000 02000000 0000803e 0000403f";  // the root's posterior comes last

// What the older fixture is written back as: the current layout, every node with the
// two slots the older layout gives it.
const char* kOlderTreeRewritten =
    "00000000 01 00000000 02000000 01000000 02000000 0000803e 0000403f 02000000"
    "01 00000000 00 01000000 02000000 0000803f 00000000 02000000 00 00"
    "01 00000000 00 01000000 02000000 00000000 0000803f 02000000 00 00";

}  // namespace

TEST(PbtMClassTreeTest, LeafAnswersItsPosteriorInBothDescents) {
  std::unique_ptr<DoubleTree> leaf(MakeNode({0.2, 0.8}));
  for (uint8_t soft : {0, 1}) {
    leaf->setSoftDescent(soft);
    ExpectNear(Posterior(*leaf, {0.9f}), {0.2, 0.8}, "leaf");
  }
  // An empty tree answers an empty posterior.
  PbtMClassTree empty;
  RowSample s({1.0f});
  VectorQo<double> out(3);
  empty.treePosterior(out, &s.sample);
  EXPECT_TRUE(Values(out).empty());
  EXPECT_FALSE(empty.hasChildren());
}

TEST(PbtMClassTreeTest, DescentTable) {
  const float nan = std::nanf("");
  struct Case {
    const char* name;
    uint8_t soft;
    std::vector<float> branchP;  // root branch probabilities (features 0..2)
    std::vector<double> want;
  } cases[] = {
      // Hard descent follows the first largest branch, then the child's best (leaf [1, 0]).
      {"hard, best branch 1", 0, {0.2f, 0.7f, 0.1f}, {1, 0}},
      {"hard, tie takes the first", 0, {0.5f, 0.5f, 0.0f}, {1, 0}},
      // Soft: the best branch is descended; branches more than 0.1 below contribute
      // their child's stored posterior.
      {"soft, one branch descended", 1, {0.6f, 0.3f, 0.1f}, {0.6 + 0.3 * 0.3 + 0.1 * 0.6, 0.3 * 0.7 + 0.1 * 0.4}},
      {"soft, two branches within 0.1", 1, {0.5f, 0.45f, 0.05f}, {0.95 + 0.05 * 0.6, 0.05 * 0.4}},
      {"soft, equal branches", 1, {0.5f, 0.5f, 0.0f}, {1, 0}},
      {"soft, zero branch contributes nothing", 1, {1.0f, 0.0f, 0.0f}, {1, 0}},
      // 0.5f is below 0.6f - 0.1 in double (though not in float): stored posterior.
      {"soft, margin in double", 1, {0.6f, 0.5f, 0.0f}, {(0.6 + 0.5 * 0.3) / 1.1, 0.5 * 0.7 / 1.1}},
      {"soft, all branches zero", 1, {0.0f, 0.0f, 0.0f}, {0, 0}},
      {"soft, NaN branch contributes nothing", 1, {0.6f, nan, 0.2f}, {(0.6 + 0.2 * 0.6) / 0.8, 0.2 * 0.4 / 0.8}},
  };
  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  for (const Case& c : cases) {
    tree->setSoftDescent(c.soft);
    std::vector<float> features = c.branchP;
    features.push_back(1.0f);  // every child sends the sample to leaf [1, 0]
    features.push_back(0.0f);
    ExpectNear(Posterior(*tree, features), c.want, c.name);
  }
}

TEST(PbtMClassTreeTest, MissingChildrenAnswerTheNodePosterior) {
  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  delete tree->children[0];
  tree->children[0] = nullptr;
  // Soft: the best branch has no child, so it contributes the root's own posterior.
  tree->setSoftDescent(1);
  ExpectNear(Posterior(*tree, {0.7f, 0.3f, 0.0f, 1, 0}), {0.7 * 0.25 + 0.3 * 0.3, 0.7 * 0.75 + 0.3 * 0.7}, "soft");
  tree->setSoftDescent(0);
  ExpectNear(Posterior(*tree, {0.7f, 0.3f, 0.0f, 1, 0}), {0.25, 0.75}, "hard");

  // A node classifier with more branches than the node has slots: the extra branches
  // count as null children instead of reading past the slots.
  delete tree->children[1];
  delete tree->children[2];
  tree->children.resize(1);
  ExpectNear(Posterior(*tree, {0.1f, 0.9f, 0.0f, 1, 0}), {0.25, 0.75}, "hard beyond the slots");
  tree->setSoftDescent(1);
  ExpectNear(Posterior(*tree, {0.1f, 0.9f, 0.0f, 1, 0}), {0.25, 0.75}, "soft beyond the slots");
}

TEST(PbtMClassTreeTest, SetSoftDescentStopsAtLeaves) {
  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  EXPECT_EQ(tree->setSoftDescent(1), 0);
  EXPECT_EQ(tree->setSoftDescent(1), 1);
  EXPECT_EQ(tree->children[2]->children[1]->softDescent, 1);
  // A leaf passes nothing on, even to a child slot it happens to hold.
  std::unique_ptr<DoubleTree> leaf(MakeNode({1}, nullptr, {MakeNode({1})}));
  EXPECT_EQ(leaf->setSoftDescent(1), 0);
  EXPECT_EQ(leaf->softDescent, 1);
  EXPECT_EQ(leaf->children[0]->softDescent, 0);
}

TEST(PbtMClassTreeTest, PathMarksSelectTheSamplesOfOneNode) {
  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  RowSample onPath({0.1f, 0.2f, 0.7f, 0.1f, 0.9f});     // root branch 2, then branch 1
  RowSample offAtChild({0.1f, 0.2f, 0.7f, 0.9f, 0.1f});  // root branch 2, then branch 0
  RowSample offAtRoot({0.7f, 0.2f, 0.1f, 0.1f, 0.9f});   // root branch 0

  EXPECT_EQ(tree->probability(&onPath.sample), 0.0f);
  LinkedList<int> empty;
  tree->followPath(empty);
  EXPECT_EQ(tree->pathMark, 0);
  EXPECT_EQ(tree->probability(&onPath.sample), 0.0f);

  // The tail of the list is the root's branch: the path root -> 2 -> 1.
  LinkedList<int> path;
  path.Append(1);
  path.Append(2);
  tree->followPath(path);
  EXPECT_EQ(path.Count(), 0);
  EXPECT_EQ(tree->pathMark, 1);
  EXPECT_EQ(tree->pathBranch, 2);
  EXPECT_EQ(tree->children[2]->pathMark, 1);
  EXPECT_EQ(tree->children[2]->pathBranch, 1);
  EXPECT_EQ(tree->children[2]->children[1]->pathMark, 0);  // the end of the path
  EXPECT_EQ(tree->children[0]->pathMark, 0);
  EXPECT_EQ(tree->probability(&onPath.sample), 1.0f);
  EXPECT_EQ(tree->probability(&offAtChild.sample), 0.0f);
  EXPECT_EQ(tree->probability(&offAtRoot.sample), 0.0f);
  // While marked, treePosterior answers the posterior of the deepest marked node reached.
  ExpectNear(Posterior(*tree, onPath.row), {0.6, 0.4}, "on the path");
  ExpectNear(Posterior(*tree, offAtChild.row), {0.6, 0.4}, "off at the child");
  ExpectNear(Posterior(*tree, offAtRoot.row), {0.25, 0.75}, "off at the root");

  tree->invalidate();
  EXPECT_EQ(tree->pathMark, 0);
  EXPECT_EQ(tree->children[2]->pathMark, 0);
  EXPECT_EQ(tree->probability(&onPath.sample), 0.0f);

  // A path through a missing child stops there instead of following a null slot.
  delete tree->children[2];
  tree->children[2] = nullptr;
  LinkedList<int> broken;
  broken.Append(0);
  broken.Append(2);
  tree->followPath(broken);
  EXPECT_EQ(tree->pathBranch, 2);
  EXPECT_EQ(broken.Count(), 1);
  EXPECT_EQ(tree->probability(&onPath.sample), 1.0f);
}

TEST(PbtMClassTreeTest, LevelStatisticsAndFeatures) {
  std::unique_ptr<DoubleTree> leaf(MakeNode({1}));
  int levels = 0, nodes = 0, leaves = 0;
  std::vector<int> counts = leaf->levelStatistics(&levels, &nodes, &leaves);
  EXPECT_EQ(counts.size(), 100u);
  EXPECT_EQ(levels, 1);
  EXPECT_EQ(nodes, 1);
  EXPECT_EQ(leaves, 1);
  EXPECT_EQ(counts[0], 1);
  EXPECT_EQ(counts[1], 0);

  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  delete tree->children[1];
  tree->children[1] = nullptr;
  counts = tree->levelStatistics(&levels, &nodes, &leaves);
  EXPECT_EQ(levels, 3);
  EXPECT_EQ(nodes, 7);
  EXPECT_EQ(leaves, 4);
  EXPECT_EQ((std::vector<int>(counts.begin(), counts.begin() + 4)), (std::vector<int>{1, 2, 4, 0}));

  // Root classifier first, then the children's, depth first.
  std::vector<PbtFid> features;
  tree->collectFeatures(features);
  ASSERT_EQ(features.size(), 3u);
  EXPECT_EQ(features[0].params[0], 0);
  EXPECT_EQ(features[1].params[0], 3);
  EXPECT_EQ(features[2].params[0], 3);
}

TEST(PbtMClassTreeTest, ByteFixturesOfBothLayoutsLoadAndRewrite) {
  const std::string current = FromHex(kCurrentTree);
  DoubleTree a;
  ASSERT_TRUE(ReadTree(a, current, 1));
  EXPECT_EQ(Bytes(a), current);
  ASSERT_EQ(a.children.size(), 2u);
  ExpectNear(Values(a.classPosterior), {0.25, 0.75}, "root");
  ExpectNear(Posterior(a, {0.3f, 0.7f}), {0, 1}, "loaded tree");

  // The older layout holds the same tree; it is written back in the current layout,
  // and that reads back to the same bytes again.
  DoubleTree b;
  ASSERT_TRUE(ReadTree(b, FromHex(kOlderTree), 0));
  const std::string rewritten = Bytes(b);
  EXPECT_EQ(rewritten, FromHex(kOlderTreeRewritten));
  ExpectNear(Posterior(b, {0.3f, 0.7f}), {0, 1}, "older tree");
  DoubleTree b2;
  ASSERT_TRUE(ReadTree(b2, rewritten, 1));
  EXPECT_EQ(Bytes(b2), rewritten);
  // The older layout's posterior may have any shape of the same length: the root's
  // stored as 2 x 1, a leaf's as 2 x 1 too. Both become rows again.
  std::string column = FromHex(kOlderTree);
  const std::string twoByOne = FromHex("02000000 01000000");
  column.replace(column.size() - 16, 8, twoByOne);
  column.replace(37, 8, twoByOne);  // the first leaf's posterior
  DoubleTree b3;
  ASSERT_TRUE(ReadTree(b3, column, 0));
  EXPECT_EQ(Bytes(b3), rewritten);

  // Written trees read back: posteriors narrowed to float, null slots kept.
  std::unique_ptr<DoubleTree> tree = ThreeWayTree();
  delete tree->children[1];
  tree->children[1] = nullptr;
  tree->classPosterior[0] = 0.1;
  tree->children[0]->nodeClassifierCode = 3;
  DoubleTree c;
  ASSERT_TRUE(ReadTree(c, Bytes(*tree), 1));
  EXPECT_EQ(Bytes(c), Bytes(*tree));
  EXPECT_EQ(c.classPosterior[0], static_cast<double>(0.1f));
  EXPECT_EQ(c.children[1], nullptr);
  EXPECT_EQ(c.children[0]->nodeClassifierCode, 3);
  EXPECT_EQ(static_cast<BranchClassifier*>(c.nodeClassifier)->count, 3);
}

TEST(PbtMClassTreeTest, SlotFlagsOfBothLayouts) {
  // Current layout: a present byte other than 1 leaves the slot null and the next
  // byte is the next slot's flag.
  DoubleTree a;
  ASSERT_TRUE(ReadTree(a, FromHex("05000000 00 01000000 01000000 0000803f 03000000 02 00"
                                  "01 00000000 00 01000000 01000000 0000803f 00000000"),
                       1));
  ASSERT_EQ(a.children.size(), 3u);
  EXPECT_EQ(a.children[0], nullptr);
  EXPECT_EQ(a.children[1], nullptr);
  ASSERT_NE(a.children[2], nullptr);
  EXPECT_EQ(a.nodeClassifierCode, 5);  // a leaf keeps any code

  // Older layout: always two slots, even when both are absent.
  DoubleTree b;
  ASSERT_TRUE(ReadTree(b, FromHex("00000000 00000000 00000000 00 00 00 01000000 01000000 0000803f"), 0));
  EXPECT_EQ(b.children.size(), 2u);
  EXPECT_EQ(b.children[0], nullptr);
  EXPECT_EQ(b.children[1], nullptr);
}

TEST(PbtMClassTreeTest, CorruptFilesFailTheLoadCleanly) {
  const std::string good = FromHex(kCurrentTree);
  auto edit = [&](size_t offset, const std::string& hex) {
    std::string s = good;
    const std::string b = FromHex(hex);
    s.replace(offset, b.size(), b);
    return s;
  };
  // A chain of nodes, each the only child of the one before.
  auto chain = [](int nodes) {
    std::string s;
    for (int i = 0; i < nodes; ++i) s += FromHex(i + 1 < nodes ? "00000000 00 01000000 01000000 0000803f 01000000 01"
                                                                 : "00000000 00 01000000 01000000 0000803f 00000000");
    return s;
  };
  // Byte offsets in kCurrentTree: root posterior at 13, child count at 29, first child
  // record at 34 (its posterior at 39), second child's present byte at 59.
  struct Case {
    const char* name;
    std::string bytes;
    int layout;
  } cases[] = {
      {"truncated in the last leaf", good.substr(0, good.size() - 1), 1},
      {"truncated in the root classifier", good.substr(0, 9), 1},
      {"empty file", "", 1},
      {"huge child count", edit(29, "ffffff7f"), 1},
      {"negative child count", edit(29, "ffffffff"), 1},
      {"unknown node code", edit(0, "07000000"), 1},
      {"negative node code", edit(0, "ffffffff"), 1},
      {"node classifier record rejected", edit(9, "ffffffff"), 1},
      {"posterior rows 2", edit(13, "02000000 01000000"), 1},
      {"negative posterior length", edit(13, "01000000 ffffffff"), 1},
      {"class count differs between nodes", edit(39, "01000000 01000000"), 1},
      {"huge posterior", edit(13, "01000000 ffffff7f"), 1},
      {"101 levels", chain(101), 1},
      {"older layout truncated", FromHex(kOlderTree).substr(0, 40), 0},
      {"older layout, posterior 2 x 2 against 2 classes",
       FromHex("00000000 00000000 00000000 00 01 00"
               "00000000 00000000 00000000 00 00 00 01000000 02000000 0000803f 00000000"
               "02000000 02000000 0000803f 00000000 00000000 00000000"),
       0},
      {"older layout, children differ in class count",
       FromHex("00000000 00000000 00000000 00 01 00000000 00000000 00000000 00 00 00 01000000 03000000"
               "00000000 00000000 00000000 00 01000000 02000000 00000000 00000000"),
       0},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    const std::string file = folder.file("clf");
    WriteFileBytes(file, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
    const int saved = gTreeLayoutFlag;
    gTreeLayoutFlag = c.layout;
    DoubleTree tree;
    std::string error;
    EXPECT_FALSE(tree.load(file.c_str(), &error)) << c.name;
    gTreeLayoutFlag = saved;
    EXPECT_EQ(error, "Truncated or corrupt classifier file: " + file) << c.name;
    // Nothing half-read is kept.
    EXPECT_EQ(tree.nodeClassifier, nullptr) << c.name;
    EXPECT_TRUE(tree.children.empty()) << c.name;
    EXPECT_TRUE(Values(tree.classPosterior).empty()) << c.name;
  }
  // One hundred levels are still a tree.
  DoubleTree deep;
  EXPECT_TRUE(ReadTree(deep, chain(100), 1));
}

TEST(PbtMClassTreeTest, ConcurrentEvaluationMatchesSerial) {
  std::unique_ptr<DoubleTree> built = ThreeWayTree();
  DoubleTree tree;
  ASSERT_TRUE(ReadTree(tree, Bytes(*built), 1));
  tree.setSoftDescent(1);
  // Samples spread over the branches; every thread evaluates all of them.
  std::vector<std::vector<float>> rows;
  for (int i = 0; i < 200; ++i) {
    const float a = static_cast<float>(i % 17) / 17.0f, b = static_cast<float>(i % 5) / 5.0f;
    rows.push_back({a, b, 1.0f - a, b, 1.0f - b});
  }
  std::vector<std::vector<double>> serial;
  for (const auto& r : rows) serial.push_back(Posterior(tree, r));

  const int threads = 4;
  std::vector<std::vector<std::vector<double>>> results(threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      TableSample sample(5);
      VectorQo<double> out;
      for (int pass = 0; pass < 20; ++pass) {
        for (const auto& r : rows) {
          sample.setPosition(&r);
          tree.treePosterior(out, &sample);
          if (pass == 0) results[static_cast<size_t>(t)].push_back(Values(out));
        }
      }
    });
  }
  for (auto& w : workers) w.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(results[static_cast<size_t>(t)], serial) << "thread " << t;
}

TEST(PbtMClassTreeTest, TreeWithABoosterNodeRoundTrips) {
  // A two-class booster on two features as the root's node classifier.
  VectorSampleSet set({{1.0f, 0.2f}, {1.2f, 0.1f}, {0.9f, 0.4f}}, {{3.0f, 0.3f}, {2.8f, 0.2f}, {3.3f, 0.1f}});
  TempFolder tmp;
  PbtAdaBoostParams params;
  params.numWeak = 2;
  params.logName = tmp.file("log.txt");
  PbtAdaBoost* booster = new PbtAdaBoost();
  booster->train(&set, &params);

  PbtMClassTree tree;
  tree.nodeClassifierCode = PbtClassifierFactory::kNodeAdaBoost;
  tree.nodeClassifier = booster;
  tree.classPosterior = VectorQo<double>(3, 1.0 / 3);
  for (const auto& p : std::vector<std::vector<double>>{{0.7, 0.2, 0.1}, {0.1, 0.3, 0.6}}) {
    PbtMClassTree* leaf = new PbtMClassTree();
    leaf->classPosterior.SetSize(3);
    for (int i = 0; i < 3; ++i) leaf->classPosterior[i] = p[static_cast<size_t>(i)];
    tree.children.push_back(leaf);
  }
  const std::string bytes = Bytes(tree);
  const std::string file = tmp.file("clf");
  ASSERT_TRUE(tree.save(file.c_str()));
  PbtMClassTree loaded;
  std::string error;
  ASSERT_TRUE(loaded.load(file.c_str(), &error)) << error;
  EXPECT_EQ(Bytes(loaded), bytes);
  ASSERT_NE(dynamic_cast<PbtAdaBoost*>(loaded.nodeClassifier), nullptr);

  for (uint8_t soft : {0, 1}) {
    tree.setSoftDescent(soft);
    loaded.setSoftDescent(soft);
    for (const auto& row : std::vector<std::vector<float>>{{1.0f, 0.2f}, {3.1f, 0.2f}, {2.0f, 0.2f}}) {
      const std::vector<double> want = Posterior(tree, row);
      const std::vector<double> got = Posterior(loaded, row);
      ASSERT_EQ(got.size(), 3u);
      for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-7) << "soft " << int(soft);
    }
  }
  // Features of the booster's members, in member order.
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  EXPECT_EQ(features.size(), static_cast<size_t>(booster->numWeak()));

  // The library's factory: an unknown code with a classifier does not load.
  std::string forged = bytes;
  forged[0] = 7;
  WriteFileBytes(file, std::vector<uint8_t>(forged.begin(), forged.end()));
  PbtMClassTree unknown;
  EXPECT_FALSE(unknown.load(file.c_str(), &error));
  EXPECT_EQ(error, "Truncated or corrupt classifier file: " + file);
}
