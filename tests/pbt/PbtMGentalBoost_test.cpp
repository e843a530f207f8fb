#include "pbt/PbtMGentalBoost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "PbtBoosterContract.h"
#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMClassTree.h"
#include "pbt/PbtRealBoost.h"

namespace {

// Four labels, label 1 too small to be active (with a minimum of 2 samples): three
// active classes on two overlapping features and a constant one; the last sample of
// label 3 equals the first of label 0, so some error remains. Uneven weights.
std::unique_ptr<MVectorSampleSet> TrainingSet() {
  std::unique_ptr<MVectorSampleSet> set(new MVectorSampleSet(
      {{{0.5f, 2, 1}, {1.0f, 3, 1}, {4.5f, 1, 1}, {2.0f, 2.5f, 1}, {4.0f, 1.5f, 1}, {0.8f, 4, 1}},
       {{3.0f, 3, 1}},
       {{3.5f, 1, 1}, {4.0f, 2, 1}, {4.5f, 3.5f, 1}, {1.0f, 0.5f, 1}, {1.2f, 2.2f, 1}, {3.8f, 5, 1}},
       {{7.0f, 4, 1}, {3.5f, 5, 1}, {6.5f, 4.5f, 1}, {8.0f, 6, 1}, {4.2f, 5.5f, 1}, {0.5f, 2, 1}}},
      {0.3f, 0.1f, 0.35f, 0.25f}));
  for (VectorQo<double>& w : set->weights) {
    for (int i = 0; i < w.cols; ++i) w[i] *= 1 + i % 2;
  }
  return set;
}

// A learner on feature 0 whose function k answers values[k] on the grid 0..10.
PbtMGentalWeak* Learner(const MVectorSampleSet& set, const std::vector<double>& values) {
  PbtMGentalWeak* weak = new PbtMGentalWeak();
  weak->fid = set.tableSample()->featurePool[0];
  weak->functions.resize(values.size());
  for (size_t k = 0; k < values.size(); ++k) {
    PbtMfFuncion& fn = weak->functions[k];
    fn.slot = static_cast<int16_t>(k);
    fn.label = static_cast<int16_t>(k);
    fn.responseTable.Init(0.0, 10.0, 1.0);
    fn.responseTable.Fill(values[k]);
  }
  return weak;
}

struct MGentalBoostKind {
  using Booster = PbtMGentalBoost;
  using Set = MVectorSampleSet;
  struct Scope {
    ScopedMinClassSamples minimum{2};
  };
  static std::unique_ptr<Set> TrainingSet() { return ::TrainingSet(); }
  static constexpr int kRounds = 5;
  static constexpr int kKept = 5;
  static std::unique_ptr<Set> Separable() { return std::unique_ptr<Set>(Set::singleFeature({{1, 2}, {3, 4}})); }
  static std::unique_ptr<Set> WithoutFeatures() {
    Set::Rows rows(2);
    for (auto& c : rows) c.assign(2, {});
    return std::unique_ptr<Set>(new Set(rows));
  }
  static double Train(Booster& boost, Set& set, int rounds, const std::string& logName) {
    PbtAdaBoostParams params = BoostParams(rounds, logName);
    return boost.trainMulti(set, params);
  }
  // A PbtMGentalWeak: two, and one per function (one function per active class).
  static int DrawsPerMember(const Booster& trained) { return 2 + trained.numClasses; }
  static constexpr size_t kTrailerBytes = 8;  // numClasses, numLabels
};

const char* kReimplementation = R"PY(
# Multi-class gentle boosting, re-implemented from the description.
import math, sys
import numpy as np

f32 = np.float32
parts = sys.argv[1].split(';')
num_weak, min_count = int(parts[0]), int(parts[1])
rows = [[[f32(float(v)) for v in s.split()] for s in c.split('|')] for c in parts[2].split('/')]
weights0 = [[float(v) for v in c.split()] for c in parts[3].split('/')]
K = len(rows)
nf = len(rows[0][0])
active = [c for c in range(K) if len(rows[c]) >= min_count]
slot_of = {c: s for s, c in enumerate(active)}
n_cls = len(active)
fmin = [min(float(rows[c][i][f]) for c in active for i in range(len(rows[c]))) for f in range(nf)]
fmax = [max(float(rows[c][i][f]) for c in active for i in range(len(rows[c]))) for f in range(nf)]

def grid(lo, hi, w):
    bins = 1 if hi == lo else int(math.floor((hi - lo) / w + 0.5) + 1)
    return (lo, w, bins)

def grid_range(lo, hi, n):
    d = (hi - lo) / n
    if d == 0:
        return grid(lo, hi, 1.0)
    return grid(lo - d, hi + d, (hi - lo) / (n + 2))

def bin_of(g, x):
    return math.trunc((x - g[0]) / g[1] + 0.5)

def value_at(fn, v):
    b = bin_of(fn['grid'], float(v))
    return fn['table'][b] if 0 <= b < fn['grid'][2] else 0.0

def value_of_bin(fn, b):
    return fn['table'][b] if 0 <= b < fn['grid'][2] else 0.0

def best_for_bin(fns, b):
    best, res = -1e50, -1
    for fn in fns:
        v = value_of_bin(fn, b)
        if v > best:
            best, res = v, fn['slot']
    return res

def weak_train(j, weights):
    lo, hi = float(f32(fmin[j])), float(f32(fmax[j]))
    g = grid_range(lo, hi, 30)
    bins = {}
    for k, c in enumerate(active):
        bs = []
        for row in rows[c]:
            b = math.trunc((float(row[j]) - g[0]) / g[1] + 0.5)
            b = min(b, g[2] - 1)
            b = max(b, 0)
            bs.append(b)
        bins[k] = bs
    fns = []
    for k in range(n_cls):
        inh, outh = [0.0] * g[2], [0.0] * g[2]
        for k2, c in enumerate(active):
            h = inh if k2 == k else outh
            for s, b in enumerate(bins[k2]):
                h[b] += 2 * weights[c][s]
        m = 0.0
        for i in range(g[2]):
            m = max(m, abs(inh[i] - outh[i]))
        table = [(inh[i] - outh[i]) / m if m > 1e-5 else inh[i] - outh[i] for i in range(g[2])]
        fns.append({'slot': k, 'label': active[k], 'grid': g, 'table': table})
    err = 0.0
    for k, c in enumerate(active):
        for s, b in enumerate(bins[k]):
            if best_for_bin(fns, b) != k:
                err += weights[c][s]
    return f32(err), fns

def class_response(fns, v):
    n = len(fns)
    out = [-2.0] * n
    s = 0.0
    for fn in fns:
        r = value_at(fn, v)
        out[fn['slot']] = r
        s += r
    return [o - s / n for o in out] if n else out

def clamp(x):
    return -100.0 if x < -100.0 else (100.0 if x > 100.0 else x)

weights = [list(w) for w in weights0]
members = []
for r in range(num_weak):
    best, bi, bfns = f32(1.0), 0, None
    for j in range(nf):
        e, fns = weak_train(j, weights)
        if e < best:
            best, bi, bfns = e, j, fns
    if bfns is None:
        _, bfns = weak_train(0, weights)
    for c in range(K):
        if c not in slot_of:
            continue
        s = slot_of[c]
        for i, row in enumerate(rows[c]):
            h = class_response(bfns, row[bi])[s]
            weights[c][i] *= math.exp(-clamp(h))
    total = 0.0
    for w in weights:
        t = 0.0
        for v in w:
            t += v
        total += t
    if total > 0:
        weights = [[v / total for v in w] for w in weights]
    members.append((bi, bfns, best))
    if best <= f32(0.02):
        break

def posterior(row):
    r = [0.0] * n_cls
    for bi, fns, _ in members:
        resp = class_response(fns, row[bi])
        for k in range(n_cls):
            r[k] += resp[k]
    m = max(r)
    out = [math.exp(clamp(x - m)) for x in r]
    s = 0.0
    for v in out:
        s += v
    return [v / s for v in out]

def argmax(v):
    b = 0
    for i in range(1, len(v)):
        if v[b] < v[i]:
            b = i
    return b

mass, per, total = [0.0] * n_cls, [0.0] * n_cls, 0.0
for c in range(K):
    if c not in slot_of:
        continue
    s = slot_of[c]
    for i, row in enumerate(rows[c]):
        w = weights0[c][i]
        mass[s] += w
        if argmax(posterior(row)) != s:
            per[s] += w
            total += w
per = [p / m if m > 0 else p for p, m in zip(per, mass)]
print("error %r %s" % (total, ' '.join(repr(p) for p in per)))
for bi, fns, best in members:
    print("member %d %r %d" % (bi, float(best), len(fns)))
    for fn in fns:
        g = fn['grid']
        print("function %d %d %r %r %d %s" % (fn['slot'], fn['label'], g[0], g[1], g[2], ' '.join(repr(v) for v in fn['table'])))
)PY";

}  // namespace

