#include "pbt/PbtAdaBoost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "PbtTestSets.h"
#include "TestSupport.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtAndBoost.h"
#include "pbt/PbtOrBoost.h"
#include "pbt/PbtTreeWeak.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtLog.h"

namespace {

// Three features; the classes overlap, so boosting takes three rounds of errors
// between 0.006 and 0.495.
const std::vector<std::vector<float>> kToyPos = {
    {1.0f, 0.86f, 1.59f},  {0.11f, -0.05f, 0.51f}, {1.06f, 2.11f, 1.26f},  {0.38f, 1.09f, 2.54f},
    {1.11f, -0.62f, 1.96f}, {1.7f, -1.11f, 1.31f}, {-0.9f, -1.05f, -0.76f}, {0.76f, -1.02f, 2.41f}};
const std::vector<std::vector<float>> kToyNeg = {
    {-0.04f, -0.72f, -2.78f}, {-0.74f, -0.56f, 1.17f}, {-1.73f, -1.07f, -0.47f}, {-1.01f, 0.77f, -0.21f},
    {-0.23f, 0.56f, 0.12f},   {-0.31f, -0.37f, 1.1f},  {-1.43f, -0.41f, 3.04f},  {-1.75f, 0.53f, 1.18f}};

std::string RowsJson(const std::vector<std::vector<float>>& rows) {
  std::string s = "[";
  for (size_t i = 0; i < rows.size(); ++i) {
    s += i ? ",[" : "[";
    for (size_t j = 0; j < rows[i].size(); ++j) s += FormatText(j ? ",%.9g" : "%.9g", rows[i][j]);
    s += "]";
  }
  return s + "]";
}

// Discrete AdaBoost over histogram stumps, written independently from the
// description of the two learners: prints every member (feature, polarity,
// threshold, alpha, error), the offset and the probability of every sample
// (positives, then negatives), emulating the float32 steps.
const char* kAdaBoostPy = R"PY(
import json, math, sys
import numpy as np

f32 = np.float32
data = json.loads(sys.argv[1])
pos = [[f32(v) for v in row] for row in data["pos"]]
neg = [[f32(v) for v in row] for row in data["neg"]]
rounds = data["rounds"]
nfeat = len(pos[0])

def seqsum(xs):
    s = 0.0
    for x in xs:
        s += x
    return s

class Hist:
    # Grid widened by one n-th of the range on each side, n + 2 steps over the range.
    def __init__(self, lo, hi, n):
        d = (hi - lo) / n
        self.min = lo - d
        self.width = (hi - lo) / (n + 2)
        self.bins = int(math.floor(((hi + d) - self.min) / self.width + 0.5)) + 1
        self.pdf = [0.0] * self.bins
    def binof(self, x):
        q = (x - self.min) / self.width + 0.5
        return -1 if math.isnan(q) else int(q)
    def cdf(self, x):
        k = self.binof(x)
        if k < 0:
            return 0.0
        return seqsum(self.pdf[: min(k, self.bins - 1) + 1])
    def at(self, x):
        k = self.binof(x)
        return self.pdf[k] if 0 <= k < self.bins else 0.0
    def normalize(self):
        t = seqsum(self.pdf)
        if t > 0:
            self.pdf = [p / t for p in self.pdf]
    def mean(self):
        s, x = 0.0, self.min
        for p in self.pdf:
            s += x * p
            x += self.width
        return s

def stump(j, wp, wn):
    vp = [float(r[j]) for r in pos]
    vn = [float(r[j]) for r in neg]
    lo, hi = min(vp + vn), max(vp + vn)
    if not (lo < hi and lo > -1e99 and hi < 1e99):
        return f32(0.5), None
    hp, hn = Hist(lo, hi, 30), Hist(lo, hi, 30)
    c = f32(seqsum(wp) / (seqsum(wp) + seqsum(wn)))
    for h, vals, ws in ((hp, vp, wp), (hn, vn, wn)):
        for v, w in zip(vals, ws):
            b = hp.binof(v)
            if 0 <= b < h.bins:
                h.pdf[b] += w
        h.normalize()
    mp, mn = f32(hp.mean()), f32(hn.mean())
    pol = 1 if mn < mp else 0
    cost, err_best = 1e10, 1e10
    thr, pol_best = f32(hp.min), pol
    width = f32(hp.width)
    t = f32(hp.min)
    end = f32(t + f32(hp.bins) * width)
    cd, omc = float(c), float(f32(1) - c)
    while t <= end:
        fn, fp = hn.cdf(float(t)), hp.cdf(float(t))
        err = cd * fp + omc * ((1 - fn) * 1.0 + 1 - 1.0)
        if pol == 0:
            err = 1 - err
        pen = float(f32(0.1 * (cd * hp.at(float(t)) + omc * hn.at(float(t)))))
        if err + pen < cost:
            cost, err_best, pol_best = err + pen, err, pol
            thr = f32(float(t) + float(width) / 2.1)
        if (1 - err) + pen < cost:
            cost, err_best, pol_best = (1 - err) + pen, 1 - err, 1 - pol
            thr = f32(float(t) + float(width) / 2.1)
        t = f32(t + width)
    return f32(err_best), (j, pol_best, thr)

def decide(m, row):
    j, pol, thr = m
    v = row[j]
    if pol == 0:
        return 1.0 if v <= thr else -1.0
    return 1.0 if v >= thr else -1.0

wp = [0.5 / len(pos)] * len(pos)
wn = [0.5 / len(neg)] * len(neg)
members, alphas, offset = [], [], f32(0)
for r in range(rounds):
    best_err, best = f32(1), None
    for j in range(nfeat):
        e, m = stump(j, wp, wn)
        if e < best_err:
            best_err, best = e, m
    beta = f32(best_err / (f32(1) - best_err))
    alpha = f32(-math.log(float(beta))) if beta > 0 else f32(math.log(100.0))
    alphas.append(alpha)
    offset = f32(float(offset) + 0.5 * float(alpha))
    wp = [w * float(beta) if decide(best, row) >= 0 else w for w, row in zip(wp, pos)]
    wn = [w * float(beta) if decide(best, row) < 0 else w for w, row in zip(wn, neg)]
    t = f32(seqsum(wp) + seqsum(wn))
    if t > 0:
        wn = [w / float(t) for w in wn]
        wp = [w / float(t) for w in wp]
    members.append(best)
    print("member %d %d %.9g %.9g %.9g" % (best[0], best[1], best[2], alpha, best_err))
    if best_err < 0.006 or best_err > 0.495:
        break

print("offset %.9g" % offset)
for row in pos + neg:
    s = f32(0)
    for m, a in zip(members, alphas):
        if decide(m, row) >= 0:
            s = f32(s + a)
    d = f32(s - offset)
    print("p %.9g" % f32(1.0 / (1.0 + math.exp(float(d) * 2 * -2.0))))
)PY";

