#include "pbt/PbtSampleSet.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include "pbt/PbtFeatureFill.h"
#include "platform/ParallelFor.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtSampleDump.h"
#include "platform/Fatal.h"

namespace {

void CheckCount(const char* operation, const char* name, int value) {
  if (value < 0) {
    FatalExit(1, FormatText("PbtSampleSet::%s: negative %s %i\n", operation, name, value), stderr);
  }
}

// map[i] := the new index of sample i when its factor is > 0, else -1. Returns the
// number of survivors. A factor missing from `factors` counts as not positive.
int Renumber(const VectorQo<double>& factors, int count, std::vector<int>& map) {
  const int nFactors = ElementCount(factors);
  map.assign(static_cast<size_t>(count), -1);
  int k = 0;
  for (int i = 0; i < count; ++i) {
    if (i < nFactors && factors[i] > 0.0) map[static_cast<size_t>(i)] = k++;
  }
  return k;
}

VectorQo<double> FilteredWeights(const VectorQo<double>& weights, const VectorQo<double>& factors,
                                 const std::vector<int>& map, int survivors) {
  VectorQo<double> out(survivors);
  const int nWeights = ElementCount(weights);
  for (size_t i = 0; i < map.size(); ++i) {
    if (map[i] < 0) continue;
    const double w = static_cast<int>(i) < nWeights ? weights[static_cast<int>(i)] : 0.0;
    out[map[i]] = w * factors[static_cast<int>(i)];
  }
  return out;
}

// Moves the surviving columns of every row to their new indices (never to the right,
// so in place) and shortens the rows.
void CompactColumns(std::vector<std::vector<float>>& rows, std::vector<float*>& table,
                    const std::vector<int>& map, int survivors) {
  for (size_t f = 0; f < rows.size(); ++f) {
    std::vector<float>& row = rows[f];
    for (size_t i = 0; i < map.size() && i < row.size(); ++i) {
      if (map[i] >= 0) row[static_cast<size_t>(map[i])] = row[i];
    }
    row.resize(static_cast<size_t>(survivors));
    table[f] = row.data();
  }
}

void ReleaseRows(std::vector<std::vector<float>>& rows, std::vector<float*>& table) {
  std::vector<std::vector<float>>().swap(rows);
  std::vector<float*>().swap(table);
}

}  // namespace

PbtSampleSet::~PbtSampleSet() {
  // Not virtual dispatch here: the derived parts are gone already.
  PbtSampleSet::clear();
}

PbtSampleSet& PbtSampleSet::operator=(const PbtSampleSet& other) {
  if (this == &other) return *this;
  freeFeatures();
  if (ownsSample && sample != nullptr && sample != other.sample) delete sample;
  sample = other.sample;
  ownsSample = 0;
  nFeatures = other.nFeatures;
  numPos = other.numPos;
  numNeg = other.numNeg;
  posMass = other.posMass;
  negMass = other.negMass;
  posWeights = other.posWeights;
  negWeights = other.negWeights;
  entrySample = other.entrySample;
  entryPositive = other.entryPositive;
  return *this;
}

void PbtSampleSet::init(PbtSampleSetParams& params) {
  text = InitSampleSet(params, sample, &nFeatures);
}

