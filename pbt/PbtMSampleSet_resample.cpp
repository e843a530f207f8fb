// Resampling of the multi-class set: selection by per-sample factors, splitting by
// entry labels, weighted subsampling per class, filling a two-class set, and the
// per-child class histograms.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "numerics/RF.h"
#include "pbt/PbtMSampleSet.h"
#include "pbt/PbtLog.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"

namespace {

// The factor of sample i of class c; a missing factor is 0.
double FactorOf(const std::vector<VectorQo<double>>& sel, int c, int i) {
  if (c < 0 || static_cast<size_t>(c) >= sel.size()) return 0.0;
  const VectorQo<double>& v = sel[static_cast<size_t>(c)];
  return i >= 0 && i < ElementCount(v) ? v[i] : 0.0;
}

}  // namespace

void PbtMSampleSet::drawWithoutReplacement(std::vector<int>& chosen, const std::vector<int>& positions,
                                           const VectorQo<double>& weights, int t) {
  const int n = static_cast<int>(positions.size());
  const int nWeights = ElementCount(weights);
  VectorQo<float> w(n);
  for (int k = 0; k < n && k < nWeights; ++k) w[k] = static_cast<float>(weights[k]);
  // Deliberate construction: one draw.
  RF rf;
  rf.SetFromVector(w);
  int remaining = 0;  // positions that can still be drawn
  for (int k = 0; k < rf.Count(); ++k) remaining += rf.pdf[k] > 0.0 ? 1 : 0;
  chosen.clear();
  for (int draw = 0; draw < t; ++draw) {
    // With no weight left a draw would repeat a position; stop instead.
    if (remaining == 0) break;
    const int d = TruncToInt32(rf.Draw());
    if (d < 0 || d >= n) break;
    if (!(rf.pdf[d] > 0.0)) continue;  // an emptied bin (rounding at the top end)
    --remaining;
    rf.Set(d, 0.0);
    chosen.push_back(positions[static_cast<size_t>(d)]);
  }
}

void PbtMSampleSet::resampleToSizes(const VectorQo<int>& sizes) {
  const int K = numLabels();
  std::vector<VectorQo<double>> sel(static_cast<size_t>(K));
  for (int c = 0; c < K; ++c) sel[static_cast<size_t>(c)] = VectorQo<double>(classCount[c], 0.0);
  const int nSizes = std::min(sizes.rows * sizes.cols, K);
  std::vector<int> positions, chosen;
  for (int c = 0; c < nSizes; ++c) {
    VectorQo<double>& s = sel[static_cast<size_t>(c)];
    const VectorQo<double>& w = weights[static_cast<size_t>(c)];
    const int count = classCount[c];
    if (sizes[c] < count) {
      positions.resize(static_cast<size_t>(count));
      for (int i = 0; i < count; ++i) positions[static_cast<size_t>(i)] = i;
      drawWithoutReplacement(chosen, positions, w, sizes[c]);
      // Each kept sample gets the new weight 1 (factor x old weight).
      for (int i : chosen) s[i] += 1.0 / w[i];
    } else {
      s.Fill(1.0);
    }
  }
  selectSamples(sel);
}

