#include "pbt/PbtRealBoost.h"

#include <cmath>
#include <memory>

#include "pbt/PbtLog.h"
#include "platform/ParallelFor.h"
#include "platform/Fatal.h"
#include "platform/SystemInfo.h"

namespace {

[[noreturn]] void Misuse(const std::string& message) { FatalExit(1, "PbtRealBoost: " + message + "\n", stderr); }

// A reweighting factor exp(x) rounded to float. A factor that is not a positive
// number (only possible from weights that are not finite) keeps the weight instead
// of dropping the sample, so the set keeps its samples and the caller's weights can
// be put back after training.
double Factor(double x) {
  const float f = static_cast<float>(std::exp(x));
  return f > 0.0f && std::isfinite(f) ? f : 1.0;
}

}  // namespace

PbtRealBoost& PbtRealBoost::operator=(const PbtRealBoost& other) {
  if (this == &other) return *this;
  copyBoosterFrom(other);
  threshold = other.threshold;
  return *this;
}

PbtClassifier* PbtRealBoost::clone() const {
  PbtRealBoost* copy = new PbtRealBoost();
  *copy = *this;
  return copy;
}

void PbtRealBoost::write(BinaryWriter& out) const {
  out.f32(threshold);
  out.i32(static_cast<int32_t>(members.size()));
  for (const PbtClassifier* m : members) m->write(out);
}

bool PbtRealBoost::read(BinaryReader& in) {
  float thr = 0.0f;
  int32_t n = 0;
  if (!in.f32(thr) || !in.i32(n)) return false;
  if (n < 0 || !in.fits(n, PbtRealWeak::kMinRecordSize)) {
    in.fail();
    return false;
  }
  std::vector<std::unique_ptr<PbtClassifier>> loaded;
  loaded.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<PbtClassifier> member(new PbtRealWeak());  // deliberate: three draws per stored member
    if (!member->read(in)) {
      in.fail();
      return false;
    }
    loaded.push_back(std::move(member));
  }
  clear();
  for (std::unique_ptr<PbtClassifier>& m : loaded) members.push_back(m.release());
  threshold = thr;
  return true;
}

float PbtRealBoost::ensembleScore(PbtSample* sample) {
  float f = 0.0f;
  for (PbtClassifier* m : members) {
    if (m != nullptr) f += m->response(sample);
  }
  return f;
}

float PbtRealBoost::probability(PbtSample* sample) {
  const float f = ensembleScore(sample);
  return static_cast<float>(1.0 / (1.0 + std::exp(-2.0 * (f - threshold))));
}

void PbtRealBoost::updateWeights(PbtSampleSet* set, PbtRealWeak& weak, int featureIndex) {
  float** posTable = set->getFeatureTable(true);
  float** negTable = set->getFeatureTable(false);
  if (posTable == nullptr || negTable == nullptr || featureIndex < 0 || featureIndex >= set->numFeatures()) {
    Misuse(FormatText("no cached values for feature row %i", featureIndex));
  }
  const int nPos = set->numSamples(true);
  const int nNeg = set->numSamples(false);
  VectorQo<double> posFactor(nPos);
  VectorQo<double> negFactor(nNeg);
  for (int i = 0; i < nPos; ++i) posFactor[i] = Factor(-weak.responseForValue(posTable[featureIndex][i]));
  for (int i = 0; i < nNeg; ++i) negFactor[i] = Factor(weak.responseForValue(negTable[featureIndex][i]));
  set->filterByWeights(posFactor, negFactor);
}