void PbtSampleSet::filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg) {
  const float oldPosSum = static_cast<float>(posWeights.Sum());
  const float oldNegSum = static_cast<float>(negWeights.Sum());

  std::vector<int> posMap, negMap;
  const int P = Renumber(pos, numPos, posMap);
  const int N = Renumber(neg, numNeg, negMap);
  VectorQo<double> newPos = FilteredWeights(posWeights, pos, posMap, P);
  VectorQo<double> newNeg = FilteredWeights(negWeights, neg, negMap, N);

  std::vector<int32_t> newSample;
  std::vector<uint16_t> newPositive;
  newSample.reserve(entrySample.size());
  newPositive.reserve(entrySample.size());
  for (size_t e = 0; e < entrySample.size(); ++e) {
    const bool positive = entryPositive[e] != 0;
    const std::vector<int>& map = positive ? posMap : negMap;
    const int s = entrySample[e];
    if (s < 0 || static_cast<size_t>(s) >= map.size() || map[static_cast<size_t>(s)] < 0) continue;
    newSample.push_back(map[static_cast<size_t>(s)]);
    newPositive.push_back(entryPositive[e]);
  }

  if (featuresCached) {
    if (P != numPos) CompactColumns(posRows, posFeatures, posMap, P);
    if (N != numNeg) CompactColumns(negRows, negFeatures, negMap, N);
  }

  posMass = oldPosSum > 0.0f ? newPos.Sum() / oldPosSum * posMass : 0.0;
  negMass = oldNegSum > 0.0f ? newNeg.Sum() / oldNegSum * negMass : 0.0;
  posWeights = std::move(newPos);
  negWeights = std::move(newNeg);
  entrySample.swap(newSample);
  entryPositive.swap(newPositive);
  numPos = P;
  numNeg = N;
  normalizeWeights();
}

PbtSample* PbtSampleSet::current() {
  const int s = entrySample[cursor];
  const bool positive = entryPositive[cursor] != 0;
  if (!featuresCached) {
    PbtSample* p = getSample(s, positive);
    // The shared sample may still point at another set's cache.
    if (p != nullptr && p->isCached()) p->clearCacheMode();
    return p;
  }
  if (sample != nullptr) sample->setCacheMode(positive ? posFeatures.data() : negFeatures.data(), s);
  return sample;
}

void PbtSampleSet::setSample(PbtSample* s) {
  if (ownsSample && sample != nullptr && sample != s) delete sample;
  sample = s;
}

void PbtSampleSet::calculateAllFeatures() {
  freeFeatures();
  try {
    posRows.resize(static_cast<size_t>(nFeatures));
    posFeatures.resize(static_cast<size_t>(nFeatures));
    negRows.resize(static_cast<size_t>(nFeatures));
    negFeatures.resize(static_cast<size_t>(nFeatures));
    // The zeroed rows are made on the workers (a failed allocation is rethrown here).
    ParallelFor(0, nFeatures, [&](int f, int) {
      posRows[f].resize(static_cast<size_t>(numPos));
      posFeatures[f] = posRows[f].data();
      negRows[f].resize(static_cast<size_t>(numNeg));
      negFeatures[f] = negRows[f].data();
    });
  } catch (const std::bad_alloc&) {
    FatalExit(1, "ERROR: out of memory (calculateAllFeatures)\n", stderr);
  } catch (const std::length_error&) {
    FatalExit(1, "ERROR: out of memory (calculateAllFeatures)\n", stderr);
  }

  // Column = the entry's sample index, so values pair with weights by index whatever
  // the entry order. Entries outside their class are out of contract and skipped.
  // The entries are positioned here in order; their features are computed on the
  // workers (PbtFeatureFill). The tag is the sample index, negative for a negative.
  PbtFeatureFill fill(nFeatures, [&](int tag, const float* values, int first, int last) {
    const bool positive = tag >= 0;
    const int s = positive ? tag : -tag - 1;
    std::vector<std::vector<float>>& rows = positive ? posRows : negRows;
    for (int f = first; f < last; ++f) rows[f][s] = values[f];
  });
  reset();
  while (hasNext()) {
    const bool positive = next();
    const int s = entrySample[cursor];
    if (s < 0 || s >= (positive ? numPos : numNeg)) continue;
    PbtSample* p = current();  // compute mode: featuresCached is still 0
    if (p == nullptr) continue;
    fill.add(p, positive ? s : -s - 1);
  }
  fill.finish();
  featuresCached = 1;
}

float** PbtSampleSet::getFeatureTable(bool positive) {
  if (!featuresCached) return nullptr;
  // A cached set with an empty pool still hands out a table (with no rows), so that
  // "not cached" and "nothing to cache" stay apart.
  std::vector<float*>& table = positive ? posFeatures : negFeatures;
  return table.empty() ? &noRows : table.data();
}

