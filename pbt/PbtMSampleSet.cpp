#include "pbt/PbtMSampleSet.h"

#include <algorithm>
#include <new>
#include <stdexcept>

#include "numerics/TextFunctions.h"
#include "pbt/PbtFeatureFill.h"
#include "pbt/PbtFlags.h"
#include "pbt/PbtLog.h"
#include "platform/Fatal.h"
#include "platform/ParallelFor.h"
#include "pbt/PbtSampleDump.h"

PbtMSampleSet::~PbtMSampleSet() {
  // Not virtual dispatch here: the derived parts are gone already.
  PbtMSampleSet::clear(true);
}

PbtMSampleSet& PbtMSampleSet::operator=(const PbtMSampleSet& other) {
  if (this == &other) return *this;
  if (sample == other.sample) ownsSample = 0;  // never delete the sample being shared
  PbtMSampleSet::clear(true);
  classSplit = other.classSplit;
  sample = other.sample;
  ownsSample = 0;
  nFeatures = other.nFeatures;
  cursor = other.cursor;
  entryClass = other.entryClass;
  entryIndex = other.entryIndex;
  slotOfClass = other.slotOfClass;
  classOfSlot = other.classOfSlot;
  classCount = other.classCount;
  classMask = other.classMask;
  classMass = other.classMass;
  weights = other.weights;
  featureMin = other.featureMin;
  featureMax = other.featureMax;
  return *this;
}

void PbtMSampleSet::outOfRange(const char* operation, const char* what, int value, int size) {
  FatalExit(1, FormatText("PbtMSampleSet::%s: %s %d outside 0..%d\n", operation, what, value, size - 1), stderr);
}

int PbtMSampleSet::slotOrFail(const char* operation, int c) const {
  const int K = static_cast<int>(slotOfClass.size());
  if (c < 0 || c >= K) outOfRange(operation, "class", c, K);
  const int s = slotOfClass[static_cast<size_t>(c)];
  if (s < 0) FatalExit(1, FormatText("PbtMSampleSet::%s: class %d is not active\n", operation, c), stderr);
  return s;
}

void PbtMSampleSet::init(PbtSampleSetParams& params) {
  text = InitSampleSet(params, sample, &nFeatures);
}

std::string PbtMSampleSet::sampleImageName(const char* folder, int c, int k) {
  return FormatText("%s/%d/sample%06i.tif", folder, c, k);
}

void PbtMSampleSet::saveSamples(const char* folder) {
  if (folder == nullptr) return;
  const int K = numLabels();
  for (int c = 0; c < K; ++c) MakeSampleFolder(FormatText("%s/%d", folder, c));
  // One image per sample that draws itself, numbered per class in entry order.
  std::vector<int> written(static_cast<size_t>(K), 0);
  int c = 0, i = 0;
  reset();
  while (next(c, i)) {
    if (c < 0 || c >= K) continue;
    PbtSample* p = getSample(c, i);
    if (p == nullptr) continue;
    if (DumpSampleImage(*p, sampleImageName(folder, c, written[static_cast<size_t>(c)]))) {
      ++written[static_cast<size_t>(c)];
    }
  }
}

void PbtMSampleSet::freeFeatures() {
  if (!featuresCached) return;
  std::vector<std::vector<std::vector<float>>>().swap(cacheRows);
  std::vector<std::vector<float*>>().swap(cacheTables);
  featuresCached = 0;
  if (sample != nullptr) sample->clearCacheMode();
}

bool PbtMSampleSet::isPositiveClass(int c) {
  const int s = slotOrFail("isPositiveClass", c);
  const int n = classSplit.rows * classSplit.cols;
  if (s >= n) outOfRange("isPositiveClass", "slot", s, n);
  return classSplit[s];
}

bool PbtMSampleSet::isActiveClass(int c) {
  const int K = static_cast<int>(slotOfClass.size());
  if (c < 0 || c >= K) outOfRange("isActiveClass", "class", c, K);
  return slotOfClass[static_cast<size_t>(c)] >= 0;
}

void PbtMSampleSet::restoreWeights() {
  bool fits = savedWeights.size() == weights.size();
  for (size_t c = 0; fits && c < savedWeights.size(); ++c) {
    fits = ElementCount(savedWeights[c]) == classCount[static_cast<int>(c)];
  }
  if (!fits) FatalExit(1, "PbtMSampleSet::restoreWeights: the saved weights do not fit the classes\n", stderr);
  weights = savedWeights;
  std::vector<VectorQo<double>>().swap(savedWeights);
}

void PbtMSampleSet::maskRareClasses(int n) {
  const int K = numLabels();
  classMask.SetSize(K);
  for (int c = 0; c < K; ++c) classMask[c] = classCount[c] < n ? 1 : 0;
}