// Draws, round limits that train nothing and records that do not read.
INSTANTIATE_TYPED_TEST_SUITE_P(MGentalBoost, PbtBoosterContractTest, MGentalBoostKind);

TEST(PbtMGentalBoostTest, EmptyBoosterGivesAUniformPosterior) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  PbtMGentalBoost boost;
  boost.numClasses = 3;
  boost.numLabels = 4;
  PbtSample* s = set->getSample(0, 0);
  VectorQo<double> out;
  boost.classResponse(*s, out);
  ASSERT_EQ(out.cols, 3);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(out[k], 0.0);
  boost.posterior(s, out);
  ASSERT_EQ(out.cols, 3);
  for (int k = 0; k < 3; ++k) EXPECT_DOUBLE_EQ(out[k], 1.0 / 3);
  EXPECT_EQ(boost.probability(s), 0.0f);
  EXPECT_EQ(boost.response(s), -1.0f);
  EXPECT_STREQ(boost.getName(), "MGentalBoost");
}

TEST(PbtMGentalBoostTest, PosteriorSumsTheMembersAndClampsTheExponent) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  PbtMGentalBoost boost;
  boost.numClasses = 3;
  boost.numLabels = 3;
  // Centred responses (61, -60, -1) per member; two members: (122, -120, -2).
  boost.members.push_back(Learner(*set, {61.0, -60.0, -1.0}));
  boost.members.push_back(Learner(*set, {61.0, -60.0, -1.0}));
  PbtSample* s = set->getSample(0, 0);
  VectorQo<double> out;
  boost.classResponse(*s, out);
  EXPECT_DOUBLE_EQ(out[0], 122.0);
  EXPECT_DOUBLE_EQ(out[1], -120.0);
  EXPECT_DOUBLE_EQ(out[2], -2.0);
  boost.posterior(s, out);
  // Exponents relative to the largest: 0, -242 clamped to -100, -124 clamped to -100.
  const double tail = std::exp(-100.0);
  EXPECT_DOUBLE_EQ(out[0], 1.0 / (1.0 + 2 * tail));
  EXPECT_NEAR(out[1], tail / (1.0 + 2 * tail), 1e-12 * tail);
  EXPECT_EQ(out[1], out[2]);
  std::vector<PbtFid> features;
  boost.collectFeatures(features);
  EXPECT_EQ(features.size(), 2u);
}

