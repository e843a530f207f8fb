#include "pbt/PbtMGentalBoost.h"

#include <cmath>
#include <memory>

#include "pbt/PbtLog.h"
#include "platform/ParallelFor.h"
#include "platform/Fatal.h"
#include "platform/SystemInfo.h"

namespace {

[[noreturn]] void Misuse(const std::string& message) { FatalExit(1, "PbtMGentalBoost: " + message + "\n", stderr); }

double Clamp100(double x) {
  if (x < -100.0) return -100.0;
  if (x > 100.0) return 100.0;
  return x;
}

}  // namespace

PbtMGentalBoost& PbtMGentalBoost::operator=(const PbtMGentalBoost& other) {
  if (this == &other) return *this;
  copyBoosterFrom(other);
  numLabels = other.numLabels;
  numClasses = other.numClasses;
  return *this;
}

PbtClassifier* PbtMGentalBoost::clone() const {
  PbtMGentalBoost* copy = new PbtMGentalBoost();
  *copy = *this;
  return copy;
}

void PbtMGentalBoost::write(BinaryWriter& out) const {
  out.f32(offset);
  out.i32(static_cast<int32_t>(members.size()));
  for (const PbtClassifier* m : members) m->write(out);
  out.i32(numClasses);
  out.i32(numLabels);
}

bool PbtMGentalBoost::read(BinaryReader& in) {
  float off = 0.0f;
  int32_t n = 0;
  if (!in.f32(off) || !in.i32(n)) return false;
  if (n < 0 || !in.fits(n, PbtMGentalWeak::kMinRecordSize)) {
    in.fail();
    return false;
  }
  std::vector<std::unique_ptr<PbtMGentalWeak>> loaded;
  loaded.reserve(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    // deliberate: two draws per stored member, and one per function as it reads
    std::unique_ptr<PbtMGentalWeak> member(new PbtMGentalWeak());
    if (!member->read(in)) {
      in.fail();
      return false;
    }
    loaded.push_back(std::move(member));
  }
  int32_t classes = 0, labels = 0;
  if (!in.i32(classes) || !in.i32(labels)) return false;
  // Every class vector is numClasses long and every member answers one entry per
  // function, so the two must agree; labels are int16 and below numLabels.
  bool consistent = classes >= 0 && classes <= labels && labels <= PbtMGentalWeak::kMaxFunctions;
  for (size_t i = 0; consistent && i < loaded.size(); ++i) {
    const std::vector<PbtMfFuncion>& fns = loaded[i]->functions;
    consistent = static_cast<int32_t>(fns.size()) == classes;
    for (size_t k = 0; consistent && k < fns.size(); ++k) consistent = fns[k].label < labels;
  }
  if (!consistent) {
    in.fail();
    return false;
  }
  clear();
  for (std::unique_ptr<PbtMGentalWeak>& m : loaded) members.push_back(m.release());
  offset = off;
  numClasses = classes;
  numLabels = labels;
  return true;
}

void PbtMGentalBoost::classResponse(PbtSample& sample, VectorQo<double>& out) {
  out.SetSize(numClasses);
  out.Fill(0.0);
  VectorQo<double> memberResponse;
  for (PbtClassifier* m : members) {
    const PbtMGentalWeak* weak = dynamic_cast<const PbtMGentalWeak*>(m);
    if (weak == nullptr) continue;
    weak->classResponseForSample(memberResponse, sample);
    const int n = memberResponse.cols < numClasses ? memberResponse.cols : numClasses;
    for (int k = 0; k < n; ++k) out[k] += memberResponse[k];
  }
}

void PbtMGentalBoost::posterior(PbtSample* sample, VectorQo<double>& out) {
  VectorQo<double> r;
  classResponse(*sample, r);
  out.SetSize(numClasses);
  if (numClasses == 0) return;
  double m = r[0];
  for (int k = 1; k < numClasses; ++k) {
    if (r[k] > m) m = r[k];
  }
  for (int k = 0; k < numClasses; ++k) out[k] = std::exp(Clamp100(r[k] - m));
  out.NormalizeSum();
}

void PbtMGentalBoost::updateWeightsMulti(PbtMSampleSet& set, PbtMGentalWeak& weak, int featureIndex) {
  if (featureIndex < 0 || featureIndex >= set.numFeatures()) {
    Misuse(FormatText("feature row %i is not among the set's %i features", featureIndex, set.numFeatures()));
  }
  if (set.numClasses() > 0 && !set.featuresAreCached()) Misuse("the sample set's features are not cached");
  VectorQo<double> h;
  int c = 0, i = 0;
  set.reset();
  while (set.next(c, i)) {
    const int s = set.slotOfClass[static_cast<size_t>(c)];
    if (s < 0) continue;  // inactive classes keep their weight
    weak.classResponse(h, set.cacheOfSlot(s)[featureIndex][i]);
    const double hs = s < h.cols ? h[s] : 0.0;
    set.currentWeight() *= std::exp(-Clamp100(hs));
  }
  set.normalizeWeights();
}

