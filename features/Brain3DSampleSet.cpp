#include "features/Brain3DSampleSet.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "features/CaseVolumeChecks.h"
#include "features/Edg3DSampleSet.h"
#include "features/Object3DSample.h"
#include "features/SampleSetNames.h"
#include "numerics/MinHeap.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtLog.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "volume/FolderLayout.h"

using namespace case_volume_checks;
using namespace sample_set_names;

namespace {

// "mkdir <folder>" with the folder's slashes turned into backslashes; nothing for an
// empty folder name.
void MakeFolderOf(const std::string& folder) {
  if (TrimBoth(folder).empty()) return;
  std::string command = "mkdir " + folder;
  ToBackslashes(command);
  RunFolderCommand(command);
}

// Whether voxel coordinate v lies at least `border` inside an extent.
inline bool Interior(int v, int extent, int border) { return v >= border && v < extent - border; }

}  // namespace

Brain3DSampleSet::~Brain3DSampleSet() { std::vector<std::vector<VoxelSampleRecord>>().swap(samples); }

Brain3DSampleSet& Brain3DSampleSet::operator=(const Brain3DSampleSet& other) {
  if (this == &other) return *this;
  if (sample == other.sample) ownsSample = 0;  // never delete the sample being shared
  clear(true);
  PbtMSampleSet::operator=(other);
  samples = other.samples;
  return *this;
}

PbtMSampleSet* Brain3DSampleSet::clone() const {
  Brain3DSampleSet* copy = new Brain3DSampleSet();  // two draws: its distributions
  *copy = *this;
  return copy;
}

PbtMSampleSet* Brain3DSampleSet::create() const { return new Brain3DSampleSet(); }

EdgSampleSetParams& Brain3DSampleSet::voxelParams(PbtSampleSetParams& params, const char* operation) {
  EdgSampleSetParams* p = dynamic_cast<EdgSampleSetParams*>(&params);
  if (p == nullptr) FatalExit(1, FormatText("Brain3DSampleSet::%s: not a voxel sample-set record\n", operation));
  return *p;
}

Object3DSample* Brain3DSampleSet::ensureSample(EdgSampleSetParams& p) {
  if (sample == nullptr) {
    setSample(new Object3DSample(p.numClasses, p.radius));
    setOwnsSample(true);
    PbtMSampleSet::init(p);
  }
  Object3DSample* s = static_cast<Object3DSample*>(sample);
  const std::string data = NameText(p.dataFolder);
  s->setDirectory(data.c_str());
  return s;
}

void Brain3DSampleSet::clear(bool deleteTheSample) {
  PbtMSampleSet::clear(deleteTheSample);
  for (auto& list : samples) std::vector<VoxelSampleRecord>().swap(list);
  std::vector<std::vector<VoxelSampleRecord>>().swap(samples);
}

PbtSample* Brain3DSampleSet::setSamplePosition(uint32_t word0, uint32_t word1) {
  static_cast<Object3DSample*>(sample)->setPosition(VoxelSampleRecord::FromWords(word0, word1));
  return sample;
}

PbtSample* Brain3DSampleSet::getSample(int c, int i) {
  const VoxelSampleRecord& r = samples[static_cast<size_t>(c)][static_cast<size_t>(i)];
  return setSamplePosition(r.firstWord(), r.secondWord());
}

// ---- class volumes -------------------------------------------------------------------

void Brain3DSampleSet::BuildLabelVolume(HeapMatrix3D<unsigned char>& out, int K,
                                        const HeapMatrix3D<unsigned char>& labels, int border,
                                        std::vector<int64_t>& counts) {
  out.SetSize(labels.dim0(), labels.dim1(), labels.dim2());
  out.Fill(LowByte(static_cast<int64_t>(K) + 1));
  if (labels.NumElements() == 0) return;
  for (int z = 0; z < labels.dim0(); ++z) {
    if (!Interior(z, labels.dim0(), border)) continue;
    for (int y = 0; y < labels.dim1(); ++y) {
      if (!Interior(y, labels.dim1(), border)) continue;
      for (int x = 0; x < labels.dim2(); ++x) {
        if (!Interior(x, labels.dim2(), border)) continue;
        const int l = labels[z][y][x];
        if (l < K && l < static_cast<int>(counts.size())) {
          out[z][y][x] = static_cast<unsigned char>(l);
          ++counts[static_cast<size_t>(l)];
        }
      }
    }
  }
}