TEST(PbtMGentalBoostTest, TrainingMatchesAnIndependentReimplementation) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  std::string args = "5;2;";
  for (size_t c = 0; c < set->rows.size(); ++c) {
    if (c > 0) args += "/";
    for (size_t i = 0; i < set->rows[c].size(); ++i) {
      if (i > 0) args += "|";
      for (float v : set->rows[c][i]) args += FormatText("%.9g ", static_cast<double>(v));
    }
  }
  args += ";";
  for (size_t c = 0; c < set->weights.size(); ++c) {
    if (c > 0) args += "/";
    for (int i = 0; i < set->weights[c].cols; ++i) args += FormatText("%.17g ", set->weights[c][i]);
  }
  ProcessResult py = RunPython(kReimplementation, {args});
  ASSERT_EQ(py.status, 0) << py.err;

  PbtMGentalBoost boost;
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(5, tmp.file("log.txt"));
  const double error = boost.trainMulti(*set, params);
  EXPECT_EQ(boost.numClasses, 3);
  EXPECT_EQ(boost.numLabels, 4);

  std::istringstream lines(py.out);
  std::string word;
  double expectedError = 0.0;
  lines >> word >> expectedError;
  ASSERT_EQ(word, "error");
  EXPECT_NEAR(error, expectedError, 1e-12);
  EXPECT_GT(error, 0.0);
  VectorQo<double> perClass;
  boost.errorMulti(*set, perClass);
  for (int k = 0; k < 3; ++k) {
    double v = 0;
    lines >> v;
    EXPECT_NEAR(perClass[k], v, 1e-12) << k;
  }
  int members = 0;
  while (lines >> word) {
    ASSERT_EQ(word, "member");
    int feature = 0, functions = 0;
    double best = 0;
    lines >> feature >> best >> functions;
    ASSERT_LT(members, boost.numWeak());
    const PbtMGentalWeak& weak = static_cast<const PbtMGentalWeak&>(*boost.members[static_cast<size_t>(members)]);
    EXPECT_EQ(weak.fid.poolIndex, feature) << members;
    ASSERT_EQ(static_cast<int>(weak.functions.size()), functions) << members;
    for (const PbtMfFuncion& fn : weak.functions) {
      int slot = 0, label = 0, bins = 0;
      double lo = 0, width = 0;
      lines >> word >> slot >> label >> lo >> width >> bins;
      ASSERT_EQ(word, "function");
      EXPECT_EQ(fn.slot, slot) << members;
      EXPECT_EQ(fn.label, label) << members;
      EXPECT_EQ(fn.responseTable.min, lo) << members;
      EXPECT_EQ(fn.responseTable.width, width) << members;
      ASSERT_EQ(fn.responseTable.bins, bins) << members;
      for (int i = 0; i < bins; ++i) {
        double v = 0;
        lines >> v;
        EXPECT_NEAR(fn.responseTable.pdf[i], v, 1e-12) << members << " slot " << slot << " bin " << i;
      }
    }
    ++members;
  }
  EXPECT_EQ(members, boost.numWeak());
  EXPECT_EQ(members, 5);
}