// Typed and legacy records read with the flag set for the duration of a scope.
struct TypedFlag {
  explicit TypedFlag(int value) : saved(gTypedClassifierFiles) { gTypedClassifierFiles = value; }
  ~TypedFlag() { gTypedClassifierFiles = saved; }
  int saved;
};

}  // namespace

TEST(PbtAdaBoostTest, ThreeRoundsMatchAnIndependentReimplementation) {
  VectorSampleSet set(kToyPos, kToyNeg);
  const VectorQo<double> posBefore = set.getWeights(true);
  const VectorQo<double> negBefore = set.getWeights(false);
  PbtAdaBoost booster;
  PbtAdaBoostParams params = BoostParams(3);
  TempFolder tmp;
  params.logName = tmp.file("log.txt");
  const float error = booster.train(&set, &params);

  const std::string json = "{\"rounds\":3,\"pos\":" + RowsJson(kToyPos) + ",\"neg\":" + RowsJson(kToyNeg) + "}";
  const ProcessResult py = RunPython(kAdaBoostPy, {json});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  std::string tag;
  size_t m = 0, sample = 0;
  while (lines >> tag) {
    if (tag == "member") {
      int feature, polarity;
      double threshold, alpha, err;
      lines >> feature >> polarity >> threshold >> alpha >> err;
      ASSERT_LT(m, booster.members.size());
      const PbtAdaWeak* stump = dynamic_cast<const PbtAdaWeak*>(booster.members[m]);
      ASSERT_NE(stump, nullptr);
      EXPECT_EQ(stump->fid.params[0], feature) << "member " << m;
      EXPECT_EQ(stump->polarity, polarity) << "member " << m;
      EXPECT_NEAR(stump->threshold, threshold, 1e-6) << "member " << m;
      EXPECT_NEAR(booster.alphas[m], alpha, 1e-6) << "member " << m;
      ++m;
    } else if (tag == "offset") {
      double offset;
      lines >> offset;
      EXPECT_NEAR(booster.offset, offset, 1e-6);
    } else {
      double p;
      lines >> p;
      const bool positive = sample < kToyPos.size();
      const int index = static_cast<int>(positive ? sample : sample - kToyPos.size());
      EXPECT_NEAR(booster.probability(set.getSample(index, positive)), p, 1e-6) << "sample " << sample;
      ++sample;
    }
  }
  EXPECT_EQ(m, 3u);
  EXPECT_EQ(booster.numWeak(), 3);
  EXPECT_EQ(sample, kToyPos.size() + kToyNeg.size());

  // The caller's weights come back unchanged, the cache is freed, and the error is
  // the ensemble's weighted error on them.
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(set.getWeights(true)[i], posBefore[i]);
    EXPECT_EQ(set.getWeights(false)[i], negBefore[i]);
  }
  EXPECT_FALSE(set.featuresAreCached());
  float fp, fn, total;
  booster.evaluateError(&set, &fp, &fn, &total, true);
  EXPECT_EQ(error, total);
}

