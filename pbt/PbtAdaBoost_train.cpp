// PbtAdaBoost: training and the per-round reweighting.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtAndBoost.h"
#include "pbt/PbtOrBoost.h"
#include "pbt/PbtStumpBins.h"
#include "pbt/PbtTreeWeak.h"
#include "pbt/PbtLog.h"
#include "platform/ParallelFor.h"
#include "platform/Fatal.h"
#include "platform/SystemInfo.h"

namespace {

// The candidates of every round, built once per training call.
std::vector<std::unique_ptr<PbtClassifier>> BuildCandidates(const PbtAdaBoostParams& params, int nFeat) {
  std::vector<std::unique_ptr<PbtClassifier>> candidates;
  if (params.treeDepth > 0) {
    candidates.emplace_back(new PbtTreeWeak());  // no draw
    return candidates;
  }
  for (int i = 0; i < nFeat; ++i) {
    candidates.emplace_back(new PbtAdaWeak());  // deliberate: one stump per feature (two draws each)
  }
  if (params.orLevels > 1) candidates.emplace_back(new PbtOrBoost());    // no draw
  if (params.andLevels > 1) candidates.emplace_back(new PbtAndBoost());  // no draw
  return candidates;
}

}  // namespace

float PbtAdaBoost::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtAdaBoostParams* p = dynamic_cast<PbtAdaBoostParams*>(params);
  if (p == nullptr) FatalExit(1, "PbtAdaBoost: training needs a PbtAdaBoostParams record\n", stderr);

  const double t0 = ProcessorMillis();
  clear();
  const VectorQo<double> savedPos = set->getWeights(true);
  const VectorQo<double> savedNeg = set->getWeights(false);
  const PbtSample* shared = set->getSampleObject();
  const std::vector<PbtFid> pool = shared != nullptr ? shared->featurePool : std::vector<PbtFid>();
  const int nFeat = set->numFeatures();
  const double t1 = ProcessorMillis();
  if (p->noFeatureCache <= 0) set->calculateAllFeatures();

  std::vector<std::unique_ptr<PbtClassifier>> candidates = BuildCandidates(*p, nFeat);

  PbtAdaWeakParams weak;
  static_cast<PbtClassifierParams&>(weak) = *p;
  weak.numThresholds = 30;
  weak.numMembers = std::max(p->orLevels, p->andLevels);
  weak.treeDepth = p->treeDepth;
  // A tree candidate builds fresh stumps for every node and round: they share the bins.
  std::unique_ptr<PbtStumpBins> stumpBins;
  if (p->treeDepth > 0 && set->getFeatureTable(true) != nullptr && set->getFeatureTable(false) != nullptr) {
    stumpBins.reset(new PbtStumpBins(nFeat, set->numSamples(true), set->numSamples(false), weak.numThresholds));
    weak.stumpBins = stumpBins.get();
  }

  WriteLog(p->logName, FormatText("  Training %s with count:  pos=%i  neg=%i  (prep time=%.3fs)\n", getName(),
                                  set->numSamples(true), set->numSamples(false),
                                  (ProcessorMillis() - t1) / 1000.0));

  for (int r = 0; r < p->numWeak; ++r) {
    const double tr = ProcessorMillis();
    float bestErr = 1.0f;
    int best = -1;
    // The stumps (one per feature, drawing nothing) train on every worker; the OR and
    // AND cascades after them build stumps of their own (draws) and train here, in
    // order. The best is then picked in candidate order, the first of equal errors.
    const int stumps = p->treeDepth > 0 ? 0 : std::min(nFeat, static_cast<int>(candidates.size()));
    std::vector<float> errors(candidates.size());
    // The weights stay as they are while the stumps train: their sums are formed once.
    PbtAdaWeakParams round = weak;
    round.weightSumsGiven = true;
    round.posWeightSum = set->getWeights(true).Sum();
    round.negWeightSum = set->getWeights(false).Sum();
    ParallelFor(0, stumps, [&](int i, int) {
      PbtAdaWeakParams own = round;
      own.featureIndex = i;
      if (static_cast<size_t>(i) < pool.size()) own.fid = pool[static_cast<size_t>(i)];
      errors[static_cast<size_t>(i)] = static_cast<float>(candidates[static_cast<size_t>(i)]->train(set, &own));
    });
    for (size_t i = 0; i < candidates.size(); ++i) {
      weak.featureIndex = static_cast<int>(i);
      if (i < pool.size()) weak.fid = pool[i];
      if (static_cast<int>(i) >= stumps) errors[i] = static_cast<float>(candidates[i]->train(set, &weak));
    }
    for (size_t i = 0; i < candidates.size(); ++i) {
      const float e = errors[i];
      if (e < bestErr) {
        bestErr = e;
        best = static_cast<int>(i);
      }
    }
    // No candidate below an error of 1.0 (or none at all): a member with an infinite
    // beta would only spoil the weights and the offset, so the ensemble ends here.
    // The two notes below are diagnostics of our own, written in verbose mode only.
    if (best < 0) {
      if (p->verbose) {
        WriteLog(p->logName, FormatText("  i=%2d  no weak classifier with an error below 1; training stops\n", r));
      }
      break;
    }
    PbtClassifier* chosen = candidates[static_cast<size_t>(best)].get();
    if (!updateWeights(set, chosen, best, bestErr) && p->verbose) {
      WriteLog(p->logName, FormatText("  i=%2d  the weights sum to zero; left unnormalised\n", r));
    }
    members.push_back(chosen->clone());  // deliberate: one clone of the round's best
    if (p->verbose) {
      WriteLog(p->logName, FormatText("  i=%2d  best=%5d e=%.3f %s (time=%.3fs)\n", r, best, bestErr,
                                      chosen->getName(), (ProcessorMillis() - tr) / 1000.0));
    }
    if (stopsAfterRound(bestErr)) break;
  }

  set->getWeights(true) = savedPos;
  set->getWeights(false) = savedNeg;
  float falsePos = 0.0f, falseNeg = 0.0f, total = 0.0f;
  evaluateError(set, &falsePos, &falseNeg, &total, true);
  WriteLog(p->logName, FormatText("  %s training error=%f  fp=%f  fn=%f (time=%.3fs)\n", getName(), total,
                                  falsePos, falseNeg, (ProcessorMillis() - t0) / 1000.0));
  if (p->noFeatureCache <= 0) set->freeFeatures();
  return total;
}

bool PbtAdaBoost::updateWeights(PbtSampleSet* set, PbtClassifier* weak, int /*index*/, float error) {
  const float beta = error / (1 - error);
  const float alpha = beta > 0 ? static_cast<float>(-std::log(static_cast<double>(beta))) : static_cast<float>(std::log(100.0));
  alphas.push_back(alpha);
  offset += 0.5 * alpha;

  VectorQo<double>& pw = set->getWeights(true);
  VectorQo<double>& nw = set->getWeights(false);
  const int nPos = std::min(set->numSamples(true), ElementCount(pw));
  const int nNeg = std::min(set->numSamples(false), ElementCount(nw));
  for (int i = 0; i < nPos; ++i) {
    if (weak->classifyInSet(set, 1, i) >= 0.0f) pw[i] *= beta;
  }
  for (int i = 0; i < nNeg; ++i) {
    if (weak->classifyInSet(set, 0, i) < 0.0f) nw[i] *= beta;
  }
  if (!(pw.Sum() + nw.Sum() > 0.0)) return false;
  set->normalizeWeights();
  return true;
}