TEST(PbtMGentalBoostTest, LogsItsRoundsAndRestoresTheCallersWeights) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  const std::vector<VectorQo<double>> before = set->weights;
  TempFolder tmp;
  PbtMGentalBoost boost;
  PbtAdaBoostParams params;
  params.numWeak = 3;
  params.logName = tmp.file("log.txt");
  boost.trainMulti(*set, params);
  // The closing line prints its time without a unit: masked here by hand.
  auto masked = [](std::string log) {
    const size_t at = log.find("\n time=") + 7;
    log.replace(at, log.find(',', at) - at, "#");
    return MaskTimes(log);
  };
  EXPECT_EQ(masked(ReadFileText(params.logName)),
            "  Training (prep time=#s) MGentalBoost with class counts:0--6 2--6 3--6 \n"
            "  i= 0  best=    0 e=0.308 test feature 0 (time=#s)\n"
            "  i= 1  best=    1 e=0.221 test feature 1 (time=#s)\n"
            "  i= 2  best=    0 e=0.241 test feature 0 (time=#s)\n"
            " time=#, training error=0.100000  \n"
            "class=0, training error=0.222222  \n"
            "class=2, training error=0.000000  \n"
            "class=3, training error=0.000000  \n");
  // The weights of every class, the inactive one included, are as before.
  ASSERT_EQ(set->weights.size(), before.size());
  for (size_t c = 0; c < before.size(); ++c) {
    ASSERT_EQ(set->weights[c].cols, before[c].cols);
    for (int i = 0; i < before[c].cols; ++i) EXPECT_EQ(set->weights[c][i], before[c][i]) << c << " " << i;
  }
  EXPECT_FALSE(set->featuresAreCached());
}

TEST(PbtMGentalBoostTest, RoundsStopAtASmallError) {
  struct Case {
    float error;
    bool goesOn;
  } cases[] = {{0.02f, false}, {0.0f, false}, {0.0200001f, true}, {0.5f, true}};
  for (const Case& c : cases) EXPECT_EQ(PbtMGentalBoost::keepsTraining(c.error), c.goesOn) << c.error;

  ScopedMinClassSamples minimum(1);
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(4, tmp.file("log.txt"));
  // Separate classes: the first round has no error and is the last.
  std::unique_ptr<MVectorSampleSet> separate(MVectorSampleSet::singleFeature({{0, 1}, {5, 6}, {9, 10}}));
  PbtMGentalBoost boost;
  EXPECT_EQ(boost.trainMulti(*separate, params), 0.0);
  EXPECT_EQ(boost.numWeak(), 1);
}

