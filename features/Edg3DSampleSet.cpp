#include "features/Edg3DSampleSet.h"

#include "features/Edg3DSample.h"
#include "numerics/MinHeap.h"

namespace {

// The records whose factor is > 0 among the first `count` (the base's rule: NaN and
// missing factors are not positive).
void KeepPositive(std::vector<VoxelSampleRecord>& records, const VectorQo<double>& factors, int count) {
  const int nFactors = factors.rows * factors.cols;
  std::vector<VoxelSampleRecord> kept;
  for (int i = 0; i < count && i < static_cast<int>(records.size()); ++i) {
    if (i < nFactors && factors[i] > 0.0) kept.push_back(records[static_cast<size_t>(i)]);
  }
  records.swap(kept);
}

}  // namespace

Edg3DSampleSet::~Edg3DSampleSet() {
  // Not virtual dispatch here: the base destructor finishes the base part.
  Edg3DSampleSet::clear();
}

Edg3DSampleSet& Edg3DSampleSet::operator=(const Edg3DSampleSet& other) {
  if (this == &other) return *this;
  clear();
  PbtSampleSet::operator=(other);
  posRecords = other.posRecords;
  negRecords = other.negRecords;
  return *this;
}

PbtSampleSet* Edg3DSampleSet::clone() const {
  Edg3DSampleSet* copy = new Edg3DSampleSet();
  *copy = *this;
  return copy;
}

PbtSampleSet* Edg3DSampleSet::create() const { return new Edg3DSampleSet(); }

void Edg3DSampleSet::filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg) {
  const int oldPos = numPos, oldNeg = numNeg;
  PbtSampleSet::filterByWeights(pos, neg);
  KeepPositive(posRecords, pos, oldPos);
  KeepPositive(negRecords, neg, oldNeg);
}

void Edg3DSampleSet::drawSamples() {
  const int n = numEntries();
  if (n == 0) return;
  MinHeap heap(n);
  for (int e = 0; e < n; ++e) {
    const std::vector<VoxelSampleRecord>& records = entryPositive[e] != 0 ? posRecords : negRecords;
    const int s = entrySample[e];
    HeapEntry h;
    h.key = s >= 0 && s < static_cast<int>(records.size()) ? static_cast<double>(records[static_cast<size_t>(s)].caseNumber)
                                                          : 65536.0;
    h.value = e;
    heap.Push(h);
  }
  std::vector<int32_t> sampleOrder(static_cast<size_t>(n));
  std::vector<uint16_t> positiveOrder(static_cast<size_t>(n));
  HeapEntry h;
  for (int i = 0; i < n && heap.Pop(&h); ++i) {
    sampleOrder[static_cast<size_t>(i)] = entrySample[static_cast<size_t>(h.value)];
    positiveOrder[static_cast<size_t>(i)] = entryPositive[static_cast<size_t>(h.value)];
  }
  entrySample.swap(sampleOrder);
  entryPositive.swap(positiveOrder);
}

void Edg3DSampleSet::clear() {
  PbtSampleSet::clear();
  std::vector<VoxelSampleRecord>().swap(posRecords);
  std::vector<VoxelSampleRecord>().swap(negRecords);
}

PbtSample* Edg3DSampleSet::getSample(int index, bool positive) {
  const VoxelSampleRecord& r = (positive ? posRecords : negRecords)[static_cast<size_t>(index)];
  return setSamplePosition(r.firstWord(), r.secondWord());
}

void Edg3DSampleSet::resetLoaded(EdgSampleSetParams& params) { params.loaded = 0; }

PbtSample* Edg3DSampleSet::setSamplePosition(uint32_t firstWord, uint32_t secondWord) {
  Edg3DSample* voxelSample = dynamic_cast<Edg3DSample*>(sample);
  if (voxelSample != nullptr) voxelSample->setPosition(VoxelSampleRecord::FromWords(firstWord, secondWord));
  return sample;
}