bool PbtMSampleSet::isClassOn(int c) {
  // The mask outlives clear (one flag per class label of the set it was made on),
  // and may not be set yet: a label is in range for either. Beyond the mask: off.
  const int masked = classMask.rows * classMask.cols;
  const int K = std::max(numLabels(), masked);
  if (c < 0 || c >= K) outOfRange("isClassOn", "class", c, K);
  return c < masked && classMask[c] != 0;
}

void PbtMSampleSet::saveBootstrap(PbtSampleSetParams&) {}

void PbtMSampleSet::setClassSplit(const VectorQo<unsigned char>& v) {
  const int n = v.rows * v.cols;
  classSplit.SetSize(n);
  for (int i = 0; i < n; ++i) classSplit[i] = v[i] != 0;
}

void PbtMSampleSet::setClassCounts(const VectorQo<int>& counts, const VectorQo<float>& classWeight) {
  freeFeatures();
  const int K = counts.rows * counts.cols;
  if (classWeight.rows * classWeight.cols < K) {
    outOfRange("setClassCounts", "class", classWeight.rows * classWeight.cols, K);
  }
  for (int c = 0; c < K; ++c) {
    if (counts[c] < 0) {
      FatalExit(1, FormatText("PbtMSampleSet::setClassCounts: negative count %d of class %d\n", counts[c], c), stderr);
    }
  }
  classCount = counts;
  weights.assign(static_cast<size_t>(K), VectorQo<double>());
  for (int c = 0; c < K; ++c) {
    if (counts[c] > 0) weights[static_cast<size_t>(c)] = VectorQo<double>(counts[c], static_cast<double>(classWeight[c]) / counts[c]);
  }
  classMass = VectorQo<double>(K, 1.0);
}

void PbtMSampleSet::buildEntries() {
  const int K = numLabels();
  size_t n = 0;
  for (int c = 0; c < K; ++c) n += static_cast<size_t>(classCount[c]);
  entryClass.assign(n, 0);
  entryIndex.assign(n, 0);
  size_t e = 0;
  for (int c = 0; c < K; ++c) {
    for (int i = 0; i < classCount[c]; ++i, ++e) {
      entryClass[e] = c;
      entryIndex[e] = i;
    }
  }
  buildActiveClasses();
}

void PbtMSampleSet::buildActiveClasses() {
  freeFeatures();  // the cache is laid out by the active classes
  const int K = numLabels();
  slotOfClass.assign(static_cast<size_t>(K), -1);
  classOfSlot.clear();
  for (int c = 0; c < K; ++c) {
    if (classCount[c] >= gMinClassSamples) {
      slotOfClass[static_cast<size_t>(c)] = static_cast<int>(classOfSlot.size());
      classOfSlot.push_back(c);
    }
  }
}

void PbtMSampleSet::clear(bool deleteTheSample) {
  freeFeatures();
  if (deleteTheSample) {
    if (ownsSample && sample != nullptr) delete sample;
    sample = nullptr;
    ownsSample = 0;
  }
  deleteHistograms();
  classSplit.Clear();
  std::vector<int>().swap(entryClass);
  std::vector<int>().swap(entryIndex);
  std::vector<int>().swap(slotOfClass);
  std::vector<int>().swap(classOfSlot);
  classCount.Clear();
  classMass.Clear();
  std::vector<VectorQo<double>>().swap(weights);
}

PbtSample* PbtMSampleSet::current() {
  const size_t e = static_cast<size_t>(cursor);
  const int c = entryClass[e];
  const int i = entryIndex[e];
  if (featuresCached && sample != nullptr && isActiveClass(c)) {
    const size_t s = static_cast<size_t>(slotOfClass[static_cast<size_t>(c)]);
    if (s < cacheTables.size()) {
      sample->setCacheMode(cacheTables[s].data(), i);
      return sample;
    }
  }
  PbtSample* p = getSample(c, i);
  // The shared sample may still point at a cache.
  if (p != nullptr && p->isCached()) p->clearCacheMode();
  return p;
}

void PbtMSampleSet::normalizeWeights() {
  double total = 0.0;
  for (const VectorQo<double>& w : weights) total += w.Sum();
  if (!(total > 0.0)) return;
  for (VectorQo<double>& w : weights) {
    const int n = ElementCount(w);
    for (int i = 0; i < n; ++i) w[i] /= total;
  }
}

void PbtMSampleSet::classWeightMasses(VectorQo<double>& out) const {
  const int K = numLabels();
  out.SetSize(K);
  for (int c = 0; c < K; ++c) out[c] = weights[static_cast<size_t>(c)].Sum();
  out.NormalizeSum();
}

