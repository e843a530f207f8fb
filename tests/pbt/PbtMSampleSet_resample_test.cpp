#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PbtMTestSets.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtMSampleSet.h"
#include "tests/common/TestSupport.h"
#include "tests/numerics/RandomReference.h"

namespace {

// Rows of one feature whose value names the sample: class c, index i -> 100c + i.
MVectorSampleSet* NamedSet(const std::vector<int>& counts, std::vector<float> classWeight = {}) {
  std::vector<std::vector<float>> values(counts.size());
  for (size_t c = 0; c < counts.size(); ++c) {
    for (int i = 0; i < counts[c]; ++i) values[c].push_back(100.0f * c + i);
  }
  return MVectorSampleSet::singleFeature(values, std::move(classWeight));
}

VectorQo<double> Vec(const std::vector<double>& values) {
  VectorQo<double> v(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) v[static_cast<int>(i)] = values[i];
  return v;
}

VectorQo<unsigned char> Flags(const std::vector<int>& values) {
  VectorQo<unsigned char> v(static_cast<int>(values.size()));
  for (size_t i = 0; i < values.size(); ++i) v[static_cast<int>(i)] = static_cast<unsigned char>(values[i]);
  return v;
}

// An independent rendering of the distribution draws used by the resampling, on top
// of the reference generator: the sampling-table draw of the two-class fill and the
// scanning draw of the weighted subsampling. Prints "draws" and the results.
const char* kResampleReference = R"PY(
import math, sys
calls = [0]
def u():
    calls[0] += 1
    return draw()
def table(pdf):
    total = 0.0
    for p in pdf: total += p
    if total > 0:
        for i in range(len(pdf)): pdf[i] /= total
    bins = len(pdf)
    step = 0.01 / bins if bins < 10000 else 0.1 / bins
    size = int(1 + math.trunc(1.0 / step))
    t = [0] * size
    k = 0; s = 0.0
    for i in range(bins):
        s += pdf[i]
        while k * step < s and k < size:
            t[k] = i; k += 1
    if k >= 1:
        for j in range(k, size): t[j] = t[k - 1]
    return t, step
def fill(counts, flags, max_pos, max_neg):
    lst = [(s, i) for s in range(len(counts)) for i in range(counts[s])]
    mark = [(-2 if flags[s] else -1) for (s, i) in lst]
    for side in (0, 1):
        wanted = max_pos if side else max_neg
        unch, taken = (-2, 1) if side else (-1, 0)
        avail = sum(counts[s] for s in range(len(counts)) if flags[s] == side)
        if avail < wanted:
            mark = [taken if m == unch else m for m in mark]
            continue
        u()  # the distribution's construction
        pdf = [1.0 if m == unch else 0.0 for m in mark]
        t, step = table(pdf)
        chosen = tries = 0
        while chosen < wanted:
            i = math.trunc(u() / step)
            d = t[i] if 0 <= i < len(t) else -1
            tries += 1
            if d >= 0 and mark[d] == unch and pdf[d] > 0:
                mark[d] = taken; pdf[d] = 0.0; chosen += 1
            if tries % 100 == 0:
                t, step = table(pdf)
    return [(lst[e], mark[e]) for e in range(len(lst)) if mark[e] in (0, 1)]
def weighted(weights, t):
    u()  # the distribution's construction
    pdf = [float(__import__('numpy').float32(w)) for w in weights]
    out = []
    for _ in range(t):
        total = 0.0
        for p in pdf: total += p
        for i in range(len(pdf)): pdf[i] /= total
        def scan(x):
            s = 0.0
            for i in range(len(pdf)):
                s += pdf[i]
                if s >= x: return i
            return len(pdf) - 1
        d = scan(u())
        if pdf[d] == 0: d = scan(u())
        pdf[d] = 0.0
        out.append(d)
    return out
mode = sys.argv[1]
args = [[int(x) for x in a.split(',')] if a else [] for a in sys.argv[2:]]
if mode == 'fill':
    res = fill(args[0], args[1], args[2][0], args[2][1])
    print(calls[0])
    print(' '.join('%d:%d:%d' % (s, i, m) for ((s, i), m) in res))
else:
    res = weighted([w / 1000.0 for w in args[0]], args[1][0])
    print(calls[0])
    print(' '.join(str(d) for d in res))
)PY";