float PbtRealBoost::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtAdaBoostParams* p = dynamic_cast<PbtAdaBoostParams*>(params);
  if (p == nullptr) Misuse("training needs a PbtAdaBoostParams record");
  const double t0 = ProcessorMillis();
  clear();
  // The caller's weights and class masses, put back after the rounds.
  const VectorQo<double> posSaved = set->getWeights(true);
  const VectorQo<double> negSaved = set->getWeights(false);
  const double posMass = set->getClassMass(true);
  const double negMass = set->getClassMass(false);
  std::vector<PbtFid> pool;
  if (set->getSampleObject() != nullptr) pool = set->getSampleObject()->featurePool;
  const int n = set->numFeatures();
  if (static_cast<int>(pool.size()) < n) {
    Misuse(FormatText("the set's sample knows %i of the set's %i features", static_cast<int>(pool.size()), n));
  }

  const double t1 = ProcessorMillis();
  set->calculateAllFeatures();
  std::vector<std::unique_ptr<PbtRealWeak>> candidates;
  candidates.reserve(static_cast<size_t>(n));
  for (int j = 0; j < n; ++j) candidates.emplace_back(new PbtRealWeak());  // deliberate: three draws each
  WriteLog(p->logName, FormatText("  Training %s with count:  pos=%i  neg=%i  (prep time=%.3fs)\n", getName(),
                                  set->numSamples(true), set->numSamples(false), (ProcessorMillis() - t1) / 1000.0));

  PbtRealWeakParams q;
  q.numBins = 30;
  q.featureIndex = -1;
  // A set without features offers no candidate, so there is no round.
  for (int r = 0; r < p->numWeak && !candidates.empty(); ++r) {
    const double tr = ProcessorMillis();
    float best = 1.0f;
    int bestIndex = 0;
    // Each candidate trains on its own feature (no draw); the best is then picked in
    // feature order, the first of equal errors winning.
    std::vector<float> errors(static_cast<size_t>(n));
    // The weights stay as they are while the candidates train: their sums are formed once.
    q.weightSumsGiven = true;
    q.posWeightSum = set->getWeights(true).Sum();
    q.negWeightSum = set->getWeights(false).Sum();
    ParallelFor(0, n, [&](int j, int) {
      PbtRealWeakParams own = q;
      own.featureIndex = j;
      own.fid = pool[static_cast<size_t>(j)];
      errors[static_cast<size_t>(j)] = candidates[static_cast<size_t>(j)]->train(set, &own);
    });
    for (int j = 0; j < n; ++j) {
      const float e = errors[static_cast<size_t>(j)];
      if (e < best) {
        best = e;
        bestIndex = j;
      }
    }
    PbtRealWeak& chosen = *candidates[static_cast<size_t>(bestIndex)];
    updateWeights(set, chosen, bestIndex);
    members.push_back(chosen.clone());  // deliberate: three draws per round
    if (p->verbose) {
      WriteLog(p->logName, FormatText("  i=%2d  best=%5d e=%.3f %s (time=%.3fs)\n", r, bestIndex,
                                      static_cast<double>(best), chosen.getName(),
                                      (ProcessorMillis() - tr) / 1000.0));
    }
    if (!keepsTraining(best)) break;
  }

  set->getWeights(true) = posSaved;
  set->getWeights(false) = negSaved;
  set->setClassMass(true, posMass);
  set->setClassMass(false, negMass);
  float fp = 0.0f, fn = 0.0f, error = 0.0f;
  evaluateError(set, &fp, &fn, &error, true);
  WriteLog(p->logName, FormatText("  %s training error=%f  fp=%f  fn=%f (time=%.3fs)\n", getName(),
                                  static_cast<double>(error), static_cast<double>(fp), static_cast<double>(fn),
                                  (ProcessorMillis() - t0) / 1000.0));
  set->freeFeatures();
  return error;
}

void PbtRealBoost::moveThreshold(PbtSampleSet* set, float rate, bool positives) {
  RF scores;  // deliberate: one draw, the local histogram of ensemble scores
  scores.Init(-50.0, 50.0, 0.01);
  scores.Fill(0.0);
  set->reset();
  while (set->hasNext()) {
    const bool positive = set->next();
    if (positive == positives) scores.Add(ensembleScore(set->current()), set->currentWeight());
  }
  scores.BuildSamplingTable(false);
  // The running sums of the normalised masses: Cdf(x) without re-adding per step.
  scores.BuildCdf();
  const float step = static_cast<float>(scores.width);
  const double top = scores.min + scores.bins * scores.width;
  float x;
  if (positives) {
    x = static_cast<float>(top);
    while (x >= scores.min) {
      if (rate > scores.CdfLookup(x)) break;
      x -= step;
    }
  } else {
    x = static_cast<float>(scores.min);
    while (x <= top) {
      if (rate > 1 - scores.CdfLookup(x)) break;
      x += step;
    }
  }
  threshold = x;
}

void PbtRealBoost::changeToHaveFalseNeg(PbtSampleSet* set, float rate) { moveThreshold(set, rate, true); }

void PbtRealBoost::changeToHaveFalsePos(PbtSampleSet* set, float rate) { moveThreshold(set, rate, false); }