TEST(PbtAdaBoostTest, TrainingLogLines) {
  VectorSampleSet set(kToyPos, kToyNeg);
  TempFolder tmp;
  const std::string log = tmp.file("log.txt");
  PbtAdaBoostParams params = BoostParams(3, log, true);
  PbtAdaBoost booster;
  booster.train(&set, &params);
  EXPECT_EQ(MaskTimes(ReadFileText(log)),
            "  Training AdaBoost with count:  pos=8  neg=8  (prep time=#s)\n"
            "  i= 0  best=    0 e=0.062 test feature 0 (time=#s)\n"
            "  i= 1  best=    0 e=0.133 test feature 0 (time=#s)\n"
            "  i= 2  best=    1 e=0.115 test feature 1 (time=#s)\n"
            "  AdaBoost training error=0.000000  fp=0.000000  fn=0.000000 (time=#s)\n");

  // Without verbose: the header and the result only.
  std::remove(log.c_str());
  params.verbose = 0;
  PbtAdaBoost quiet;
  quiet.train(&set, &params);
  EXPECT_EQ(MaskTimes(ReadFileText(log)),
            "  Training AdaBoost with count:  pos=8  neg=8  (prep time=#s)\n"
            "  AdaBoost training error=0.000000  fp=0.000000  fn=0.000000 (time=#s)\n");
}

TEST(PbtAdaBoostTest, RoundsStopAtTheirLimits) {
  const float ln100 = static_cast<float>(std::log(100.0));
  struct Case {
    const char* name;
    std::vector<float> pos, neg;
    int numWeak;
    int members;
    float alpha0;   // NaN: not checked
    float offset;
  } cases[] = {
      // No rounds: an empty ensemble scores 0, probability 1 / (1 + exp(0)).
      {"no rounds", {1, 2}, {3, 4}, 0, 0, NAN, 0.0f},
      // A perfect split: error 0, alpha ln 100, the loop stops after one member.
      {"error 0", {1, 2}, {3, 4}, 5, 1, ln100, ln100 / 2},
      // All values equal: the stump reports 0.5, alpha 0, the loop stops (0.5 > 0.495).
      {"error 0.5", {5, 5}, {5, 5}, 5, 1, 0.0f, 0.0f},
  };
  for (const Case& c : cases) {
    std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature(c.pos, c.neg));
    PbtAdaBoostParams params = BoostParams(c.numWeak);
    PbtAdaBoost booster;
    booster.train(set.get(), &params);
    EXPECT_EQ(booster.numWeak(), c.members) << c.name;
    EXPECT_EQ(booster.alphas.size(), static_cast<size_t>(c.members)) << c.name;
    if (!std::isnan(c.alpha0)) {
      EXPECT_FLOAT_EQ(booster.alphas[0], c.alpha0) << c.name;
    }
    EXPECT_FLOAT_EQ(booster.offset, c.offset) << c.name;
  }
  // The bounds are doubles: a float error of exactly 0.495f (0.495000005) stops.
  const struct {
    float error;
    bool stops;
  } bounds[] = {{0.495f, true}, {0.49499f, false}, {0.006f, false}, {0.00599f, true}, {0.25f, false}, {0.0f, true}};
  for (const auto& b : bounds) EXPECT_EQ(PbtAdaBoost::stopsAfterRound(b.error), b.stops) << b.error;

  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1}, {2}));
  PbtAdaBoost empty;
  EXPECT_EQ(empty.ensembleScore(set->getSample(0, true)), 0.0f);
  EXPECT_EQ(empty.probability(set->getSample(0, true)), 0.5f);
}

