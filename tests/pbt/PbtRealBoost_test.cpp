#include "pbt/PbtRealBoost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>

#include "PbtBoosterContract.h"
#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtLog.h"

namespace {

// Three features: 0 separates the classes with some overlap, 1 is noise, 2 is
// constant (its learner is invalid). The last positive equals a negative, so some
// error remains. Uneven starting weights.
std::unique_ptr<VectorSampleSet> TrainingSet() {
  std::unique_ptr<VectorSampleSet> set(new VectorSampleSet(
      {{0.5f, 3, 7}, {1.0f, 1, 7}, {1.5f, 4, 7}, {2.2f, 2, 7}, {0.8f, 5, 7}, {3.1f, 0, 7}, {1.9f, 6, 7},
       {2.7f, 2.5f, 7}, {3.0f, 1.5f, 7}},
      {{2.5f, 3.5f, 7}, {3.0f, 1.5f, 7}, {4.2f, 4.5f, 7}, {3.8f, 0.5f, 7}, {1.2f, 5.5f, 7}, {4.9f, 2, 7},
       {3.3f, 6, 7}, {5.5f, 1, 7}}));
  for (int i = 0; i < 9; ++i) set->getWeights(true)[i] = (1 + i % 3) / 36.0;
  for (int i = 0; i < 8; ++i) set->getWeights(false)[i] = (1 + i % 2) / 24.0;
  return set;
}

// A learner on feature 0 whose table answers `value` on the grid 0..10.
PbtRealWeak* ConstantLearner(const VectorSampleSet& set, double value) {
  PbtRealWeak* weak = new PbtRealWeak();
  weak->fid = set.tableSample()->featurePool[0];
  weak->responseTable.Init(0.0, 10.0, 1.0);
  weak->responseTable.Fill(value);
  return weak;
}

struct RealBoostKind {
  using Booster = PbtRealBoost;
  using Set = VectorSampleSet;
  struct Scope {};
  static std::unique_ptr<Set> TrainingSet() { return ::TrainingSet(); }
  static constexpr int kRounds = 3;
  static constexpr int kKept = 3;
  static std::unique_ptr<Set> Separable() { return std::unique_ptr<Set>(Set::singleFeature({1, 2}, {3, 4})); }
  static std::unique_ptr<Set> WithoutFeatures() { return std::unique_ptr<Set>(new Set({{}}, {{}})); }
  static double Train(Booster& boost, Set& set, int rounds, const std::string& logName) {
    PbtAdaBoostParams params = BoostParams(rounds, logName);
    return boost.train(&set, &params);
  }
  static int DrawsPerMember(const Booster&) { return 3; }  // a PbtRealWeak
  static constexpr size_t kTrailerBytes = 0;
};

const char* kReimplementation = R"PY(
# Real AdaBoost with real weak learners, re-implemented from the description.
import math, sys
import numpy as np

f32 = np.float32
lines = sys.argv[1].split(';')
num_weak = int(lines[0])
pos = [[f32(float(v)) for v in l.split()] for l in lines[1].split('|')]
neg = [[f32(float(v)) for v in l.split()] for l in lines[2].split('|')]
pw = [float(v) for v in lines[3].split()]
nw = [float(v) for v in lines[4].split()]
nf = len(pos[0])

def grid(lo, hi, w):
    bins = 1 if hi == lo else int(math.floor((hi - lo) / w + 0.5) + 1)
    return (lo, w, bins)

def grid_range(lo, hi, n):
    d = (hi - lo) / n
    if d == 0:
        return grid(lo, hi, 1.0)
    return grid(lo - d, hi + d, (hi - lo) / (n + 2))

def bin_of(g, x):
    q = (x - g[0]) / g[1] + 0.5
    if math.isnan(q):
        return -1
    return math.trunc(q)

def pdf(g, p, x):
    b = bin_of(g, float(x))
    return p[b] if 0 <= b < g[2] else 0.0

def normalize(p):
    s = 0.0
    for v in p:
        s += v
    return [v / s for v in p] if s > 0 else p

def mean(g, p):
    s, x = 0.0, g[0]
    for i in range(g[2]):
        s += x * p[i]
        x += g[1]
    return s

taps = [0.25, 0.5, 1.0, 0.5, 0.25]
tsum = 0.0
for t in taps:
    tsum += t
kernel = [t / tsum for t in taps]

def smooth(p):
    n = len(p)
    out = []
    for c in range(n):
        acc = 0.0
        for t in range(5):
            j = c + 2 - t
            if 0 <= j < n:
                acc += kernel[t] * p[j]
        out.append(acc)
    return normalize(out)

class Weak:
    def __init__(self, j):
        self.j = j
        self.invalid = False
        self.binned = False
        self.table = None