void Brain3DSampleSet::buildClassVolume(const HeapMatrix3D<unsigned char>& labels,
                                        const HeapMatrix3D<unsigned char>* mask, int border,
                                        std::vector<int64_t>& totals, std::vector<int64_t>& selected,
                                        HeapMatrix3D<short>& classes) {
  classes.SetSize(labels.dim0(), labels.dim1(), labels.dim2());
  classes.Fill(-1);
  if (labels.NumElements() == 0) return;
  const int nTotals = static_cast<int>(totals.size());
  const int nSelected = static_cast<int>(selected.size());
  for (int z = 0; z < labels.dim0(); ++z) {
    if (!Interior(z, labels.dim0(), border)) continue;
    for (int y = 0; y < labels.dim1(); ++y) {
      if (!Interior(y, labels.dim1(), border)) continue;
      for (int x = 0; x < labels.dim2(); ++x) {
        if (!Interior(x, labels.dim2(), border)) continue;
        const int l = labels[z][y][x];
        if (mask != nullptr) {
          if ((*mask)[z][y][x] > 0 && l < nSelected) {
            ++selected[static_cast<size_t>(l)];
            classes[z][y][x] = static_cast<short>(l);
          }
          if (l < nTotals) ++totals[static_cast<size_t>(l)];
        } else if (l < nTotals && l < nSelected) {
          ++totals[static_cast<size_t>(l)];
          ++selected[static_cast<size_t>(l)];
          classes[z][y][x] = static_cast<short>(l);
        }
      }
    }
  }
}

// ---- preparation ---------------------------------------------------------------------

void Brain3DSampleSet::prepareTrainingData(EdgSampleSetParams& p) {
  std::string labelsFolder = NameText(p.labelsFolder);
  const std::string data = NameText(p.dataFolder);
  std::string folder = labelsFolder;
  ToBackslashes(folder);
  if (!TrimBoth(folder).empty()) {
    RunFolderCommand("rmdir /s /q " + folder);
    RunFolderCommand("mkdir " + folder);
  }
  const int K = p.numClasses > 0 ? p.numClasses : 0;
  std::vector<int64_t> counts(static_cast<size_t>(K), 0);
  for (int i = 0; i < p.numTrain; ++i) {
    const std::string caseName = layout::CaseFile(data, i, layout::kCaseVolumeEnding);
    HeapMatrix3D<unsigned char> volume;
    if (!volume.Load(caseName) || volume.NumElements() == 0) {
      FatalExit(1, "Unable to load training volume " + caseName + "\n");
    }
    const std::string labelName = layout::CaseFile(data, i, layout::kCaseLabelsEnding);
    HeapMatrix3D<unsigned char> labels;
    if (!labels.Load(labelName) || labels.NumElements() == 0) {
      FatalExit(1, "Unable to load training label " + labelName + "\n");
    }
    if (!SameExtents(labels, volume)) {
      ReportSkippedCase(labelName, i);
      continue;
    }
    HeapMatrix3D<unsigned char> classes;
    BuildLabelVolume(classes, K, labels, p.radius, counts);
    SaveOrDie(classes, layout::CaseFile(labelsFolder, i, layout::kCaseLabelsEnding));
    SaveOrDie(volume, layout::CaseFile(labelsFolder, i, layout::kCaseVolumeEnding));
  }
  // Frequencies from exact counts; a set without any counted voxel has frequency 0.
  float sum = 0.0f;
  for (int64_t c : counts) sum += static_cast<float>(c);
  p.classFrequencies.SetSize(K);
  for (int k = 0; k < K; ++k) {
    p.classFrequencies[k] = sum != 0.0f ? static_cast<float>(counts[static_cast<size_t>(k)]) / sum : 0.0f;
  }
  p.loaded = 1;
  setClassCounts(VectorQo<int>(K, 0), VectorQo<float>(K, 0.0f));
}