TEST(PbtAdaBoostTest, StopsWithoutACandidateBelowErrorOne) {
  // A set whose sample has no features: no candidate at all; and a set whose weights
  // are all zero: every stump's error is not a number. Neither adds a member.
  TempFolder tmp;
  const std::string log = tmp.file("log.txt");
  VectorSampleSet noFeatures({{}}, {{}});
  PbtAdaBoostParams params = BoostParams(3, log, true);
  PbtAdaBoost booster;
  booster.train(&noFeatures, &params);
  EXPECT_EQ(booster.numWeak(), 0);
  EXPECT_EQ(booster.offset, 0.0f);

  std::unique_ptr<VectorSampleSet> zero(VectorSampleSet::singleFeature({1, 2}, {3, 4}));
  zero->getWeights(true).Fill(0.0);
  zero->getWeights(false).Fill(0.0);
  PbtAdaBoost second;
  second.train(zero.get(), &params);
  EXPECT_EQ(second.numWeak(), 0);
  EXPECT_EQ(second.offset, 0.0f);
  EXPECT_TRUE(std::isfinite(second.probability(zero->getSample(0, true))));
  const std::string text = MaskTimes(ReadFileText(log));
  EXPECT_NE(text.find("  i= 0  no weak classifier with an error below 1; training stops\n"), std::string::npos);
}

TEST(PbtAdaBoostTest, UpdateWeightsScalesTheCorrectSamplesAndNeverDividesByZero) {
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 2}, {3, 4}));
  set->calculateAllFeatures();
  PbtAdaBoost booster;
  std::unique_ptr<PbtAdaWeak> stump(Stump(0, 2.5f, 0));
  // Error 0: beta 0, every correctly classified weight becomes 0; nothing divides.
  EXPECT_FALSE(booster.updateWeights(set.get(), stump.get(), 0, 0.0f));
  EXPECT_EQ(set->getWeights(true)[0], 0.0);
  EXPECT_EQ(set->getWeights(false)[1], 0.0);
  EXPECT_FLOAT_EQ(booster.alphas[0], std::log(100.0));

  // Error 0.25 with one wrong negative: beta 1/3 on the three correct samples.
  std::unique_ptr<VectorSampleSet> other(VectorSampleSet::singleFeature({1, 2}, {3, 2}));
  other->calculateAllFeatures();
  PbtAdaBoost b2;
  EXPECT_TRUE(b2.updateWeights(other.get(), stump.get(), 0, 0.25f));
  EXPECT_FLOAT_EQ(b2.alphas[0], std::log(3.0));
  EXPECT_FLOAT_EQ(b2.offset, std::log(3.0) / 2);
  EXPECT_NEAR(other->getWeights(false)[1], 0.5, 1e-7);
  EXPECT_NEAR(other->getWeights(false)[0], 1.0 / 6, 1e-7);
  EXPECT_NEAR(other->getWeights(true)[0], 1.0 / 6, 1e-7);
}

TEST(PbtAdaBoostTest, EqualErrorsKeepTheEarlierCandidate) {
  // Features 0 and 1 split equally well; feature 0 is chosen.
  VectorSampleSet set({{1, 1}, {2, 2}}, {{3, 3}, {4, 4}});
  PbtAdaBoostParams params = BoostParams(1);
  PbtAdaBoost booster;
  booster.train(&set, &params);
  ASSERT_EQ(booster.numWeak(), 1);
  std::vector<PbtFid> features;
  booster.collectFeatures(features);
  ASSERT_EQ(features.size(), 1u);
  EXPECT_EQ(features[0].params[0], 0);
}