std::string Joined(const std::vector<int>& v) {
  std::string s;
  for (size_t k = 0; k < v.size(); ++k) s += (k ? "," : "") + std::to_string(v[k]);
  return s;
}

ProcessResult Reference(const std::vector<std::string>& args) {
  return RunPython(std::string(kPythonReferenceGenerator) + kResampleReference, args);
}

}  // namespace

TEST(PbtMSampleSetResampleTest, TwoClassFillMatchesAnIndependentReference) {
  ScopedMinClassSamples min(1);
  struct Case {
    const char* name;
    std::vector<int> counts, flags;
    int maxPositives, maxNegatives;
  };
  const Case cases[] = {
      // Both sides drawn; the negatives need more than 100 tries (table rebuilt).
      {"both sides drawn", {4, 5, 3, 300}, {1, 0, 1, 0}, 4, 290},
      // More positives wanted than exist: all taken, no draw; the negatives exactly
      // as many as exist: all drawn one by one.
      {"take all, draw all", {6, 2, 7}, {0, 1, 0}, 10, 13},
  };
  for (const Case& c : cases) {
    ProcessResult py = Reference({"fill", Joined(c.counts), Joined(c.flags),
                                  std::to_string(c.maxPositives) + "," + std::to_string(c.maxNegatives)});
    ASSERT_EQ(py.status, 0) << py.err;
    std::istringstream lines(py.out);
    long long expectedDraws = 0;
    lines >> expectedDraws;
    std::vector<std::string> expected;
    for (std::string item; lines >> item;) expected.push_back(item);

    std::unique_ptr<MVectorSampleSet> set(NamedSet(c.counts));
    set->setClassSplit(Flags(c.flags));
    VectorSampleSet target;
    ResetUniformRandomForTesting();
    set->PbtMSampleSet::resampleFrom(&target, c.maxPositives, c.maxNegatives);
    EXPECT_EQ(UniformRandomDrawCountForTesting(), expectedDraws) << c.name;

    std::vector<std::string> got;
    int nPos = 0;
    target.reset();
    while (target.hasNext()) {
      target.next();
      int i = 0;
      uint16_t cls = 0;
      target.getCurrentEntry(i, cls);
      const int positive = c.flags[cls];
      nPos += positive;
      got.push_back(std::to_string(cls) + ":" + std::to_string(i) + ":" + std::to_string(positive));
    }
    EXPECT_EQ(got, expected) << c.name;
    EXPECT_EQ(target.numSamples(true), nPos) << c.name;
    EXPECT_EQ(target.numSamples(true) + target.numSamples(false), static_cast<int>(got.size())) << c.name;
  }
}

TEST(PbtMSampleSetResampleTest, TwoClassFillCarriesWeightsMassesAndTheSharedSample) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3, 1}, {0.2f, 0.3f, 0.5f}));
  set->setClassMass(0, 0.5);
  set->setClassMass(1, 0.25);
  set->setClassMass(2, 2.0);
  set->setClassSplit(Flags({1, 0, 1}));
  VectorSampleSet target;
  set->resampleFrom(&target, 10, 10);
  EXPECT_EQ(target.numSamples(true), 3);
  EXPECT_EQ(target.numSamples(false), 3);
  // Chosen weights in list order, normalised to a total of 1 (here about 1 already).
  EXPECT_NEAR(target.getWeights(true)[0], 0.1, 1e-7);
  EXPECT_NEAR(target.getWeights(true)[2], 0.5, 1e-7);
  EXPECT_NEAR(target.getWeights(false)[1], 0.1, 1e-7);
  EXPECT_DOUBLE_EQ(target.getWeights(true).Sum() + target.getWeights(false).Sum(), 1.0);
  EXPECT_EQ(target.getClassMass(true), 2.5);
  EXPECT_EQ(target.getClassMass(false), 0.25);
  EXPECT_EQ(target.getSampleObject(), set->getSampleObject());
  // The test set turned the entries into value rows: positives of classes 0 and 2.
  ASSERT_EQ(target.posValues.size(), 3u);
  EXPECT_EQ(target.posValues[2][0], 200.0f);
  EXPECT_EQ(target.negValues[1][0], 101.0f);
  target.reset();
  target.next();
  EXPECT_EQ(target.current()->getFeatureValue(target.current()->featurePool[0]), 0.0f);
  // The target does not own the sample: destroying both must not free it twice
  // (checked by the sanitizer build).
}