// ---- sampling -----------------------------------------------------------------------

void Brain3DSampleSet::setupDraws(int capacity) {
  acceptDraw = RF();  // a fresh distribution: one draw
  acceptDraw.Init(0.0, 1.0, 1.0);
  RF_uniform positions;  // a fresh distribution: one draw
  positions.Init(0.0, capacity - 1, 1.0);
  positionDraw = positions;
}

void Brain3DSampleSet::reservoirAdd(int c, int n, int seen, const VoxelSampleRecord& record) {
  std::vector<VoxelSampleRecord>& list = samples[static_cast<size_t>(c)];
  if (static_cast<int>(list.size()) < n) {
    list.push_back(record);
    return;
  }
  if (n <= 0 || seen <= 0) return;
  const double q = static_cast<double>(n) / seen;
  acceptDraw.Set(0.0, 1.0 - q);
  acceptDraw.Set(1.0, q);
  acceptDraw.Normalize();
  if (acceptDraw.DrawRounded() != 1) return;
  const int32_t position = TruncToInt32(positionDraw.DrawFromTable());
  if (position >= 0 && position < static_cast<int>(list.size())) list[static_cast<size_t>(position)] = record;
}

void Brain3DSampleSet::sortSamples() {
  const int n = numEntries();
  MinHeap heap(n);
  for (int e = 0; e < n; ++e) {
    HeapEntry entry;
    const size_t ue = static_cast<size_t>(e);
    entry.key = static_cast<double>(
        samples[static_cast<size_t>(entryClass[ue])][static_cast<size_t>(entryIndex[ue])].caseNumber);
    entry.value = e;
    heap.Push(entry);
  }
  std::vector<int> newClass, newIndex;
  newClass.reserve(static_cast<size_t>(n));
  newIndex.reserve(static_cast<size_t>(n));
  HeapEntry top;
  while (heap.Pop(&top)) {
    newClass.push_back(entryClass[static_cast<size_t>(top.value)]);
    newIndex.push_back(entryIndex[static_cast<size_t>(top.value)]);
  }
  entryClass.swap(newClass);
  entryIndex.swap(newIndex);
}