void PbtMSampleSet::selectSamples(const std::vector<VectorQo<double>>& sel) {
  freeFeatures();  // the cache is laid out by the old counts
  const int K = numLabels();

  // newIndex[c][i]: the rank of sample i among the kept samples of class c, in index
  // order, or -1 when it is dropped.
  std::vector<std::vector<int>> newIndex(static_cast<size_t>(K));
  VectorQo<int> newCount(K);
  std::vector<VectorQo<double>> newWeights(static_cast<size_t>(K));
  for (int c = 0; c < K; ++c) {
    std::vector<int>& map = newIndex[static_cast<size_t>(c)];
    map.assign(static_cast<size_t>(classCount[c]), -1);
    int kept = 0;
    for (int i = 0; i < classCount[c]; ++i) {
      if (FactorOf(sel, c, i) > 0.0) map[static_cast<size_t>(i)] = kept++;
    }
    newCount[c] = kept;
    VectorQo<double>& w = newWeights[static_cast<size_t>(c)];
    w.SetSize(kept);
    const VectorQo<double>& old = weights[static_cast<size_t>(c)];
    for (int i = 0; i < classCount[c]; ++i) {
      if (map[static_cast<size_t>(i)] >= 0) w[map[static_cast<size_t>(i)]] = FactorOf(sel, c, i) * old[i];
    }
  }

  std::vector<int> keptClass, keptIndex;
  keptClass.reserve(entryClass.size());
  keptIndex.reserve(entryIndex.size());
  for (size_t e = 0; e < entryClass.size(); ++e) {
    const int c = entryClass[e];
    const int i = entryIndex[e];
    if (c < 0 || c >= K || i < 0 || i >= classCount[c]) continue;
    const int j = newIndex[static_cast<size_t>(c)][static_cast<size_t>(i)];
    if (j < 0) continue;
    keptClass.push_back(c);
    keptIndex.push_back(j);
  }

  for (int c = 0; c < K; ++c) {
    const int oldCount = classCount[c];
    classMass[c] = oldCount >= 1 ? classMass[c] * newCount[c] / oldCount : 0.0;
  }
  classCount = newCount;
  weights.swap(newWeights);
  entryClass.swap(keptClass);
  entryIndex.swap(keptIndex);
  normalizeWeights();
  buildActiveClasses();
}