void PbtSampleSet::freeFeatures() {
  if (!featuresCached) return;
  ReleaseRows(posRows, posFeatures);
  ReleaseRows(negRows, negFeatures);
  if (sample != nullptr) sample->clearCacheMode();
  featuresCached = 0;
}

void PbtSampleSet::clear() {
  freeFeatures();
  if (ownsSample && sample != nullptr) delete sample;
  sample = nullptr;
  std::vector<int32_t>().swap(entrySample);
  std::vector<uint16_t>().swap(entryPositive);
  posWeights.Clear();
  negWeights.Clear();
}

float PbtSampleSet::weightSum() { return static_cast<float>(posWeights.Sum()); }

void PbtSampleSet::balanceWeights(float f) {
  const float sp = static_cast<float>(posWeights.Sum());
  const float sn = static_cast<float>(negWeights.Sum());
  if (sp > 0.0f && sn > 0.0f) {
    const float posFactor = f / sp;
    const float negFactor = (1 - f) / sn;
    const int np = ElementCount(posWeights);
    for (int i = 0; i < np; ++i) posWeights[i] *= posFactor;
    const int nn = ElementCount(negWeights);
    for (int i = 0; i < nn; ++i) negWeights[i] *= negFactor;
  } else {
    normalizeWeights();
  }
}

void PbtSampleSet::allocate(int features, int positives, int negatives) {
  CheckCount("allocate", "feature count", features);
  CheckCount("allocate", "positive count", positives);
  CheckCount("allocate", "negative count", negatives);
  freeFeatures();
  nFeatures = features;
  numPos = positives;
  numNeg = negatives;
  posWeights.SetSize(positives);
  negWeights.SetSize(negatives);
  const size_t n = static_cast<size_t>(positives) + static_cast<size_t>(negatives);
  entrySample.assign(n, 0);
  entryPositive.assign(n, 0);
}

void PbtSampleSet::normalizeWeights() {
  // The total is taken as float, as the weights' stored sums are.
  const float t = static_cast<float>(posWeights.Sum() + negWeights.Sum());
  if (!(t > 0.0f)) return;  // all-zero (or invalid) weights are left as they are
  const int nn = ElementCount(negWeights);
  for (int i = 0; i < nn; ++i) negWeights[i] /= t;
  const int np = ElementCount(posWeights);
  for (int i = 0; i < np; ++i) posWeights[i] /= t;
}

void PbtSampleSet::initWeights(int positives, int negatives, float f) {
  CheckCount("initWeights", "positive count", positives);
  CheckCount("initWeights", "negative count", negatives);
  numPos = positives;
  numNeg = negatives;
  posWeights.SetSize(positives);
  negWeights.SetSize(negatives);
  if (positives > 0) posWeights.Fill(static_cast<double>(f) / positives);
  if (negatives > 0) negWeights.Fill((1.0 - f) / negatives);
  posMass = 1.0;
  negMass = 1.0;
}

void PbtSampleSet::buildOrder() {
  const size_t n = static_cast<size_t>(numPos) + static_cast<size_t>(numNeg);
  entrySample.assign(n, 0);
  entryPositive.assign(n, 0);
  size_t e = 0;
  for (int i = 0; i < numPos; ++i, ++e) {
    entrySample[e] = i;
    entryPositive[e] = 1;
  }
  for (int j = 0; j < numNeg; ++j, ++e) entrySample[e] = j;
}

void PbtSampleSet::saveSamples(const char* folder) {
  if (folder == nullptr) return;
  const std::string posFolder = FormatText("%s/pos", folder);
  const std::string negFolder = FormatText("%s/neg", folder);
  MakeSampleFolder(negFolder);
  MakeSampleFolder(posFolder);
  int written[2] = {0, 0};
  reset();
  while (hasNext()) {
    const bool positive = next();
    PbtSample* s = current();
    if (s == nullptr) continue;
    int& count = written[positive ? 1 : 0];
    if (DumpSampleImage(*s, FormatText("%s/sample%06i.tif", (positive ? posFolder : negFolder).c_str(), count))) {
      ++count;
    }
  }
}