TEST(PbtAdaBoostTest, ScoreAndProbability) {
  PbtAdaBoost booster;
  booster.members = {Stump(0, 0.5f, 1), Stump(0, 1.5f, 1), Stump(0, 2.5f, 1)};
  booster.alphas = {1.0f, 2.0f, 0.5f};
  booster.offset = 1.75f;
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({2.0f, 3.0f}, {0.0f, std::nanf("")}));
  struct Case {
    bool positive;
    int index;
    float score;
  } cases[] = {{true, 0, 3.0f}, {true, 1, 3.5f}, {false, 0, 0.0f}, {false, 1, 0.0f}};
  for (const Case& c : cases) {
    PbtSample* s = set->getSample(c.index, c.positive);
    EXPECT_EQ(booster.ensembleScore(s), c.score);
    const float expected = static_cast<float>(1.0 / (1.0 + std::exp((c.score - 1.75f) * 2 * -2.0)));
    EXPECT_EQ(booster.probability(s), expected);
    VectorQo<double> post;
    booster.posterior(s, post);
    ASSERT_EQ(post.cols, 2);
    EXPECT_EQ(post[1], static_cast<double>(expected));
    EXPECT_EQ(post[0], 1.0 - expected);
  }
  EXPECT_STREQ(booster.getName(), "AdaBoost");
  EXPECT_EQ(booster.typeCode(), 4);
}

TEST(PbtAdaBoostTest, ThresholdChangesPlaceTheOffsetOnTheScoreGrid) {
  // One member of alpha 1: scores are 1 for values >= 0.5, else 0.
  std::unique_ptr<VectorSampleSet> set(VectorSampleSet::singleFeature({1, 1, 1, 0}, {0, 0, 0, 1}));
  PbtAdaBoost booster;
  booster.members = {Stump(0, 0.5f, 1)};
  booster.alphas = {1.0f};
  ResetUniformRandomForTesting();
  // A quarter of the positive weight scores 0: the offset goes just below 1, where
  // less than 0.3 of it lies below.
  booster.changeToHaveFalseNeg(set.get(), 0.3f);
  EXPECT_GE(booster.offset, 0.985f);
  EXPECT_LT(booster.offset, 0.995f);
  EXPECT_GE(booster.probability(set->getSample(0, true)), 0.5f);
  EXPECT_LT(booster.probability(set->getSample(3, true)), 0.5f);
  // A quarter of the negative weight scores 1: the offset goes to 0, above which
  // less than 0.3 of it lies.
  booster.changeToHaveFalsePos(set.get(), 0.3f);
  EXPECT_GE(booster.offset, -0.005f);
  EXPECT_LT(booster.offset, 0.005f);
  // Each change builds one histogram: one draw.
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2);
  // Targets no grid value meets: the walk ends past the grid.
  booster.changeToHaveFalseNeg(set.get(), 0.0f);
  EXPECT_LT(booster.offset, -50.0f);
  booster.changeToHaveFalsePos(set.get(), 0.0f);
  EXPECT_GT(booster.offset, 50.0f);
}

TEST(PbtAdaBoostTest, RecordsRoundTripInBothLayouts) {
  VectorSampleSet set(kToyPos, kToyNeg);
  PbtAdaBoostParams params = BoostParams(3);
  PbtAdaBoost booster;
  booster.train(&set, &params);

  for (int typed : {1, 0}) {
    TypedFlag flag(typed);
    const std::string rec = RecordBytes(booster);
    // offset, n, then per member (type code), 153 stump bytes, alpha.
    ASSERT_EQ(rec.size(), 8u + 3 * (153 + 4 + (typed ? 1 : 0))) << typed;
    int32_t n;
    std::memcpy(&n, &rec[4], 4);
    EXPECT_EQ(n, 3);
    if (typed) {
      EXPECT_EQ(rec[8], 1);
    }
    PbtAdaBoost back;
    ASSERT_TRUE(ReadWholeRecord(back, rec)) << typed;
    EXPECT_EQ(RecordBytes(back), rec);
    EXPECT_EQ(back.alphas, booster.alphas);
    EXPECT_EQ(back.offset, booster.offset);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(back.probability(set.getSample(i, true)), booster.probability(set.getSample(i, true)));
    }
    // Cloning copies members, alphas and offset.
    std::unique_ptr<PbtClassifier> copy(booster.clone());
    EXPECT_EQ(RecordBytes(*copy), rec);
  }
  // The explicit legacy operations ignore the flag.
  TypedFlag flag(1);
  std::ostringstream out;
  BinaryWriter w(out);
  booster.writeLegacy(w);
  EXPECT_EQ(out.str().size(), 8u + 3 * 157);
  PbtAdaBoost legacy;
  std::istringstream in(out.str());
  BinaryReader r(in);
  ASSERT_TRUE(legacy.readLegacy(r));
  EXPECT_EQ(legacy.numWeak(), 3);
}