    def train(self, pw, nw):
        sp = 0.0
        for w in pw:
            sp += w
        sn = 0.0
        for w in nw:
            sn += w
        c = f32(sp / (sp + sn))
        if self.invalid:
            return f32(0.5)
        if not self.binned:
            vals = [r[self.j] for r in pos] + [r[self.j] for r in neg]
            lo, hi = min(vals), max(vals)
            if not lo < hi:
                self.invalid = True
                return f32(0.5)
            self.g = grid_range(float(lo), float(hi), 30)
            self.pb = [bin_of(self.g, float(r[self.j])) for r in pos]
            self.nb = [bin_of(self.g, float(r[self.j])) for r in neg]
            self.binned = True
        g = self.g
        ph = [0.0] * g[2]
        nh = [0.0] * g[2]
        for i, b in enumerate(self.pb):
            ph[b] += pw[i]
        for i, b in enumerate(self.nb):
            nh[b] += nw[i]
        ph, nh = normalize(ph), normalize(nh)
        a, b = f32(mean(g, ph)), f32(mean(g, nh))
        ph, nh = smooth(ph), smooth(nh)
        m, w, bins = g
        self.tg = grid(m, m + bins * w, w)
        table = [0.0] * self.tg[2]
        step, first, last = f32(w), f32(m), f32(m + bins * w)
        notc = f32(1.0) - c
        err = 0.0
        xs = []
        x = first
        while x <= last:
            xs.append(x)
            P, N = pdf(g, ph, x), pdf(g, nh, x)
            pww, nww = P * float(c), N * float(notc)
            if pww + nww > 0:
                q = pww / (pww + nww)
            else:
                da, db = abs(x - a), abs(x - b)
                q = 0.5 if abs(da - db) <= step else (0.6 if da < db else 0.4)
            q = 0.95 if q >= 0.95 else (0.05 if q <= 0.05 else q)
            k = bin_of(self.tg, float(x))
            table[k] = q
            r = table[k]
            err += P * float(c) * (1 - r) + N * float(notc) * r
            x = f32(x + step)
        for x in xs:
            k = bin_of(self.tg, float(x))
            r = table[k]
            r = max(r, float(f32(1e-5)))
            r = min(r, float(f32(0.99999)))
            table[k] = 0.5 * math.log(r / (1 - r))
        self.table = table
        return f32(err)

    def response(self, v):
        if self.invalid:
            return f32(0.0)
        return f32(pdf(self.tg, self.table, v))

def normalize_weights(pw, nw):
    s1 = 0.0
    for w in pw:
        s1 += w
    s2 = 0.0
    for w in nw:
        s2 += w
    t = f32(s1 + s2)
    return [w / float(t) for w in pw], [w / float(t) for w in nw]

cands = [Weak(j) for j in range(nf)]
members = []
w_pos, w_neg = list(pw), list(nw)
for r in range(num_weak):
    best, bi = f32(1.0), 0
    for j in range(nf):
        e = cands[j].train(w_pos, w_neg)
        if e < best:
            best, bi = e, j
    wk = cands[bi]
    w_pos = [w * float(f32(math.exp(-float(wk.response(row[bi]))))) for w, row in zip(w_pos, pos)]
    w_neg = [w * float(f32(math.exp(float(wk.response(row[bi]))))) for w, row in zip(w_neg, neg)]
    w_pos, w_neg = normalize_weights(w_pos, w_neg)
    members.append((bi, wk.invalid, wk.tg if not wk.invalid else None, list(wk.table) if wk.table else [], best))
    if not (best >= f32(0.005) and best <= f32(0.495)):
        break

def score(row):
    F = f32(0.0)
    for bi, inv, tg, table, _ in members:
        if not inv:
            F = f32(F + f32(pdf(tg, table, row[bi])))
    return F

fp, fn = f32(0.0), f32(0.0)
for row, w in zip(pos, pw):
    p = f32(1.0 / (1.0 + math.exp(-2.0 * float(score(row)))))
    if p < f32(0.5):
        fn = f32(fn + f32(w))
for row, w in zip(neg, nw):
    p = f32(1.0 / (1.0 + math.exp(-2.0 * float(score(row)))))
    if p >= f32(0.5):
        fp = f32(fp + f32(w))
print("error %r" % float(f32(fp + fn)))
for bi, inv, tg, table, best in members:
    print("member %d %d %r %r %d %r %s" % (bi, inv, tg[0], tg[1], tg[2], float(best), ' '.join(repr(v) for v in table)))
)PY";

}  // namespace