void Brain3DSampleSet::init(PbtSampleSetParams& params) {
  EdgSampleSetParams& p = voxelParams(params, "init");
  const int n = p.numTrainingSamples;
  const int r = p.radius;
  const int K = p.numClasses > 0 ? p.numClasses : 0;
  const std::string data = NameText(p.dataFolder);
  const std::string out = NameText(p.outFolder);

  MakeFolderOf(out);
  ensureSample(p);
  const bool bootstrap = p.classifier != nullptr;
  if (bootstrap) applyClassifier(p, layout::kCaseBootstrapEnding);

  std::vector<std::vector<VoxelSampleRecord>>(static_cast<size_t>(K)).swap(samples);
  setupDraws(n);

  std::vector<int64_t> total(static_cast<size_t>(K), 0), selectable(static_cast<size_t>(K), 0);
  std::vector<uint8_t> on(static_cast<size_t>(K), 1);
  const int64_t stopAt = static_cast<int64_t>(p.stopFactor) * n;
  for (int i = 0; i < p.numTrain; ++i) {
    HeapMatrix3D<unsigned char> labels;
    const std::string labelName = layout::CaseFile(data, i, layout::kCaseLabelsEnding);
    labels.Load(labelName);
    if (labels.NumElements() == 0) continue;  // an unreadable label volume gives no samples
    HeapMatrix3D<unsigned char> mask;
    if (bootstrap) {
      const std::string maskName = layout::CaseFile(out, i, layout::kCaseBootstrapEnding);
      mask.Load(maskName);
      if (!SameExtents(mask, labels)) {
        ReportSkippedCase(maskName, i);
        continue;
      }
    }
    std::vector<int64_t> caseTotal(static_cast<size_t>(K), 0), caseSelectable(static_cast<size_t>(K), 0);
    HeapMatrix3D<short> classes;
    buildClassVolume(labels, bootstrap ? &mask : nullptr, r, caseTotal, caseSelectable, classes);

    std::vector<int64_t> offered(static_cast<size_t>(K), 0);
    for (int z = 0; z < classes.dim0(); ++z) {
      for (int y = 0; y < classes.dim1(); ++y) {
        for (int x = 0; x < classes.dim2(); ++x) {
          const int c = classes[z][y][x];
          if (c < 0 || c >= K || !on[static_cast<size_t>(c)]) continue;
          VoxelSampleRecord record;
          record.caseNumber = LowShort(i);
          record.z = LowShort(z);
          record.y = LowShort(y);
          record.x = LowShort(x);
          const size_t uc = static_cast<size_t>(c);
          const int64_t seen = offered[uc] + selectable[uc];
          reservoirAdd(c, n, seen > INT32_MAX ? INT32_MAX : static_cast<int>(seen), record);
          ++offered[uc];
        }
      }
    }
    for (int k = 0; k < K; ++k) {
      const size_t uk = static_cast<size_t>(k);
      total[uk] += caseTotal[uk];
      selectable[uk] += caseSelectable[uk];
      if (selectable[uk] >= stopAt) on[uk] = 0;
    }
  }

  VectorQo<int> counts(K);
  for (int k = 0; k < K; ++k) counts[k] = static_cast<int>(samples[static_cast<size_t>(k)].size());

  VectorQo<float> W(K);
  float sum = 0.0f;
  if (p.classVoxelWeights.rows * p.classVoxelWeights.cols == 0) {
    // The first init of a training fixes the weight of one voxel of each class.
    p.meanClassVoxels.SetSize(K);
    for (int k = 0; k < K; ++k) {
      p.meanClassVoxels[k] =
          p.numTrain > 0 ? static_cast<double>(selectable[static_cast<size_t>(k)]) / p.numTrain : 0.0;
      W[k] = static_cast<float>(counts[k]);
      sum += W[k];
    }
    if (sum != 0.0f) {
      for (int k = 0; k < K; ++k) W[k] /= sum;
    }
    p.classVoxelWeights.SetSize(K);
    for (int k = 0; k < K; ++k) {
      const int64_t t = total[static_cast<size_t>(k)];
      p.classVoxelWeights[k] = t != 0 ? W[k] / static_cast<double>(t) : 0.0;
    }
  } else {
    const int known = p.classVoxelWeights.rows * p.classVoxelWeights.cols;
    for (int k = 0; k < K; ++k) {
      const double w = k < known ? p.classVoxelWeights[k] : 0.0;
      W[k] = static_cast<float>(static_cast<double>(selectable[static_cast<size_t>(k)]) * w);
      sum += W[k];
    }
    if (sum != 0.0f) {
      for (int k = 0; k < K; ++k) W[k] /= sum;
    }
  }

  setClassCounts(counts, W);
  for (int k = 0; k < K; ++k) {
    const int64_t t = total[static_cast<size_t>(k)];
    // A class without any voxel has mass 0 rather than 0 / 0.
    setClassMass(k, t != 0 ? static_cast<double>(selectable[static_cast<size_t>(k)]) / static_cast<double>(t) : 0.0);
  }
  buildEntries();
  sortSamples();
  maskRareClasses(n - 10);
}

