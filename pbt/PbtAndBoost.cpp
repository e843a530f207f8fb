#include "pbt/PbtAndBoost.h"

#include <memory>
#include <vector>

#include "pbt/PbtLog.h"
#include "platform/Fatal.h"
#include "platform/SystemInfo.h"

PbtAndBoost& PbtAndBoost::operator=(const PbtAndBoost& other) {
  copyBoosterFrom(other);
  return *this;
}

PbtClassifier* PbtAndBoost::clone() const {
  PbtAndBoost* copy = new PbtAndBoost();
  *copy = *this;
  return copy;
}

void PbtAndBoost::writeStumpRecord(BinaryWriter& out, const PbtBooster& booster) {
  // A null member has no record and is left out.
  int32_t n = 0;
  for (const PbtClassifier* m : booster.members) n += m != nullptr ? 1 : 0;
  out.f32(booster.offset);
  out.i32(n);
  for (const PbtClassifier* m : booster.members) {
    if (m != nullptr) m->write(out);
  }
}

bool PbtAndBoost::readStumpRecord(BinaryReader& in, PbtBooster& booster) {
  float offset = 0.0f;
  int32_t n = 0;
  if (!in.f32(offset) || !in.i32(n) || !in.fits(n, PbtAdaWeak::kRecordSize)) {
    in.fail();
    return false;
  }
  std::vector<std::unique_ptr<PbtClassifier>> read;
  for (int32_t i = 0; i < n; ++i) {
    read.emplace_back(new PbtAdaWeak());  // deliberate: one stored stump (two draws)
    if (!read.back()->read(in)) {
      in.fail();
      return false;
    }
  }
  booster.clear();
  for (std::unique_ptr<PbtClassifier>& m : read) booster.members.push_back(m.release());
  booster.alphas.assign(static_cast<size_t>(n), 0.0f);
  booster.offset = offset;
  return true;
}

float PbtAndBoost::classifyInSet(PbtSampleSet* set, int classFlag, int index) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->classifyInSet(set, classFlag, index) < 0) return -1.0f;
  }
  return 1.0f;
}

float PbtAndBoost::ensembleScore(PbtSample* sample) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->response(sample) < 0) return -1.0f;
  }
  return 1.0f;
}

float PbtAndBoost::probability(PbtSample* sample) { return ensembleScore(sample) >= 0 ? 1.0f : 0.0f; }

void PbtAndBoost::updateWeights(PbtSampleSet* set, const PbtAdaWeak& stump, int featureIndex,
                                VectorQo<short>& posFlags, VectorQo<short>& negFlags) {
  const float* posRow = set->getFeatureTable(true)[featureIndex];
  const float* negRow = set->getFeatureTable(false)[featureIndex];
  for (int i = 0; i < posFlags.cols; ++i) {
    if (posFlags[i] > 0 && stump.decide(posRow[i]) < 0) posFlags[i] = 0;
  }
  for (int i = 0; i < negFlags.cols; ++i) {
    if (negFlags[i] > 0 && stump.decide(negRow[i]) < 0) negFlags[i] = 0;
  }
}

void PbtAndBoost::trainStumpCascade(PbtBooster& booster, PbtSampleSet* set, PbtClassifierParams* params,
                                    const char* className, const char* tag, const VectorQo<short>& posFlags,
                                    const std::function<float(PbtAdaWeak&, PbtAdaWeakParams*)>& trainStump,
                                    const std::function<void(const PbtAdaWeak&, int)>& accept) {
  PbtAdaWeakParams* p = dynamic_cast<PbtAdaWeakParams*>(params);
  if (p == nullptr) FatalExit(1, FormatText("%s: training needs a PbtAdaWeakParams record\n", className), stderr);
  if (set->getFeatureTable(true) == nullptr || set->getFeatureTable(false) == nullptr) {
    FatalExit(1, FormatText("%s: the sample set's features are not cached\n", className), stderr);
  }
  booster.clear();
  const PbtSample* shared = set->getSampleObject();
  const std::vector<PbtFid> pool = shared != nullptr ? shared->featurePool : std::vector<PbtFid>();
  const int nFeat = set->numFeatures();
  std::vector<std::unique_ptr<PbtAdaWeak>> candidates;
  for (int i = 0; i < nFeat; ++i) {
    candidates.emplace_back(new PbtAdaWeak());  // deliberate: one stump per feature (two draws)
  }

  PbtAdaWeakParams weak;  // base part at its defaults
  weak.numThresholds = 30;
  weak.featureIndex = -1;
  weak.numMembers = 0;
  weak.treeDepth = 0;

  const int nPos = set->numSamples(true);
  float prevErr = 1.0f;
  int prevBest = -1;
  for (int r = 0; r < p->numMembers; ++r) {
    const double t = ProcessorMillis();
    float bestErr = 1.0f;
    int best = 0;
    for (int i = 0; i < nFeat; ++i) {
      weak.featureIndex = i;
      if (static_cast<size_t>(i) < pool.size()) weak.fid = pool[static_cast<size_t>(i)];
      const float e = trainStump(*candidates[static_cast<size_t>(i)], &weak);
      if (e < bestErr) {
        best = i;
        bestErr = e;
      }
    }
    // Also ends a level without a candidate below 1.0 (best is then still 0).
    if (best == prevBest || !(bestErr < prevErr)) break;
    prevErr = bestErr;
    const PbtAdaWeak& chosen = *candidates[static_cast<size_t>(best)];
    accept(chosen, best);
    booster.members.push_back(chosen.clone());  // deliberate: one clone per kept level
    if (p->verbose) {
      WriteLog(p->logName, FormatText("    %s: i=%2d  best=%5d e=%.3f %s (time=%.3fs)\n", tag, r, best, bestErr,
                                      chosen.getName(), (ProcessorMillis() - t) / 1000.0));
    }
    // The sum is kept in an int: a 16-bit sum wraps from 32768 positives on.
    int accepted = 0;
    for (int i = 0; i < posFlags.cols; ++i) accepted += posFlags[i];
    if (accepted == nPos) break;
    prevBest = best;
  }
}

float PbtAndBoost::train(PbtSampleSet* set, PbtClassifierParams* params) {
  VectorQo<short> posFlags(set->numSamples(true), 1);
  VectorQo<short> negFlags(set->numSamples(false), 1);
  trainStumpCascade(
      *this, set, params, "PbtAndBoost", "and", posFlags,
      [&](PbtAdaWeak& stump, PbtAdaWeakParams* weak) { return stump.trainVariant2(set, weak, posFlags, negFlags); },
      [&](const PbtAdaWeak& stump, int index) { updateWeights(set, stump, index, posFlags, negFlags); });
  float falsePos = 0.0f, falseNeg = 0.0f, total = 0.0f;
  evaluateError(set, &falsePos, &falseNeg, &total, true);
  return total;
}