// Draws, round limits that train nothing and records that do not read.
INSTANTIATE_TYPED_TEST_SUITE_P(RealBoost, PbtBoosterContractTest, RealBoostKind);

TEST(PbtRealBoostTest, EmptyBoosterAnswersByItsThreshold) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1}, {2}));
  PbtRealBoost boost;
  PbtSample* s = set->getSample(0, true);
  EXPECT_EQ(boost.ensembleScore(s), 0.0f);
  EXPECT_EQ(boost.probability(s), 0.5f);
  EXPECT_EQ(boost.response(s), 0.0f);
  boost.threshold = 1.0f;
  EXPECT_FLOAT_EQ(boost.probability(s), static_cast<float>(1.0 / (1.0 + std::exp(2.0))));
  VectorQo<double> post;
  boost.posterior(s, post);
  EXPECT_FLOAT_EQ(static_cast<float>(post[0] + post[1]), 1.0f);
  EXPECT_STREQ(boost.getName(), "RealBoost");
  EXPECT_EQ(boost.typeCode(), 0);
}

TEST(PbtRealBoostTest, TrainingMatchesAnIndependentReimplementation) {
  std::unique_ptr<VectorSampleSet> set = TrainingSet();
  std::string args = "4;";
  for (int side = 0; side < 2; ++side) {
    const auto& rows = side == 0 ? set->posValues : set->negValues;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (i > 0) args += "|";
      for (float v : rows[i]) args += FormatText("%.9g ", static_cast<double>(v));
    }
    args += ";";
  }
  for (int side = 0; side < 2; ++side) {
    const VectorQo<double>& w = set->getWeights(side == 0);
    for (int i = 0; i < w.cols; ++i) args += FormatText("%.17g ", w[i]);
    args += ";";
  }
  args.pop_back();
  ProcessResult py = RunPython(kReimplementation, {args});
  ASSERT_EQ(py.status, 0) << py.err;

  ResetUniformRandomForTesting();
  PbtRealBoost boost;
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(4, tmp.file("log.txt"));
  const float error = boost.train(set.get(), &params);

  std::istringstream lines(py.out);
  std::string word;
  double expectedError = 0.0;
  lines >> word >> expectedError;
  ASSERT_EQ(word, "error");
  EXPECT_EQ(error, static_cast<float>(expectedError));
  EXPECT_GT(error, 0.0f);
  int members = 0;
  while (lines >> word) {
    ASSERT_EQ(word, "member");
    int feature = 0, invalid = 0, bins = 0;
    double lo = 0, width = 0, best = 0;
    lines >> feature >> invalid >> lo >> width >> bins >> best;
    ASSERT_LT(members, boost.numWeak());
    const PbtRealWeak& weak = static_cast<const PbtRealWeak&>(*boost.members[static_cast<size_t>(members)]);
    EXPECT_EQ(weak.fid.poolIndex, feature) << members;
    EXPECT_EQ(weak.invalid, invalid) << members;
    EXPECT_EQ(weak.responseTable.min, lo) << members;
    EXPECT_EQ(weak.responseTable.width, width) << members;
    ASSERT_EQ(weak.responseTable.bins, bins) << members;
    for (int i = 0; i < bins; ++i) {
      double v = 0;
      lines >> v;
      EXPECT_NEAR(weak.responseTable.pdf[i], v, 1e-12 * std::max(1.0, std::fabs(v))) << members << " bin " << i;
    }
    ++members;
  }
  EXPECT_EQ(members, boost.numWeak());
  EXPECT_GE(members, 2);
}

