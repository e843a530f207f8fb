#include "PbtTestSets.h"

#include <sstream>
#include <string>
#include <utility>

#include "pbt/PbtSampleSetParams.h"

TableSample::TableSample(int numFeatures) {
  for (int f = 0; f < numFeatures; ++f) {
    PbtFid fid;
    fid.kind = 'T';
    fid.setDescription(("test feature " + std::to_string(f)).c_str());
    fid.params[0] = f;
    featurePool.push_back(fid);
  }
}

float TableSample::computeFeature(const PbtFid& fid) {
  ++computeCalls;
  return (*row_)[static_cast<size_t>(fid.params[0])];
}

VectorSampleSet::VectorSampleSet(std::vector<std::vector<float>> pos, std::vector<std::vector<float>> neg)
    : posValues(std::move(pos)), negValues(std::move(neg)) {
  const size_t features = !posValues.empty() ? posValues[0].size() : negValues[0].size();
  setSample(new TableSample(static_cast<int>(features)));
  setOwnsSample(true);
  PbtSampleSetParams params;
  init(params);
  initWeights(static_cast<int>(posValues.size()), static_cast<int>(negValues.size()), 0.5f);
  buildOrder();
}

VectorSampleSet* VectorSampleSet::singleFeature(const std::vector<float>& pos, const std::vector<float>& neg) {
  std::vector<std::vector<float>> p, n;
  for (float v : pos) p.push_back({v});
  for (float v : neg) n.push_back({v});
  return new VectorSampleSet(std::move(p), std::move(n));
}

VectorSampleSet& VectorSampleSet::operator=(const VectorSampleSet& other) {
  if (this == &other) return *this;
  PbtSampleSet::operator=(other);
  posValues = other.posValues;
  negValues = other.negValues;
  return *this;
}

PbtSampleSet* VectorSampleSet::clone() const {
  VectorSampleSet* copy = new VectorSampleSet();
  *copy = *this;
  return copy;
}

PbtSample* VectorSampleSet::getSample(int index, bool positive) {
  TableSample* s = tableSample();
  s->setPosition(positive ? &posValues[static_cast<size_t>(index)] : &negValues[static_cast<size_t>(index)]);
  return s;
}

void VectorSampleSet::filterByWeights(const VectorQo<double>& pos, const VectorQo<double>& neg) {
  PbtSampleSet::filterByWeights(pos, neg);
  auto keep = [](std::vector<std::vector<float>>& rows, const VectorQo<double>& factors) {
    std::vector<std::vector<float>> kept;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (static_cast<int>(i) < factors.cols && factors[static_cast<int>(i)] > 0.0) kept.push_back(rows[i]);
    }
    rows.swap(kept);
  };
  keep(posValues, pos);
  keep(negValues, neg);
}

float ValueClassifier::probability(PbtSample* sample) { return sample->getFeatureValue(sample->featurePool[0]); }

std::string RecordBytes(const PbtClassifier& c) {
  std::ostringstream out;
  BinaryWriter w(out);
  c.write(w);
  return out.str();
}

PbtAdaWeak* Stump(int feature, float threshold, uint8_t polarity) {
  PbtAdaWeak* s = new PbtAdaWeak();
  s->fid.params[0] = feature;
  s->fid.poolIndex = feature;
  s->featureIndex = feature;
  s->threshold = threshold;
  s->polarity = polarity;
  return s;
}

PbtAdaBoostParams BoostParams(int numWeak, const std::string& logName, bool verbose) {
  PbtAdaBoostParams p;
  p.numWeak = numWeak;
  p.logName = logName;
  p.verbose = verbose ? 1 : 0;
  return p;
}

PbtAdaWeakParams CascadeParams(int numMembers, const std::string& logName) {
  PbtAdaWeakParams p;
  p.numMembers = numMembers;
  p.logName = logName;
  return p;
}

bool ReadRecord(PbtClassifier& c, const std::string& bytes) {
  std::istringstream in(bytes);
  BinaryReader r(in);
  return c.read(r);
}

bool ReadWholeRecord(PbtClassifier& c, const std::string& bytes) {
  std::istringstream in(bytes);
  BinaryReader r(in);
  return c.read(r) && r.remaining() == 0;
}

void DrawingSample::renderImage(Raster<unsigned char>& image) {
  const float v = computeFeature(featurePool[0]);
  if (static_cast<int>(v) % 2 == 0) return;
  image.SetSize(2, 3);
  image.Fill(static_cast<unsigned char>(v));
}