TEST(PbtMGentalBoostTest, RecordRoundTripsByteForByte) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  PbtMGentalBoost boost;
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(3, tmp.file("log.txt"));
  boost.trainMulti(*set, params);
  boost.offset = 0.5f;
  const std::string rec = RecordBytes(boost);
  std::string members;
  for (const PbtClassifier* m : boost.members) members += RecordBytes(*m);
  ASSERT_EQ(rec.size(), 8 + members.size() + 8);
  float offset = 0;
  int32_t n = 0, classes = 0, labels = 0;
  std::memcpy(&offset, &rec[0], 4);
  std::memcpy(&n, &rec[4], 4);
  std::memcpy(&classes, &rec[rec.size() - 8], 4);
  std::memcpy(&labels, &rec[rec.size() - 4], 4);
  EXPECT_EQ(offset, 0.5f);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(rec.substr(8, members.size()), members);
  EXPECT_EQ(classes, 3);
  EXPECT_EQ(labels, 4);

  ASSERT_TRUE(boost.save(tmp.file("gentle.clf").c_str()));
  PbtMGentalBoost loaded;
  ASSERT_TRUE(loaded.load(tmp.file("gentle.clf").c_str()));
  EXPECT_EQ(RecordBytes(loaded), rec);
  std::unique_ptr<PbtClassifier> copy(boost.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  // A tree node of code 2 holds this record.
  std::unique_ptr<PbtClassifier> node(PbtClassifierFactory::createNodeClassifier(2));
  ASSERT_TRUE(node != nullptr);
  EXPECT_STREQ(node->getName(), "MGentalBoost");
  ASSERT_TRUE(ReadRecord(*node, rec));
  EXPECT_EQ(RecordBytes(*node), rec);
  VectorQo<double> a, b;
  for (int i = 0; i < 6; ++i) {
    PbtSample* s = set->getSample(3, i);
    boost.posterior(s, a);
    node->posterior(s, b);
    ASSERT_EQ(b.cols, 3);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a[k], b[k]) << i;
  }
}

TEST(PbtMGentalBoostTest, ForgedRecordsDoNotRead) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  PbtMGentalBoost good;
  good.numClasses = 2;
  good.numLabels = 3;
  PbtMGentalWeak* weak = Learner(*set, {0.5, -0.5});
  weak->functions[1].label = 2;
  good.members.push_back(weak);
  const std::string rec = RecordBytes(good);
  const size_t member = 8;
  const size_t memberSize = 143 + 4 + 2 * (4 + 28 + 8 * 11);
  ASSERT_EQ(rec.size(), member + memberSize + 8);
  const size_t classes = rec.size() - 8, labels = rec.size() - 4;
  auto withInt = [&](size_t at, int32_t v) {
    std::string r = rec;
    std::memcpy(&r[at], &v, 4);
    return r;
  };
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"no class counts", rec.substr(0, classes)},
      {"fewer classes than functions", withInt(classes, 1)},
      {"more classes than functions", withInt(classes, 3)},
      {"negative classes", withInt(classes, -2)},
      {"fewer labels than classes", withInt(labels, 1)},
      {"a function label beyond the labels", withInt(labels, 2)},
      {"labels beyond int16", withInt(labels, 40000)},
  };
  for (const Case& c : cases) {
    PbtMGentalBoost boost;
    boost.numClasses = 1;
    boost.numLabels = 1;
    boost.members.push_back(Learner(*set, {0.25}));
    const std::string before = RecordBytes(boost);
    EXPECT_FALSE(ReadRecord(boost, c.bytes)) << c.name;
    EXPECT_EQ(RecordBytes(boost), before) << c.name;
  }
  // Without members any class counts within the bounds read.
  PbtMGentalBoost empty;
  empty.numClasses = 5;
  empty.numLabels = 7;
  PbtMGentalBoost reread;
  ASSERT_TRUE(ReadRecord(reread, RecordBytes(empty)));
  EXPECT_EQ(reread.numClasses, 5);
  EXPECT_EQ(reread.numLabels, 7);
}