TEST(PbtRealBoostTest, LogsItsRoundsAndRestoresTheCallersWeights) {
  std::unique_ptr<VectorSampleSet> set = TrainingSet();
  const VectorQo<double> pos = set->getWeights(true);
  const VectorQo<double> neg = set->getWeights(false);
  set->setClassMass(true, 0.75);
  TempFolder tmp;
  PbtRealBoost boost;
  boost.threshold = 0.25f;
  PbtAdaBoostParams params;
  params.numWeak = 3;
  params.logName = tmp.file("log.txt");
  boost.train(set.get(), &params);
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)),
            "  Training RealBoost with count:  pos=9  neg=8  (prep time=#s)\n"
            "  i= 0  best=    0 e=0.276 test feature 0 (time=#s)\n"
            "  i= 1  best=    1 e=0.345 test feature 1 (time=#s)\n"
            "  i= 2  best=    0 e=0.369 test feature 0 (time=#s)\n"
            "  RealBoost training error=0.083333  fp=0.000000  fn=0.166667 (time=#s)\n");
  // The error is measured at the caller's threshold (the copy of the last positive
  // falls below it), which training leaves as it was; weights, class masses and
  // samples are as before. weights, class masses and samples are as before.
  EXPECT_EQ(boost.threshold, 0.25f);
  ASSERT_EQ(set->numSamples(true), 9);
  ASSERT_EQ(set->numSamples(false), 8);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(set->getWeights(true)[i], pos[i]) << i;
  for (int i = 0; i < 8; ++i) EXPECT_EQ(set->getWeights(false)[i], neg[i]) << i;
  EXPECT_EQ(set->getClassMass(true), 0.75);
  EXPECT_EQ(set->getClassMass(false), 1.0);
  EXPECT_FALSE(set->featuresAreCached());

  // Not verbose: the two summary lines only.
  params.verbose = 0;
  params.logName = tmp.file("quiet.txt");
  boost.train(set.get(), &params);
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)),
            "  Training RealBoost with count:  pos=9  neg=8  (prep time=#s)\n"
            "  RealBoost training error=0.083333  fp=0.000000  fn=0.166667 (time=#s)\n");
}

TEST(PbtRealBoostTest, RoundsStopOutsideTheUsefulErrorRange) {
  struct Case {
    float error;
    bool goesOn;
  } cases[] = {{0.005f, true}, {0.495f, true}, {0.25f, true}, {0.00499f, false}, {0.49501f, false},
               {0.5f, false},  {0.0f, false}};
  for (const Case& c : cases) EXPECT_EQ(PbtRealBoost::keepsTraining(c.error), c.goesOn) << c.error;

  PbtAdaBoostParams params = BoostParams(5);
  // A constant feature: every candidate is invalid (error 0.5), one round only.
  std::unique_ptr<VectorSampleSet> constant(VectorSampleSet::singleFeature({1, 1}, {1}));
  PbtRealBoost boost;
  // Every sample scores 0 (p = 0.5): the negative's weight is the error.
  EXPECT_EQ(boost.train(constant.get(), &params), 0.5f);
  EXPECT_EQ(boost.numWeak(), 1);
}

TEST(PbtRealBoostTest, EachThresholdMoveTakesOneDraw) {
  std::unique_ptr<VectorSampleSet> set = TrainingSet();
  PbtRealBoost boost;
  PbtAdaBoostParams params = BoostParams(3);
  boost.train(set.get(), &params);
  ResetUniformRandomForTesting();
  boost.changeToHaveFalseNeg(set.get(), 0.1f);
  boost.changeToHaveFalsePos(set.get(), 0.1f);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
}

