#include "pbt/PbtTreeWeak.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "numerics/UniformRandom.h"
#include "platform/ParallelFor.h"
#include "platform/Fatal.h"

namespace {

// Depth, presence byte and child count.
constexpr int kNodeFrame = 4 + 1 + 4;

// The lowest error a worker has seen and its stump's settings; the first feature wins
// among equal errors, as a scan in feature order picks it.
struct BestStump {
  float error = 1.0f;
  int index = -1;
  PbtAdaWeak::Settings settings;
  bool takes(float e, int i) const { return e < error || (e == error && index >= 0 && i < index); }
};

}  // namespace

PbtTreeWeak::~PbtTreeWeak() {
  // Not virtual dispatch here: the derived parts are gone already.
  PbtTreeWeak::clear();
}

PbtTreeWeak& PbtTreeWeak::operator=(const PbtTreeWeak& other) {
  if (this == &other) return *this;
  clear();
  if (other.root == nullptr) return *this;
  root = static_cast<PbtAdaWeak*>(other.root->clone());
  children.assign(other.children.size(), nullptr);
  for (size_t k = 0; k < other.children.size(); ++k) {
    if (other.children[k] != nullptr) children[k] = static_cast<PbtTreeWeak*>(other.children[k]->clone());
  }
  depth = other.depth;
  return *this;
}

PbtClassifier* PbtTreeWeak::clone() const {
  PbtTreeWeak* copy = new PbtTreeWeak();
  *copy = *this;
  return copy;
}

void PbtTreeWeak::clear() {
  delete root;
  root = nullptr;
  for (PbtTreeWeak* c : children) delete c;
  children.clear();
}

void PbtTreeWeak::write(BinaryWriter& out) const {
  out.i32(depth);
  out.u8(root != nullptr ? 1 : 0);
  if (root != nullptr) root->write(out);
  out.i32(static_cast<int32_t>(children.size()));
  for (const PbtTreeWeak* c : children) {
    // A missing child is written as an empty node one level down.
    if (c != nullptr) {
      c->write(out);
    } else {
      out.i32(depth + 1);
      out.u8(0);
      out.i32(0);
    }
  }
}

bool PbtTreeWeak::read(BinaryReader& in) {
  PbtTreeWeak node;
  if (!node.readNode(in, 0)) {
    in.fail();
    return false;
  }
  clear();
  depth = node.depth;
  root = node.root;
  children.swap(node.children);
  node.root = nullptr;
  return true;
}

bool PbtTreeWeak::readNode(BinaryReader& in, int level) {
  uint8_t hasStump = 0;
  if (level >= kMaxLevels || !in.fits(kNodeFrame, 1) || !in.i32(depth) || !in.u8(hasStump)) return false;
  if (hasStump != 0) {
    root = new PbtAdaWeak();  // deliberate: a stored stump (two draws)
    if (!root->read(in)) return false;
  }
  int32_t count = 0;
  if (!in.i32(count) || (count != 0 && count != 2)) return false;
  for (int32_t k = 0; k < count; ++k) {
    children.push_back(new PbtTreeWeak());
    if (!children.back()->readNode(in, level + 1)) return false;
  }
  return true;
}