TEST(PbtAdaBoostTest, CorruptRecordsDoNotRead) {
  PbtAdaBoost good;
  good.members = {Stump(0, 1.0f, 0), Stump(1, 2.0f, 1)};
  good.alphas = {0.5f, 0.25f};
  good.offset = 0.375f;
  const std::string rec = RecordBytes(good);
  ASSERT_EQ(rec.size(), 8u + 2 * 158);
  auto withCount = [&](int32_t n) {
    std::string r = rec;
    std::memcpy(&r[4], &n, 4);
    return r;
  };
  auto withByte = [&](size_t at, char b) {
    std::string r = rec;
    r[at] = b;
    return r;
  };
  // A booster that holds itself kMaxNesting + 1 times.
  std::string nested = std::string(8, '\0');
  for (int i = 0; i < PbtAdaBoost::kMaxNesting; ++i) {
    std::string outer(4, '\0');
    const int32_t one = 1;
    outer.append(reinterpret_cast<const char*>(&one), 4);
    outer += '\x04';
    nested = outer + nested + std::string(4, '\0');
  }
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short header", rec.substr(0, 6)},
      {"truncated member", rec.substr(0, 100)},
      {"missing last alpha", rec.substr(0, rec.size() - 2)},
      {"negative count", withCount(-1)},
      {"count beyond the bytes", withCount(1000000)},
      {"unknown type code", withByte(8, 9)},
      {"type code 0", withByte(8, 0)},
      {"bad stump flag", withByte(8 + 1 + 143, 7)},
      {"nested too deep", nested},
  };
  for (const Case& c : cases) {
    PbtAdaBoost b;
    b.offset = 9.0f;
    std::istringstream in(c.bytes);
    BinaryReader r(in);
    EXPECT_FALSE(b.read(r)) << c.name;
    EXPECT_FALSE(r.ok()) << c.name;
    EXPECT_EQ(b.numWeak(), 0) << c.name;
    EXPECT_EQ(b.offset, 9.0f) << c.name;
  }
  // One level less nests fine.
  PbtAdaBoost ok;
  EXPECT_TRUE(ReadWholeRecord(ok, nested.substr(9, nested.size() - 13)));
}

TEST(PbtAdaBoostTest, TrainingTakesOneStumpPairPerFeatureAndPerRound) {
  VectorSampleSet set(kToyPos, kToyNeg);
  PbtAdaBoostParams params = BoostParams(3);
  PbtAdaBoost booster;
  ResetUniformRandomForTesting();
  booster.train(&set, &params);
  // Three stump candidates (two draws each), then one clone per round (two each).
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3 * 2 + 3 * 2);
  // Reading a record constructs one stump per member; cloning one per member too.
  const std::string rec = RecordBytes(booster);
  ResetUniformRandomForTesting();
  PbtAdaBoost back;
  ASSERT_TRUE(ReadWholeRecord(back, rec));
  std::unique_ptr<PbtClassifier> copy(back.clone());
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3 * 2 + 3 * 2);
}

TEST(PbtAdaBoostTest, CascadeCandidatesCompeteWithTheStumps) {
  // Positives are high on feature 0 or on feature 1: no stump separates them, an OR
  // of two stumps does. The AND candidate (one level: it rejects no positive) loses.
  VectorSampleSet set({{0, 5}, {1, 6}, {5, 0}, {6, 1}}, {{0, 0}, {1, 1}, {0, 1}, {1, 0}});
  TempFolder tmp;
  PbtAdaBoostParams params = BoostParams(3, tmp.file("log.txt"), true);
  params.orLevels = 2;
  params.andLevels = 2;
  PbtAdaBoost booster;
  ResetUniformRandomForTesting();
  EXPECT_EQ(booster.train(&set, &params), 0.0f);
  // Two stump candidates (4 draws); per round the OR candidate trains two stumps and
  // keeps two clones (8), the AND candidate trains two and keeps one (6); the
  // ensemble clones the chosen OR (4).
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 4 + 8 + 6 + 4);
  ASSERT_EQ(booster.numWeak(), 1);
  EXPECT_EQ(booster.members[0]->typeCode(), 2);
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)),
            "  Training AdaBoost with count:  pos=4  neg=4  (prep time=#s)\n"
            "    or: i= 0  best=    0 e=0.250 test feature 0 (time=#s)\n"
            "    or: i= 1  best=    1 e=0.000 test feature 1 (time=#s)\n"
            "    and: i= 0  best=    0 e=0.250 test feature 0 (time=#s)\n"
            "  i= 0  the weights sum to zero; left unnormalised\n"
            "  i= 0  best=    2 e=0.000 OrBoost (time=#s)\n"
            "  AdaBoost training error=0.000000  fp=0.000000  fn=0.000000 (time=#s)\n");
  for (int i = 0; i < 4; ++i) EXPECT_GT(booster.probability(set.getSample(i, true)), 0.5f);
  const std::string rec = RecordBytes(booster);
  ASSERT_EQ(rec.size(), 8u + 1 + (8 + 2 * 153) + 4);
  EXPECT_EQ(rec[8], 2);

  // Without verbose the zero-sum note is not written either.
  std::remove(params.logName.c_str());
  params.verbose = 0;
  PbtAdaBoost quiet;
  quiet.train(&set, &params);
  EXPECT_EQ(MaskTimes(ReadFileText(params.logName)).find("unnormalised"), std::string::npos);
}

