#include "pbt/PbtOrBoost.h"

#include <memory>
#include <vector>

#include "pbt/PbtAndBoost.h"
#include "pbt/PbtLog.h"
#include "platform/Fatal.h"
#include "platform/SystemInfo.h"

PbtOrBoost& PbtOrBoost::operator=(const PbtOrBoost& other) {
  copyBoosterFrom(other);
  return *this;
}

PbtClassifier* PbtOrBoost::clone() const {
  PbtOrBoost* copy = new PbtOrBoost();
  *copy = *this;
  return copy;
}

void PbtOrBoost::write(BinaryWriter& out) const { PbtAndBoost::writeStumpRecord(out, *this); }

bool PbtOrBoost::read(BinaryReader& in) { return PbtAndBoost::readStumpRecord(in, *this); }

float PbtOrBoost::classifyInSet(PbtSampleSet* set, int classFlag, int index) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->classifyInSet(set, classFlag, index) >= 0) return 1.0f;
  }
  return -1.0f;
}

float PbtOrBoost::ensembleScore(PbtSample* sample) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->response(sample) >= 0) return 1.0f;
  }
  return -1.0f;
}

float PbtOrBoost::probability(PbtSample* sample) { return ensembleScore(sample) >= 0 ? 1.0f : 0.0f; }

void PbtOrBoost::markAccepted(PbtSampleSet* set, const PbtAdaWeak& stump, int featureIndex,
                              VectorQo<short>& posMarks, VectorQo<short>& negMarks) {
  const float* posRow = set->getFeatureTable(true)[featureIndex];
  const float* negRow = set->getFeatureTable(false)[featureIndex];
  for (int i = 0; i < posMarks.cols; ++i) {
    if (posMarks[i] <= 0 && stump.decide(posRow[i]) >= 0) posMarks[i] = 1;
  }
  for (int i = 0; i < negMarks.cols; ++i) {
    if (negMarks[i] <= 0 && stump.decide(negRow[i]) >= 0) negMarks[i] = 1;
  }
}

float PbtOrBoost::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtAdaWeakParams* p = dynamic_cast<PbtAdaWeakParams*>(params);
  if (p == nullptr) FatalExit(1, "PbtOrBoost: training needs a PbtAdaWeakParams record\n", stderr);
  if (set->getFeatureTable(true) == nullptr || set->getFeatureTable(false) == nullptr) {
    FatalExit(1, "PbtOrBoost: the sample set's features are not cached\n", stderr);
  }
  clear();
  const VectorQo<double> savedPos = set->getWeights(true);
  const VectorQo<double> savedNeg = set->getWeights(false);
  const PbtSample* shared = set->getSampleObject();
  const std::vector<PbtFid> pool = shared != nullptr ? shared->featurePool : std::vector<PbtFid>();
  const int nFeat = set->numFeatures();
  std::vector<std::unique_ptr<PbtAdaWeak>> candidates;
  for (int i = 0; i < nFeat; ++i) {
    candidates.emplace_back(new PbtAdaWeak());  // deliberate: one stump per feature (two draws)
  }

  PbtAdaWeakParams weak;
  weak.numThresholds = 30;
  weak.featureIndex = -1;
  weak.numMembers = 0;

  const int nPos = set->numSamples(true);
  VectorQo<short> posMarks(nPos);
  VectorQo<short> negMarks(set->numSamples(false));

  float previousBest = 1.0f;
  int previousIndex = -1;
  for (int r = 0; r < p->numMembers; ++r) {
    const double t = ProcessorMillis();
    float best = 1.0f;
    int bestIndex = 0;
    for (int j = 0; j < nFeat; ++j) {
      weak.featureIndex = j;
      if (static_cast<size_t>(j) < pool.size()) weak.fid = pool[static_cast<size_t>(j)];
      const float e = candidates[static_cast<size_t>(j)]->trainVariant1(set, &weak, posMarks, negMarks);
      if (e < best) {
        best = e;
        bestIndex = j;
      }
    }
    // Also ends a round without a candidate below 1.0 (bestIndex is then still 0).
    if (bestIndex == previousIndex || !(best < previousBest)) break;
    previousBest = best;
    const PbtAdaWeak& chosen = *candidates[static_cast<size_t>(bestIndex)];
    markAccepted(set, chosen, bestIndex, posMarks, negMarks);
    members.push_back(chosen.clone());  // deliberate: one clone per kept round
    if (p->verbose) {
      WriteLog(p->logName, FormatText("    or: i=%2d  best=%5d e=%.3f %s (time=%.3fs)\n", r, bestIndex, best,
                                      chosen.getName(), (ProcessorMillis() - t) / 1000.0));
    }
    int accepted = 0;
    for (int i = 0; i < posMarks.cols; ++i) accepted += posMarks[i];
    if (accepted == nPos) break;
    previousIndex = bestIndex;
  }

  set->getWeights(true) = savedPos;
  set->getWeights(false) = savedNeg;
  float falsePos = 0.0f, falseNeg = 0.0f, error = 0.0f;
  evaluateError(set, &falsePos, &falseNeg, &error, true);
  return error;
}