float PbtTreeWeak::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtAdaWeakParams* p = dynamic_cast<PbtAdaWeakParams*>(params);
  if (p == nullptr) FatalExit(1, "PbtTreeWeak: training needs a PbtAdaWeakParams record\n", stderr);
  clear();

  VectorQo<double>& posW = set->getWeights(true);
  VectorQo<double>& negW = set->getWeights(false);
  const VectorQo<double> savedPos = posW;
  const VectorQo<double> savedNeg = negW;
  const PbtSample* shared = set->getSampleObject();
  static const std::vector<PbtFid> kNoPool;
  const std::vector<PbtFid>& pool = shared != nullptr ? shared->featurePool : kNoPool;
  const int n = set->numFeatures();

  PbtAdaWeakParams stumpParams;
  static_cast<PbtClassifierParams&>(stumpParams) = *p;
  stumpParams.numThresholds = 30;
  stumpParams.stumpBins = p->stumpBins;
  // The weights stay as they are while this node's stumps train: their sums are formed once.
  stumpParams.weightSumsGiven = true;
  stumpParams.posWeightSum = posW.Sum();
  stumpParams.negWeightSum = negW.Sum();
  // A child's stumps see the weights of one side only: the others are 0 and are
  // passed over.
  std::vector<int> posNonZero, negNonZero;
  const int posCount = std::min(set->numSamples(true), ElementCount(posW));
  const int negCount = std::min(set->numSamples(false), ElementCount(negW));
  for (int i = 0; i < posCount; ++i)
    if (posW[i] != 0.0) posNonZero.push_back(i);
  for (int i = 0; i < negCount; ++i)
    if (negW[i] != 0.0) negNonZero.push_back(i);
  stumpParams.posNonZero = &posNonZero;
  stumpParams.negNonZero = &negNonZero;

  // One candidate stump per feature, each built, trained and destroyed by the worker
  // that trains it, without its two draws (PbtAdaWeak(WithoutDraw)): their values were
  // never used, only their number. The 2 n draws are taken here in their place, so the
  // generator is where n drawing constructions in feature order left it before the
  // kept stump's construction below; training draws nothing. The best is picked as a
  // scan in feature order picks it: the lowest error below 1.0, the first feature
  // among equal ones.
  for (long long k = 0; k < 2LL * n; ++k) UniformRandom(&gUniformRandomSeed);  // deliberate: two per candidate
  const int workers = std::max(1, WorkerCount());
  std::vector<BestStump> bests(static_cast<size_t>(workers));
  {
    // One parameter record per worker, set for each feature it trains.
    std::vector<PbtAdaWeakParams> own(static_cast<size_t>(workers), stumpParams);
    ParallelFor(0, n, [&](int i, int worker) {
      PbtAdaWeakParams& mine = own[static_cast<size_t>(worker)];
      mine.fid = static_cast<size_t>(i) < pool.size() ? pool[static_cast<size_t>(i)] : stumpParams.fid;
      mine.featureIndex = i;
      // The worker's one candidate at a time, in the same stack slot for every feature.
      PbtAdaWeak candidate{WithoutDraw{}};
      const float e = candidate.train(set, &mine);
      BestStump& b = bests[static_cast<size_t>(worker)];
      if (b.takes(e, i)) {
        b.error = e;
        b.index = i;
        b.settings = candidate.settings();
      }
    });
  }
  BestStump best;
  for (const BestStump& b : bests) {
    if (b.index >= 0 && best.takes(b.error, b.index)) best = b;
  }
  // No stump below an error of 1.0: the node stays without one.
  if (best.index < 0) return 1.0f;
  const float err = best.error;
  // Deliberate: once, after the candidates' draws and the search, as a clone of the
  // best stump (two draws).
  root = new PbtAdaWeak();
  root->assign(best.settings);

  if (depth + 1 >= p->treeDepth || err <= 0) return err;

  const int nPos = std::min(set->numSamples(true), ElementCount(posW));
  const int nNeg = std::min(set->numSamples(false), ElementCount(negW));
  children.assign(2, nullptr);
  for (int k = 0; k < 2; ++k) {
    children[static_cast<size_t>(k)] = new PbtTreeWeak();
    // Side 0 keeps the samples the stump calls negative, side 1 the others.
    for (int i = 0; i < nPos; ++i) {
      const bool toSide1 = root->classifyInSet(set, 1, i) >= 0;
      if (toSide1 != (k == 1)) posW[i] = 0.0;
    }
    for (int i = 0; i < nNeg; ++i) {
      const bool toSide1 = root->classifyInSet(set, 0, i) >= 0;
      if (toSide1 != (k == 1)) negW[i] = 0.0;
    }
    if (posW.Sum() + negW.Sum() > 0) {
      children[static_cast<size_t>(k)]->depth = depth + 1;
      children[static_cast<size_t>(k)]->train(set, p);
    }
    posW = savedPos;
    negW = savedNeg;
  }
  return err;
}

float PbtTreeWeak::classifyInSet(PbtSampleSet* set, int classFlag, int index) {
  if (root == nullptr) return 0.0f;
  const float r = root->classifyInSet(set, classFlag, index);
  if (children.size() < 2) return r >= 0 ? 1.0f : -1.0f;
  const int side = r >= 0 ? 1 : 0;
  PbtTreeWeak* child = children[static_cast<size_t>(side)];
  if (child == nullptr || child->root == nullptr) return side == 1 ? 1.0f : -1.0f;
  return child->classifyInSet(set, classFlag, index);
}

float PbtTreeWeak::probability(PbtSample* sample) {
  if (root == nullptr) return 0.0f;
  const float r = root->response(sample);
  if (children.size() < 2) return r >= 0 ? 1.0f : 0.0f;
  const int side = r >= 0 ? 1 : 0;
  PbtTreeWeak* child = children[static_cast<size_t>(side)];
  if (child == nullptr || child->root == nullptr) return side == 1 ? 1.0f : 0.0f;
  return child->probability(sample);
}

void PbtTreeWeak::collectFeatures(std::vector<PbtFid>& out) const {
  if (root != nullptr) root->collectFeatures(out);
  for (const PbtTreeWeak* c : children) {
    if (c != nullptr) c->collectFeatures(out);
  }
}