VectorQo<double> PbtMSampleSet::scaledCopy(const VectorQo<double>& v, double s) {
  VectorQo<double> out(v);
  const int n = ElementCount(out);
  for (int i = 0; i < n; ++i) out[i] *= s;
  return out;
}

void PbtMSampleSet::setClassTotals(const VectorQo<double>& target) {
  const int K = numLabels();
  if (target.rows * target.cols < K) outOfRange("setClassTotals", "class", target.rows * target.cols, K);
  for (int c = 0; c < K; ++c) {
    VectorQo<double>& w = weights[static_cast<size_t>(c)];
    const float s = static_cast<float>(w.Sum());
    if (s > 0.0f) w = scaledCopy(w, target[c] / s);
  }
}

void PbtMSampleSet::calculateAllFeatures() {
  freeFeatures();
  const int slots = numClasses();
  if (slots == 0) return;
  try {
    cacheRows.resize(static_cast<size_t>(slots));
    cacheTables.resize(static_cast<size_t>(slots));
    for (int s = 0; s < slots; ++s) {
      const size_t count = static_cast<size_t>(classCount[classOfSlot[static_cast<size_t>(s)]]);
      std::vector<std::vector<float>>& rows = cacheRows[static_cast<size_t>(s)];
      rows.resize(static_cast<size_t>(nFeatures));
      std::vector<float*>& table = cacheTables[static_cast<size_t>(s)];
      table.resize(static_cast<size_t>(nFeatures));
      // The zeroed rows are made on the workers (a failed allocation is rethrown here).
      ParallelFor(0, nFeatures, [&](int f, int) {
        rows[static_cast<size_t>(f)].resize(count);
        table[static_cast<size_t>(f)] = rows[static_cast<size_t>(f)].data();
      });
    }
  } catch (const std::bad_alloc&) {
    FatalExit(1, "ERROR: out of memory (calculateAllFeatures)\n", stderr);
  } catch (const std::length_error&) {
    FatalExit(1, "ERROR: out of memory (calculateAllFeatures)\n", stderr);
  }
  featureMin = VectorQo<double>(nFeatures, 1e20);
  featureMax = VectorQo<double>(nFeatures, -1e20);

  // Column = the entry's index within its class, so values pair with weights and
  // records by index whatever the entry order. Entries of inactive classes are
  // skipped, and so are indices outside their class (out of contract).
  // The entries are positioned here in order; their features are computed on the
  // workers (PbtFeatureFill) and stored, with the ranges, in entry order. The tag
  // indexes the (class, index) pairs of the entries added.
  std::vector<std::pair<int, int>> tags;
  PbtFeatureFill fill(nFeatures, [&](int tag, const float* values, int first, int last) {
    const int cls = tags[static_cast<size_t>(tag)].first, index = tags[static_cast<size_t>(tag)].second;
    std::vector<std::vector<float>>& rows = cacheRows[static_cast<size_t>(slotOfClass[static_cast<size_t>(cls)])];
    for (int f = first; f < last; ++f) {
      const float v = values[f];
      rows[static_cast<size_t>(f)][static_cast<size_t>(index)] = v;
      if (static_cast<double>(v) < featureMin[f]) featureMin[f] = v;
      if (static_cast<double>(v) > featureMax[f]) featureMax[f] = v;
    }
  });
  int c = 0, i = 0;
  reset();
  while (next(c, i)) {
    if (!isActiveClass(c) || i < 0 || i >= classCount[c]) continue;
    PbtSample* p = current();  // compute mode: featuresCached is still 0
    if (p == nullptr) continue;
    tags.emplace_back(c, i);
    fill.add(p, static_cast<int>(tags.size()) - 1);
  }
  fill.finish();
  featuresCached = 1;
}

float** PbtMSampleSet::cacheOfSlot(int s) {
  if (!featuresCached || s < 0 || static_cast<size_t>(s) >= cacheTables.size()) return nullptr;
  return cacheTables[static_cast<size_t>(s)].data();
}

VectorQo<double>& PbtMSampleSet::weightsOfSlot(int s) {
  const int slots = numClasses();
  if (s < 0 || s >= slots) outOfRange("weightsOfSlot", "slot", s, slots);
  return weights[static_cast<size_t>(classOfSlot[static_cast<size_t>(s)])];
}

void PbtMSampleSet::deleteSample() {
  if (!ownsSample || sample == nullptr) return;
  freeFeatures();
  delete sample;
  sample = nullptr;
  ownsSample = 0;
}

void PbtMSampleSet::setSample(PbtSample* s) {
  if (ownsSample && sample != nullptr && sample != s) delete sample;
  sample = s;
}