TEST(PbtMSampleSetResampleTest, LargeClassesKeepExactIndices) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({40000, 3}));
  set->setClassSplit(Flags({0, 1}));
  VectorSampleSet target;
  set->PbtMSampleSet::resampleFrom(&target, 5, 50000);
  ASSERT_EQ(target.numSamples(false), 40000);
  target.reset();
  int i = 0;
  uint16_t cls = 0;
  for (int e = 0; e <= 39999; ++e) target.next();
  target.getCurrentEntry(i, cls);
  EXPECT_EQ(i, 39999);
  EXPECT_EQ(cls, 0);
  target.next();
  target.getCurrentEntry(i, cls);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(cls, 1);
}

TEST(PbtMSampleSetResampleTest, WeightedDrawWithoutReplacementMatchesAReference) {
  // Weights in thousandths; the zero weight is never drawn.
  const std::vector<int> milli = {100, 0, 300, 50, 250, 300};
  ProcessResult py = Reference({"weighted", Joined(milli), "4"});
  ASSERT_EQ(py.status, 0) << py.err;
  std::istringstream lines(py.out);
  long long expectedDraws = 0;
  lines >> expectedDraws;
  std::vector<int> expected;
  for (int d; lines >> d;) expected.push_back(10 + d);

  VectorQo<double> w(static_cast<int>(milli.size()));
  std::vector<int> positions;
  for (size_t k = 0; k < milli.size(); ++k) {
    w[static_cast<int>(k)] = milli[k] / 1000.0;
    positions.push_back(10 + static_cast<int>(k));
  }
  std::vector<int> chosen = {99};
  ResetUniformRandomForTesting();
  PbtMSampleSet::drawWithoutReplacement(chosen, positions, w, 4);
  EXPECT_EQ(chosen, expected);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), expectedDraws);

  // Asked for more than the positive weights allow: every such position once.
  ResetUniformRandomForTesting();
  PbtMSampleSet::drawWithoutReplacement(chosen, positions, w, 9);
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(chosen, (std::vector<int>{10, 12, 13, 14, 15}));
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);
}

TEST(PbtMSampleSetResampleTest, ResampleToSizesSubsamplesByWeightAndKeepsSmallClassesWhole) {
  ScopedMinClassSamples min(2);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({5, 3, 4}, {0.5f, 0.5f, 0.0f}));
  VectorQo<int> sizes(2);
  sizes[0] = 2;
  sizes[1] = 3;  // not below the count: the class stays whole with its weights
  ResetUniformRandomForTesting();
  set->resampleToSizes(sizes);
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);  // one construction, two draws
  EXPECT_EQ(set->classCount[0], 2);
  EXPECT_EQ(set->classCount[1], 3);
  EXPECT_EQ(set->classCount[2], 0);  // past the end of sizes
  // Kept samples weigh 1 before normalising: total 2 + 0.5.
  EXPECT_DOUBLE_EQ(set->weights[0][0], 0.4);
  EXPECT_DOUBLE_EQ(set->weights[0][1], 0.4);
  EXPECT_DOUBLE_EQ(set->weights[1][2], static_cast<double>(0.5f) / 3 / 2.5);
  EXPECT_DOUBLE_EQ(set->classMass[0], 0.4);
  EXPECT_EQ(set->classMass[1], 1.0);
  EXPECT_EQ(set->classMass[2], 0.0);
  EXPECT_EQ(set->classOfSlot, (std::vector<int>{0, 1}));
  // The kept rows stay paired with their samples, in index order.
  ASSERT_EQ(set->rows[0].size(), 2u);
  EXPECT_LT(set->rows[0][0][0], set->rows[0][1][0]);
  EXPECT_EQ(set->numEntries(), 5);
}