TEST(PbtRealBoostTest, RecordRoundTripsByteForByte) {
  std::unique_ptr<VectorSampleSet> set = TrainingSet();
  PbtRealBoost boost;
  PbtAdaBoostParams params = BoostParams(3);
  boost.train(set.get(), &params);
  boost.threshold = -0.75f;
  const std::string rec = RecordBytes(boost);
  float threshold = 0;
  int32_t n = 0;
  std::memcpy(&threshold, &rec[0], 4);
  std::memcpy(&n, &rec[4], 4);
  EXPECT_EQ(threshold, -0.75f);
  ASSERT_EQ(n, 3);
  std::string members;
  for (const PbtClassifier* m : boost.members) members += RecordBytes(*m);
  EXPECT_EQ(rec.substr(8), members);

  TempFolder tmp;
  ASSERT_TRUE(boost.save(tmp.file("real.clf").c_str()));
  PbtRealBoost loaded;
  ASSERT_TRUE(loaded.load(tmp.file("real.clf").c_str()));
  EXPECT_EQ(RecordBytes(loaded), rec);
  std::unique_ptr<PbtClassifier> copy(boost.clone());
  EXPECT_EQ(RecordBytes(*copy), rec);
  // A tree node of code 1 holds this record.
  std::unique_ptr<PbtClassifier> node(PbtClassifierFactory::createNodeClassifier(1));
  ASSERT_TRUE(node != nullptr);
  EXPECT_STREQ(node->getName(), "RealBoost");
  ASSERT_TRUE(ReadRecord(*node, rec));
  EXPECT_EQ(RecordBytes(*node), rec);
  for (int i = 0; i < 9; ++i) {
    PbtSample* s = set->getSample(i, true);
    EXPECT_EQ(loaded.probability(s), boost.probability(s)) << i;
  }
  std::vector<PbtFid> features;
  loaded.collectFeatures(features);
  ASSERT_EQ(features.size(), 3u);
  EXPECT_EQ(features[0].poolIndex, 0);
  EXPECT_EQ(features[1].poolIndex, 1);
  EXPECT_EQ(features[2].poolIndex, 0);
}

TEST(PbtRealBoostTest, AMemberThatDoesNotReadLeavesTheBoosterAsItWas) {
  std::unique_ptr<VectorSampleSet> set = TrainingSet();
  PbtRealBoost good;
  good.members.push_back(ConstantLearner(*set, 0.5));
  std::string badMember = RecordBytes(good);
  badMember[8 + 143] = 3;  // the member's invalid flag
  PbtRealBoost boost;
  boost.threshold = 2.0f;
  boost.members.push_back(ConstantLearner(*set, 0.25));
  const std::string before = RecordBytes(boost);
  EXPECT_FALSE(ReadRecord(boost, badMember));
  EXPECT_EQ(RecordBytes(boost), before);
}

// Moving the threshold over the score histogram (grid -50..50, step 0.01).
TEST(PbtRealBoostTest, ThresholdsForTargetRates) {
  // Feature 0 of the positives is 1, 2, 3; of the negatives 6, 7. Each learner
  // answers 1 on the grid 0..10, so a booster of k learners scores k on every sample.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2, 3}, {6, 7}));
  auto booster = [&](int k) {
    std::unique_ptr<PbtRealBoost> b(new PbtRealBoost());
    for (int i = 0; i < k; ++i) b->members.push_back(ConstantLearner(*set, 1.0));
    return b;
  };
  struct Case {
    const char* name;
    int members;
    bool falseNeg;
    float rate;
    float low, high;  // the float walk drifts a little from the exact grid values
  } cases[] = {
      // Every positive scores 1 (bin 1 spans 0.995 to 1.005): the walk down stops
      // at its first point below that bin.
      {"false negatives at half", 1, true, 0.5f, 0.985f, 0.995f},
      {"false negatives: a rate above 1 stops at the top", 1, true, 1.5f, 50.01f, 50.01f},
      {"false negatives: rate 0 runs one step below the grid", 1, true, 0.0f, -50.02f, -50.0001f},
      // Scores beyond the grid are not counted: nothing lies below any point.
      {"false negatives with scores above 50", 60, true, 0.5f, 50.01f, 50.01f},
      {"false positives at half", 2, false, 0.5f, 1.995f, 2.005f},
      {"false positives: rate 0 runs one step above the grid", 2, false, 0.0f, 50.0101f, 50.03f},
  };
  for (const Case& c : cases) {
    std::unique_ptr<PbtRealBoost> b = booster(c.members);
    if (c.falseNeg) {
      b->changeToHaveFalseNeg(set.get(), c.rate);
    } else {
      b->changeToHaveFalsePos(set.get(), c.rate);
    }
    EXPECT_GE(b->threshold, c.low) << c.name;
    EXPECT_LE(b->threshold, c.high) << c.name;
  }
  // Zero weights: the histogram stays empty (no division), so nothing lies below
  // any point and the walk stops at once for a positive rate.
  set->getWeights(true).Fill(0.0);
  std::unique_ptr<PbtRealBoost> b = booster(1);
  b->changeToHaveFalseNeg(set.get(), 0.5f);
  EXPECT_EQ(b->threshold, 50.01f);
}