void PbtMSampleSet::splitByLabels(std::vector<PbtMSampleSet*>& out, const std::vector<int>& labels, int n) {
  for (PbtMSampleSet* s : out) delete s;
  out.clear();

  // The label values name class labels: each must lie in 0 .. K-1.
  const int K = numLabels();
  std::vector<int> values;
  if (n >= 1) {
    if (n > K) outOfRange("splitByLabels", "label", n - 1, K);
    for (int m = 0; m < n; ++m) values.push_back(m);
  } else {
    const size_t nEntries = std::min(labels.size(), entryClass.size());
    for (size_t e = 0; e < nEntries; ++e) {
      const int v = labels[e];
      if (v < 0 || v >= K) outOfRange("splitByLabels", "label", v, K);
      values.push_back(v);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
  }

  const size_t nEntries = std::min(labels.size(), entryClass.size());
  for (int m : values) {
    out.push_back(clone());
    std::vector<VectorQo<double>> sel(static_cast<size_t>(K));
    for (int c = 0; c < K; ++c) sel[static_cast<size_t>(c)] = VectorQo<double>(classCount[c], 0.0);
    for (size_t e = 0; e < nEntries; ++e) {
      const int c = entryClass[e];
      const int i = entryIndex[e];
      if (labels[e] == m && c >= 0 && c < K && i >= 0 && i < classCount[c]) sel[static_cast<size_t>(c)][i] = 1.0;
    }
    out.back()->selectSamples(sel);
  }
}

void PbtMSampleSet::resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives) {
  target->clear();
  const int slots = numClasses();
  const int nFlags = classSplit.rows * classSplit.cols;
  if (nFlags < slots) {
    FatalExit(1, FormatText("PbtMSampleSet::resampleFrom: %d class flags for %d active classes\n", nFlags, slots),
              stderr);
  }

  // Per entry of an active class, slot by slot and index by index: its slot, its
  // index and a mark (-1 unchosen negative, -2 unchosen positive, 0 chosen negative,
  // 1 chosen positive). 32-bit throughout, so classes of any size stay exact.
  std::vector<int32_t> listSlot, listIndex, mark;
  int64_t available[2] = {0, 0};
  for (int s = 0; s < slots; ++s) {
    const int count = classCount[classOfSlot[static_cast<size_t>(s)]];
    const bool positive = classSplit[s];
    available[positive ? 1 : 0] += count;
    for (int i = 0; i < count; ++i) {
      listSlot.push_back(s);
      listIndex.push_back(i);
      mark.push_back(positive ? -2 : -1);
    }
  }
  const int total = static_cast<int>(mark.size());

  for (int side = 0; side < 2; ++side) {  // negatives first
    const int wanted = side == 1 ? maxPositives : maxNegatives;
    const int32_t unchosen = side == 1 ? -2 : -1;
    const int32_t taken = side == 1 ? 1 : 0;
    if (available[side] < wanted) {
      for (int32_t& m : mark) {
        if (m == unchosen) m = taken;
      }
      continue;
    }
    // Uniform drawing without replacement from the side's entries.
    // Deliberate construction: one draw.
    RF rf;
    rf.Init(0.0, total - 1, 1.0);
    for (int e = 0; e < total; ++e) {
      if (mark[static_cast<size_t>(e)] == unchosen) rf.Set(e, 1.0);
    }
    rf.BuildSamplingTable(false);
    int chosen = 0;
    for (long long tries = 1; chosen < wanted; ++tries) {
      const double d = rf.DrawFromTable();
      // -1.0 (a draw beyond the table) is a failed try, not a position.
      if (d >= 0.0 && d < total) {
        const int e = TruncToInt32(d);
        if (mark[static_cast<size_t>(e)] == unchosen && rf.pdf[e] > 0.0) {
          mark[static_cast<size_t>(e)] = taken;
          rf.Set(e, 0.0);
          ++chosen;
        }
      }
      if (tries % 100 == 0) rf.BuildSamplingTable(false);
    }
  }

  int nP = 0, nN = 0;
  for (int32_t m : mark) {
    if (m == 1) ++nP;
    if (m == 0) ++nN;
  }
  target->allocate(nFeatures, nP, nN);
  VectorQo<double>& posWeights = target->getWeights(true);
  VectorQo<double>& negWeights = target->getWeights(false);
  posWeights.Fill(0.0);
  negWeights.Fill(0.0);
  int p = 0, n = 0;
  for (int e = 0; e < total; ++e) {
    const int32_t m = mark[static_cast<size_t>(e)];
    if (m != 0 && m != 1) continue;
    const int c = classOfSlot[static_cast<size_t>(listSlot[static_cast<size_t>(e)])];
    const int i = listIndex[static_cast<size_t>(e)];
    const double w = weights[static_cast<size_t>(c)][i];
    // The class label stands in the positive flag until the derived set rewrites it.
    target->setEntry(p + n, i, static_cast<uint16_t>(c));
    if (m == 1) {
      posWeights[p++] = w;
    } else {
      negWeights[n++] = w;
    }
  }

  const double sum = posWeights.Sum() + negWeights.Sum();
  if (sum > 0.0) {
    for (int k = 0; k < nP; ++k) posWeights[k] /= sum;
    for (int k = 0; k < nN; ++k) negWeights[k] /= sum;
  }
  double posMass = 0.0, negMass = 0.0;
  for (int s = 0; s < slots; ++s) {
    const double m = classMass[classOfSlot[static_cast<size_t>(s)]];
    if (classSplit[s]) {
      posMass += m;
    } else {
      negMass += m;
    }
  }
  target->setClassMass(true, posMass);
  target->setClassMass(false, negMass);
  // Shared, never owned: the multi-class set keeps its sample.
  target->setSample(sample);
  target->setOwnsSample(false);
}

VectorQo<int> PbtMSampleSet::childClassHistograms(std::vector<RF>& hists, const std::vector<int>& entryChild) {
  const int K = numLabels();
  hists.clear();
  // Deliberate: K fresh RF constructions, one draw each.
  hists.resize(static_cast<size_t>(K));
  for (RF& h : hists) {
    h.Init(0.0, K - 1, 1.0);
    h.Fill(0.0);
  }
  VectorQo<int> counts(K);
  const int nChildren = static_cast<int>(entryChild.size());
  for (int e = 0; e < numEntries(); ++e) {
    if (e >= nChildren) outOfRange("childClassHistograms", "entry", e, nChildren);
    const int k = entryChild[static_cast<size_t>(e)];
    if (k < 0 || k >= K) outOfRange("childClassHistograms", "child", k, K);
    const int c = entryClass[static_cast<size_t>(e)];
    hists[static_cast<size_t>(k)].Add(c, weights[static_cast<size_t>(c)][entryIndex[static_cast<size_t>(e)]]);
    counts[k] += 1;
  }
  for (RF& h : hists) h.Normalize();
  return counts;
}