// Entries in an order other than index order (as a sorting derived set leaves them):
// after a selection every entry still names its own sample, with its own weight.
TEST(PbtMSampleSetResampleTest, SelectionKeepsSamplesWeightsAndEntriesPaired) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({3, 5}, {0.5f, 0.5f}));
  std::reverse(set->entryClass.begin(), set->entryClass.end());
  std::reverse(set->entryIndex.begin(), set->entryIndex.end());
  // Class 0 dropped entirely; class 1 keeps indices 1, 2 and 4 with factors i + 1.
  set->selectSamples({Vec({0, 0, 0}), Vec({0, 2, 3, 0, 5})});
  EXPECT_EQ(set->classCount[0], 0);
  EXPECT_EQ(set->classCount[1], 3);
  EXPECT_EQ(set->classMass[0], 0.0);
  EXPECT_DOUBLE_EQ(set->classMass[1], 0.6);
  EXPECT_FALSE(set->isActiveClass(0));
  EXPECT_EQ(set->numClasses(), 1);
  int c = 0, i = 0;
  std::vector<float> order;
  set->reset();
  while (set->next(c, i)) {
    PbtSample* s = set->current();
    const float v = s->getFeatureValue(s->featurePool[0]);
    order.push_back(v);
    EXPECT_DOUBLE_EQ(set->currentWeight(), (v - 100 + 1) / 10.0) << v;
  }
  EXPECT_EQ(order, (std::vector<float>{104, 102, 101}));
}

TEST(PbtMSampleSetResampleTest, SplitByLabelsMakesOneSubsetPerLabelValue) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3, 0}));  // three class labels
  const std::vector<int> labels = {2, 0, 0, 2, 2};
  std::vector<PbtMSampleSet*> out = {set->clone(), nullptr};  // replaced (and deleted)
  set->splitByLabels(out, labels, 3);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0]->numEntries(), 2);
  EXPECT_EQ(out[1]->numEntries(), 0);
  EXPECT_EQ(out[1]->numClasses(), 0);
  EXPECT_EQ(out[2]->numEntries(), 3);
  auto* third = static_cast<MVectorSampleSet*>(out[2]);
  EXPECT_EQ(third->classCount[0], 1);
  EXPECT_EQ(third->rows[0][0][0], 0.0f);
  EXPECT_EQ(third->rows[1][1][0], 102.0f);
  EXPECT_EQ(set->numEntries(), 5);  // the set itself is unchanged

  // n < 1: one subset per value that occurs.
  set->splitByLabels(out, {1, 1, 1, 1, 1}, 0);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0]->numEntries(), 5);
  for (PbtMSampleSet* s : out) delete s;
}

TEST(PbtMSampleSetDeathTest, SplitLabelsOutsideTheClassLabelsEndTheRun) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 3}));
  std::vector<PbtMSampleSet*> out;
  const struct {
    std::vector<int> labels;
    int n;
    const char* message;
  } cases[] = {
      {{0, 0, 1, 1, 1}, 3, "^PbtMSampleSet::splitByLabels: label 2 outside 0..1\n$"},
      {{0, 5, 1, 1, 1}, 0, "^PbtMSampleSet::splitByLabels: label 5 outside 0..1\n$"},
      {{0, 1, -1, 1, 1}, 0, "^PbtMSampleSet::splitByLabels: label -1 outside 0..1\n$"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(set->splitByLabels(out, c.labels, c.n), testing::ExitedWithCode(1), c.message);
  }
}

TEST(PbtMSampleSetResampleTest, ChildClassHistogramsWeighClassesPerChild) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({2, 1, 1}, {0.5f, 0.25f, 0.25f}));
  std::vector<RF> hists;
  ResetUniformRandomForTesting();
  const VectorQo<int> counts = set->childClassHistograms(hists, {0, 2, 2, 0});
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 3);
  ASSERT_EQ(hists.size(), 3u);
  EXPECT_EQ(counts[0], 2);
  EXPECT_EQ(counts[1], 0);
  EXPECT_EQ(counts[2], 2);
  EXPECT_DOUBLE_EQ(hists[0].Pdf(0), 0.5);
  EXPECT_DOUBLE_EQ(hists[0].Pdf(2), 0.5);
  EXPECT_DOUBLE_EQ(hists[2].Pdf(0), 0.5);
  EXPECT_DOUBLE_EQ(hists[2].Pdf(1), 0.5);
  EXPECT_EQ(hists[1].Pdf(0), 0.0);
}

TEST(PbtMSampleSetDeathTest, ChildIndexOutsideTheLabelsEndsTheRun) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(NamedSet({1, 1}));
  std::vector<RF> hists;
  EXPECT_EXIT(set->childClassHistograms(hists, {0, 2}), testing::ExitedWithCode(1),
              "^PbtMSampleSet::childClassHistograms: child 2 outside 0..1\n$");
  EXPECT_EXIT(set->childClassHistograms(hists, {0}), testing::ExitedWithCode(1),
              "^PbtMSampleSet::childClassHistograms: entry 1 outside 0..0\n$");
}