TEST(PbtAdaBoostTest, TreeDepthMakesTheWeakTreeTheOnlyCandidate) {
  // On feature 1 the positives lie between two groups of negatives.
  VectorSampleSet set({{7, 2}, {7, 3}}, {{7, 0}, {7, 1}, {7, 4}, {7, 5}, {7, 6}});
  PbtAdaBoostParams params = BoostParams(2);
  params.treeDepth = 2;
  params.orLevels = 3;  // ignored beside a tree
  PbtAdaBoost booster;
  ResetUniformRandomForTesting();
  const float error = booster.train(&set, &params);
  // Each of the two rounds: the tree trains two stumps and keeps one at each of its
  // three nodes (18 draws); the ensemble clones it (three stumps, 6 draws).
  ASSERT_EQ(booster.numWeak(), 2);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 2 * (18 + 6));
  for (const PbtClassifier* m : booster.members) EXPECT_EQ(m->typeCode(), 5);
  EXPECT_EQ(error, 0.0f);
  const std::string rec = RecordBytes(booster);
  EXPECT_EQ(rec.size(), 8u + 2 * (1 + 486 + 4));
  EXPECT_EQ(rec[8], 5);
}

TEST(PbtAdaBoostTest, TypedRecordOfEveryMemberKindRewritesIdenticalBytes) {
  auto stump = [](int feature, float threshold) { return Stump(feature, threshold, feature % 2); };
  PbtOrBoost* disjunction = new PbtOrBoost();
  disjunction->members = {stump(1, 0.5f), stump(2, 1.5f)};
  PbtAndBoost* conjunction = new PbtAndBoost();
  conjunction->members = {stump(3, 2.5f)};
  conjunction->offset = 0.125f;
  PbtAdaBoost* inner = new PbtAdaBoost();
  inner->members = {stump(4, 3.5f)};
  inner->alphas = {0.75f};
  inner->offset = 0.375f;
  PbtTreeWeak* tree = new PbtTreeWeak();
  tree->root = stump(5, 4.5f);
  tree->children = {new PbtTreeWeak(), new PbtTreeWeak()};
  tree->children[1]->depth = 1;
  tree->children[1]->root = stump(6, 5.5f);
  PbtAdaBoost booster;
  booster.members = {stump(0, -0.5f), disjunction, conjunction, inner, tree};
  booster.alphas = {1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
  booster.offset = 7.5f;

  TypedFlag flag(1);
  const std::string rec = RecordBytes(booster);
  ASSERT_EQ(rec.size(), 8u + 5 * 5 + 153 + (8 + 2 * 153) + (8 + 153) + (8 + 158) + (162 + 9 + 162));
  std::vector<int> codes;
  size_t at = 8;
  for (size_t sizes : {153u, 8u + 306, 8u + 153, 8u + 158, 162u + 9 + 162}) {
    codes.push_back(rec[at]);
    at += 1 + sizes + 4;
  }
  EXPECT_EQ(codes, (std::vector<int>{1, 2, 3, 4, 5}));

  PbtAdaBoost back;
  ASSERT_TRUE(ReadWholeRecord(back, rec));
  EXPECT_EQ(RecordBytes(back), rec);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(back.members[i]->typeCode(), i + 1);
  std::vector<PbtFid> features;
  back.collectFeatures(features);
  ASSERT_EQ(features.size(), 7u);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(features[i].params[0], i);
}