double PbtMGentalBoost::errorMulti(PbtMSampleSet& set, VectorQo<double>& perClass) {
  const int k = set.numClasses();
  VectorQo<double> mass(k);
  perClass.SetSize(k);
  perClass.Fill(0.0);
  double total = 0.0;
  VectorQo<double> post;
  int c = 0, i = 0;
  set.reset();
  while (set.next(c, i)) {
    const int s = set.slotOfClass[static_cast<size_t>(c)];
    if (s < 0) continue;
    const double w = set.currentWeight();
    mass[s] += w;
    posterior(set.current(), post);
    if (post.ArgMax() != s) {
      perClass[s] += w;
      total += w;
    }
  }
  for (int s = 0; s < k; ++s) {
    if (mass[s] > 0) perClass[s] /= mass[s];
  }
  return total;
}

double PbtMGentalBoost::trainMulti(PbtMSampleSet& set, PbtAdaBoostParams& p) {
  const double t0 = ProcessorMillis();
  clear();
  std::vector<PbtFid> pool;
  if (set.getSampleObject() != nullptr) pool = set.getSampleObject()->featurePool;
  const int nFeatures = set.numFeatures();
  if (static_cast<int>(pool.size()) < nFeatures) {
    Misuse(FormatText("the set's sample knows %i of the set's %i features", static_cast<int>(pool.size()),
                      nFeatures));
  }
  const double t1 = ProcessorMillis();
  set.calculateAllFeatures();
  set.saveWeights();

  std::vector<std::unique_ptr<PbtMGentalWeak>> candidates;
  candidates.reserve(static_cast<size_t>(nFeatures));
  for (int j = 0; j < nFeatures; ++j) candidates.emplace_back(new PbtMGentalWeak());  // deliberate: two draws each

  std::string line = FormatText("  Training (prep time=%.3fs) %s with class counts:", (ProcessorMillis() - t1) / 1000.0,
                                getName());
  for (int k = 0; k < set.numClasses(); ++k) {
    const int c = set.classOfSlot[static_cast<size_t>(k)];
    AppendFormat(line, "%d--%d ", c, set.classCount[c]);
  }
  line += "\n";
  WriteLog(p.logName, line);

  PbtMGentalWeakParams q;
  q.flag = static_cast<uint8_t>(p.gentleFlag & 0xFF);
  numLabels = set.numLabels();
  numClasses = set.numClasses();

  // A set without features offers no candidate, so there is no round.
  for (int r = 0; r < p.numWeak && !candidates.empty(); ++r) {
    const double tr = ProcessorMillis();
    float best = 1.0f;
    int bestIndex = 0;
    // The functions a first training adds (one draw each) are added here, in feature
    // order, so that the training below draws nothing and can run on every worker.
    for (int j = 0; j < nFeatures; ++j) candidates[static_cast<size_t>(j)]->sizeFunctions(set.numClasses());
    std::vector<float> errors(static_cast<size_t>(nFeatures));
    ParallelFor(0, nFeatures, [&](int j, int) {
      PbtMGentalWeakParams own = q;
      own.fid = pool[static_cast<size_t>(j)];
      own.featureIndex = j;
      errors[static_cast<size_t>(j)] = candidates[static_cast<size_t>(j)]->trainMulti(set, own);
    });
    for (int j = 0; j < nFeatures; ++j) {
      const float e = errors[static_cast<size_t>(j)];
      if (e < best) {
        best = e;
        bestIndex = j;
      }
    }
    PbtMGentalWeak& chosen = *candidates[static_cast<size_t>(bestIndex)];
    updateWeightsMulti(set, chosen, bestIndex);
    members.push_back(chosen.clone());  // deliberate: two draws plus one per class
    if (p.verbose) {
      WriteLog(p.logName, FormatText("  i=%2d  best=%5d e=%.3f %s (time=%.3fs)\n", r, bestIndex,
                                     static_cast<double>(best), chosen.getName(), (ProcessorMillis() - tr) / 1000.0));
    }
    if (!keepsTraining(best)) break;
  }

  set.restoreWeights();
  VectorQo<double> perClass;
  const double error = errorMulti(set, perClass);
  std::string summary = FormatText(" time=%f, training error=%f  \n", (ProcessorMillis() - t0) / 1000.0, error);
  for (int k = 0; k < set.numClasses(); ++k) {
    AppendFormat(summary, "class=%d, training error=%f  \n", set.classOfSlot[static_cast<size_t>(k)], perClass[k]);
  }
  WriteLog(p.logName, summary);
  set.freeFeatures();
  return error;
}