// A tree whose root holds a gentle booster (code 2, three branches) and whose first
// child holds a Real AdaBoost (code 1, two branches) is saved, loaded and applied.
TEST(PbtMGentalBoostTest, TreeWithGentleAndRealNodesRoundTrips) {
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(3, tmp.file("log.txt"));
  PbtMGentalBoost* gentle = new PbtMGentalBoost();
  gentle->trainMulti(*set, params);
  // Labels 0 against 2 on feature 0 for the real booster.
  VectorSampleSet pair({{0.5f}, {1.0f}, {4.5f}, {2.0f}}, {{3.5f}, {4.0f}, {1.0f}, {3.8f}});
  PbtRealBoost* real = new PbtRealBoost();
  real->train(&pair, &params);

  auto leaf = [](std::vector<double> p) {
    PbtMClassTree* node = new PbtMClassTree();
    node->classPosterior.SetSize(4);
    for (int i = 0; i < 4; ++i) node->classPosterior[i] = p[static_cast<size_t>(i)];
    return node;
  };
  PbtMClassTree tree;
  tree.nodeClassifierCode = PbtClassifierFactory::kNodeMGentalBoost;
  tree.nodeClassifier = gentle;
  tree.classPosterior = VectorQo<double>(4, 0.25);
  PbtMClassTree* inner = leaf({0.5, 0.0, 0.5, 0.0});
  inner->nodeClassifierCode = PbtClassifierFactory::kNodeRealBoost;
  inner->nodeClassifier = real;
  inner->children.push_back(leaf({0.1, 0.0, 0.9, 0.0}));
  inner->children.push_back(leaf({0.8, 0.0, 0.2, 0.0}));
  tree.children.push_back(inner);
  tree.children.push_back(leaf({0.1, 0.0, 0.8, 0.1}));
  tree.children.push_back(leaf({0.0, 0.0, 0.1, 0.9}));

  const std::string bytes = RecordBytes(tree);
  const std::string file = tmp.file("clf");
  ASSERT_TRUE(tree.save(file.c_str()));
  PbtMClassTree loaded;
  std::string error;
  ASSERT_TRUE(loaded.load(file.c_str(), &error)) << error;
  EXPECT_EQ(RecordBytes(loaded), bytes);
  ASSERT_NE(dynamic_cast<PbtMGentalBoost*>(loaded.nodeClassifier), nullptr);
  ASSERT_NE(dynamic_cast<PbtRealBoost*>(loaded.children[0]->nodeClassifier), nullptr);

  VectorQo<double> want, got;
  for (uint8_t soft : {0, 1}) {
    tree.setSoftDescent(soft);
    loaded.setSoftDescent(soft);
    for (size_t c = 0; c < set->rows.size(); ++c) {
      for (int i = 0; i < static_cast<int>(set->rows[c].size()); ++i) {
        PbtSample* s = set->getSample(static_cast<int>(c), i);
        tree.treePosterior(want, s);
        loaded.treePosterior(got, s);
        ASSERT_EQ(got.cols, 4);
        // Stored posteriors are float32.
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], want[k], 1e-7) << "soft " << int(soft) << " class " << c;
      }
    }
  }
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  EXPECT_EQ(features.size(), static_cast<size_t>(gentle->numWeak() + real->numWeak()));
}

namespace {

// The gentle booster's record bytes and the draws after training on TrainingSet.
std::pair<std::string, long long> GentleTraining(int workers) {
  ScopedWorkerCount count(workers);
  ScopedMinClassSamples minimum(2);
  std::unique_ptr<MVectorSampleSet> set = TrainingSet();
  ResetUniformRandomForTesting();
  PbtMGentalBoost boost;
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(5, tmp.file("log.txt"));
  boost.trainMulti(*set, params);
  return {RecordBytes(boost), UniformRandomDrawCountForTesting()};
}

}  // namespace

// Candidates train on every worker; their functions are added in feature order first,
// so the members and the random sequence are those of one worker.
TEST(PbtMGentalBoostTest, SeveralWorkersTrainTheBytesAndDrawsOfOne) {
  const auto one = GentleTraining(1);
  const auto several = GentleTraining(3);
  EXPECT_EQ(several.first, one.first);
  EXPECT_EQ(several.second, one.second);
}