void Brain3DSampleSet::selectSamples(const std::vector<VectorQo<double>>& sel) {
  const int K = numLabels();
  std::vector<int> oldCount(static_cast<size_t>(K));
  for (int c = 0; c < K; ++c) oldCount[static_cast<size_t>(c)] = classCount[c];
  PbtMSampleSet::selectSamples(sel);
  for (int c = 0; c < K && c < static_cast<int>(samples.size()); ++c) {
    if (classCount[c] == oldCount[static_cast<size_t>(c)]) continue;
    const size_t uc = static_cast<size_t>(c);
    std::vector<VoxelSampleRecord> kept;
    kept.reserve(static_cast<size_t>(classCount[c]));
    const VectorQo<double>* factors = uc < sel.size() ? &sel[uc] : nullptr;
    const int nFactors = factors != nullptr ? factors->rows * factors->cols : 0;
    for (size_t i = 0; i < samples[uc].size(); ++i) {
      const double f = static_cast<int>(i) < nFactors ? (*factors)[static_cast<int>(i)] : 0.0;
      if (f > 0.0) kept.push_back(samples[uc][i]);
    }
    samples[uc].swap(kept);
  }
  sortSamples();
}

void Brain3DSampleSet::resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives) {
  PbtMSampleSet::resampleFrom(target, maxPositives, maxNegatives);
  Edg3DSampleSet* voxels = dynamic_cast<Edg3DSampleSet*>(target);
  if (voxels == nullptr) FatalExit(1, "Brain3DSampleSet::resampleFrom: the target is not a voxel sample set\n");
  voxels->posRecords.clear();
  voxels->negRecords.clear();
  voxels->reset();
  while (voxels->hasNext()) {
    voxels->next();
    int j = 0;
    uint16_t c = 0;
    voxels->getCurrentEntry(j, c);
    if (!isActiveClass(c)) continue;
    const VoxelSampleRecord& record = samples[c][static_cast<size_t>(j)];
    if (isPositiveClass(c)) {
      voxels->setCurrentEntry(static_cast<int>(voxels->posRecords.size()), 1);
      voxels->posRecords.push_back(record);
    } else {
      voxels->setCurrentEntry(static_cast<int>(voxels->negRecords.size()), 0);
      voxels->negRecords.push_back(record);
    }
  }
  voxels->drawSamples();
}

void Brain3DSampleSet::saveBootstrap(PbtSampleSetParams& params) {
  EdgSampleSetParams& p = voxelParams(params, "saveBootstrap");
  const std::string out = NameText(p.outFolder);
  MakeFolderOf(out);
  const std::string parent = ParentNodeFolder(out);
  for (int i = 0; i < p.numTrain; ++i) {
    HeapMatrix3D<unsigned char> mask;
    mask.Load(layout::CaseFile(parent, i, layout::kCaseBootstrapEnding));
    if (mask.NumElements() > 0) SaveOrDie(mask, layout::CaseFile(out, i, layout::kCaseBootstrapEnding));
  }
}

// ---- lift factor ---------------------------------------------------------------------

double Brain3DSampleSet::liftFactor(RF& a, RF& b) {
  const double sa = a.pdf.Sum();
  const double sb = b.pdf.Sum();
  a.Normalize();
  b.Normalize();
  a.BuildCdf();
  b.BuildCdf();
  double best = 0.0;
  double threshold = 1.0;
  for (double x = 0.0; x <= 1.0; x += 0.05) {
    const double recall = 1.0 - a.CdfLookup(x);
    const double above = sa * recall;
    const double all = above + sb * (1.0 - b.CdfLookup(x));
    const double precision = all > 0.0 ? above / all : 0.0;
    const double score = 0.5 * ((precision + recall) - std::fabs(recall - precision));
    if (score > best) {
      best = score;
      threshold = x;
    }
  }
  if (threshold < 0.5 && threshold > 0.0) return std::fmax(1.0, 0.5 / threshold / 1.5);
  return 1.0;
}
