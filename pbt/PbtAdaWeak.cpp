#include "pbt/PbtAdaWeak.h"

#include <cmath>

#include "pbt/PbtLog.h"
#include "pbt/PbtStumpBins.h"
#include "pbt/PbtWeakTraining.h"
#include "platform/Fatal.h"

namespace {

[[noreturn]] void Misuse(const std::string& message) { FatalExit(1, "PbtAdaWeak: " + message + "\n", stderr); }

void CheckFlags(const Matrix<short>& flags, int count) {
  if (ElementCount(flags) < count) Misuse(FormatText("%i cascade flags for %i samples", ElementCount(flags), count));
}

PbtAdaWeakParams* WeakParams(PbtClassifierParams* params) {
  PbtAdaWeakParams* p = dynamic_cast<PbtAdaWeakParams*>(params);
  if (p == nullptr) Misuse("training needs a PbtAdaWeakParams record");
  return p;
}

}  // namespace

PbtAdaWeak& PbtAdaWeak::operator=(const PbtAdaWeak& other) {
  if (this == &other) return *this;
  assign(other.settings());
  return *this;
}

void PbtAdaWeak::assign(const Settings& s) {
  fid = s.fid;
  degenerate = s.degenerate;
  polarity = s.polarity;
  threshold = s.threshold;
  alpha = s.alpha;
  featureIndex = s.featureIndex;
  prepared = 0;
  sharedBins_ = nullptr;
}

PbtClassifier* PbtAdaWeak::clone() const {
  PbtAdaWeak* copy = new PbtAdaWeak();  // deliberate: two draws, as every stump construction
  *copy = *this;
  return copy;
}

PbtClassifier* PbtAdaWeak::create() const {
  return new PbtAdaWeak();  // deliberate: two draws
}

void PbtAdaWeak::write(BinaryWriter& out) const {
  fid.write(out);
  out.u8(degenerate);
  out.u8(polarity);
  out.f32(threshold);
  out.f32(alpha);
}

bool PbtAdaWeak::read(BinaryReader& in) {
  if (!in.fits(kRecordSize, 1)) {
    in.fail();
    return false;
  }
  PbtFid f;
  uint8_t deg = 0, pol = 0;
  float thr = 0.0f, alp = 0.0f;
  if (!f.read(in) || !in.u8(deg) || !in.u8(pol) || !in.f32(thr) || !in.f32(alp)) return false;
  if (deg > 1 || pol > 1) {
    in.fail();
    return false;
  }
  fid = f;
  degenerate = deg;
  polarity = pol;
  threshold = thr;
  alpha = alp;
  prepared = 0;
  sharedBins_ = nullptr;
  return true;
}

float PbtAdaWeak::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtAdaWeakParams* p = WeakParams(params);
  featureIndex = p->featureIndex;
  float meanPos = 0.0f, meanNeg = 0.0f, prior = 0.0f;
  if (!searchThreshold(set, p, Form::kPlain, nullptr, nullptr, &meanPos, &meanNeg, &prior)) return 0.5f;
  return computeWeight1(meanPos, meanNeg, prior);
}

float PbtAdaWeak::trainVariant1(PbtSampleSet* set, PbtAdaWeakParams* params,
                                const Matrix<short>& posFlags, const Matrix<short>& negFlags) {
  featureIndex = params->featureIndex;
  float meanPos = 0.0f, meanNeg = 0.0f, prior = 0.0f;
  if (!searchThreshold(set, params, Form::kOr, &posFlags, &negFlags, &meanPos, &meanNeg, &prior)) return 0.5f;
  return computeWeight1(meanPos, meanNeg, prior);
}

float PbtAdaWeak::trainVariant2(PbtSampleSet* set, PbtAdaWeakParams* params,
                                const Matrix<short>& posFlags, const Matrix<short>& negFlags) {
  featureIndex = params->featureIndex;
  float meanPos = 0.0f, meanNeg = 0.0f, prior = 0.0f;
  if (!searchThreshold(set, params, Form::kAnd, &posFlags, &negFlags, &meanPos, &meanNeg, &prior)) return 0.5f;
  return computeWeight2(meanPos, meanNeg, prior);
}

float PbtAdaWeak::classifyInSet(PbtSampleSet* set, int classFlag, int index) {
  const bool positive = classFlag == 1;
  float** table = set->getFeatureTable(positive);
  if (table == nullptr || featureIndex < 0 || featureIndex >= set->numFeatures() || index < 0 ||
      index >= set->numSamples(positive)) {
    Misuse(FormatText("no cached value for feature row %i, sample %i", featureIndex, index));
  }
  return decide(table[featureIndex][index]);
}

float PbtAdaWeak::response(PbtSample* sample) { return decide(sample->getFeatureValue(fid)); }

bool PbtAdaWeak::searchThreshold(PbtSampleSet* set, PbtAdaWeakParams* params, Form form,
                                 const Matrix<short>* posFlags, const Matrix<short>* negFlags,
                                 float* meanPos, float* meanNeg, float* prior) {
  if (degenerate) return false;
  CheckWeakTrainingSet("PbtAdaWeak", set, featureIndex);
  const int nPos = set->numSamples(true);
  const int nNeg = set->numSamples(false);
  if (form != Form::kPlain) {
    CheckFlags(*posFlags, nPos);
    CheckFlags(*negFlags, nNeg);
  }
  const VectorQo<double>& posW = set->getWeights(true);
  const VectorQo<double>& negW = set->getWeights(false);
  if (form == Form::kPlain) {
    posShare = 1.0f;
    negShare = 1.0f;
  }
  const double sp = params->weightSumsGiven ? params->posWeightSum : posW.Sum();
  const double sn = params->weightSumsGiven ? params->negWeightSum : negW.Sum();
  *prior = static_cast<float>(sp / (sp + sn));

  // Bins computed for another number of samples cannot be this set's.
  if (!prepared || binsOf(true).size() != static_cast<size_t>(nPos) ||
      binsOf(false).size() != static_cast<size_t>(nNeg)) {
    prepare(set, params);
    if (degenerate) return false;
  }

  struct ClassPass {
    RF& hist;
    const std::vector<int8_t>& bins;
    const VectorQo<double>& weights;
    const Matrix<short>* flags;
    float& share;
    const std::vector<int>* nonZero;
  };
  ClassPass passes[2] = {{posHist, binsOf(true), posW, posFlags, posShare, params->posNonZero},
                         {negHist, binsOf(false), negW, negFlags, negShare, params->negNonZero}};
  for (ClassPass& pass : passes) {
    pass.hist.Fill(0.0);
    double total = 0.0, shareSum = 0.0;
    const int n = static_cast<int>(pass.bins.size());
    if (form == Form::kPlain && pass.nonZero != nullptr) {
      // Only the weights that are not 0, in sample order: the sums are those of the
      // full pass (a bin's sum is never -0, and adding 0 to it changes nothing).
      const int8_t* bins = pass.bins.data();
      double* pdf = pass.hist.pdf.data;
      const int nb = pass.hist.bins;
      for (const int i : *pass.nonZero) {
        const int b = bins[i];
        if (b >= 0 && b < nb) pdf[b] += pass.weights[i];
      }
      pass.hist.Normalize();
      continue;
    }
    for (int i = 0; i < n; ++i) {
      const double w = pass.weights[i];
      if (form != Form::kPlain) {
        total += w;
        const short flag = (*pass.flags)[i];
        const bool decided = form == Form::kOr ? flag > 0 : flag <= 0;
        if (decided) {
          shareSum += w;
          continue;
        }
      }
      const int b = pass.bins[static_cast<size_t>(i)];
      if (b >= 0 && b < pass.hist.bins) pass.hist.pdf[b] += w;
    }
    if (form != Form::kPlain) {
      pass.share = total > 0.0 ? static_cast<float>(1.0 - shareSum / total) : static_cast<float>(shareSum);
    }
    pass.hist.Normalize();
  }
  *meanPos = static_cast<float>(posHist.Mean());
  *meanNeg = static_cast<float>(negHist.Mean());
  return true;
}

void PbtAdaWeak::prepare(PbtSampleSet* set, PbtAdaWeakParams* params) {
  const int nPos = set->numSamples(true);
  const int nNeg = set->numSamples(false);
  const float* posRow = set->getFeatureTable(true)[featureIndex];
  const float* negRow = set->getFeatureTable(false)[featureIndex];
  fid = params->fid;
  sharedBins_ = nullptr;
  const int n = params->numThresholds;
  PbtStumpBins::Entry* shared =
      params->stumpBins != nullptr ? params->stumpBins->entry(featureIndex, nPos, nNeg, n) : nullptr;

  // Values that are not numbers take no part in the range (and get no bin below).
  float lo = 0.0f, hi = 0.0f;
  if (shared != nullptr && shared->filled) {
    lo = shared->lo;
    hi = shared->hi;
  } else {
    ValueRange(posRow, nPos, negRow, nNeg, &lo, &hi);
  }
  if (!(lo < hi && lo > -1e99 && hi < 1e99)) {
    if (shared != nullptr && !shared->filled) {
      shared->lo = lo;
      shared->hi = hi;
      shared->degenerate = true;
      shared->filled = true;
    }
    degenerate = 1;
    return;
  }

  if (n < 1 || n > kMaxThresholds) {
    Misuse(FormatText("numThresholds %i outside 1..%i", n, kMaxThresholds));
  }
  posHist.InitWithBins(lo, hi, n);
  negHist.InitWithBins(lo, hi, n);

  if (shared != nullptr) {
    // The first stump of the feature bins the values into the entry; every stump then
    // reads the entry's bins.
    if (!shared->filled) {
      BinValues(shared->posBins, posRow, nPos, posHist);
      BinValues(shared->negBins, negRow, nNeg, posHist);
      shared->lo = lo;
      shared->hi = hi;
      shared->filled = true;
    }
    std::vector<int8_t>().swap(posBins);
    std::vector<int8_t>().swap(negBins);
    sharedBins_ = shared;
  } else {
    BinValues(posBins, posRow, nPos, posHist);
    BinValues(negBins, negRow, nNeg, posHist);
  }
  prepared = 1;
}

float PbtAdaWeak::computeWeight1(float meanPos, float meanNeg, float prior) {
  return computeWeight(meanPos, meanNeg, prior, false);
}

float PbtAdaWeak::computeWeight2(float meanPos, float meanNeg, float prior) {
  return computeWeight(meanPos, meanNeg, prior, true);
}

float PbtAdaWeak::computeWeight(float meanPos, float meanNeg, float c, bool andCost) {
  const uint8_t initialPolarity = meanNeg < meanPos ? 1 : 0;
  double bestCost = 1e10;
  double bestErr = 1e10;
  float bestThreshold = static_cast<float>(posHist.min);
  uint8_t bestPolarity = initialPolarity;

  // The scan runs in float, from the grid minimum up to min + bins x width.
  const float width = static_cast<float>(posHist.width);
  const float start = static_cast<float>(posHist.min);
  const float end = start + static_cast<float>(posHist.bins) * width;
  const CdfScan posCdf(posHist), negCdf(negHist);
  for (float t = start; t <= end;) {
    double fn = 0.0, fp = 0.0, pn = 0.0, pp = 0.0;
    negCdf.at(t, &fn, &pn);
    posCdf.at(t, &fp, &pp);
    double err = andCost ? c * (posShare * fp + 1 - posShare) + (1 - c) * negShare * (1 - fn)
                         : c * posShare * fp + (1 - c) * ((1 - fn) * negShare + 1 - negShare);
    if (initialPolarity == 0) err = 1 - err;
    const float pen = static_cast<float>(0.1 * (c * pp + (1 - c) * pn));
    if (err + pen < bestCost) {
      bestCost = err + pen;
      bestErr = err;
      bestPolarity = initialPolarity;
      bestThreshold = static_cast<float>(t + width / 2.1);
    }
    if ((1 - err) + pen < bestCost) {
      bestCost = (1 - err) + pen;
      bestErr = 1 - err;
      bestPolarity = initialPolarity == 0 ? 1 : 0;
      bestThreshold = static_cast<float>(t + width / 2.1);
    }
    // A step below the float resolution at t would never end the scan.
    const float next = t + width;
    if (!(next > t)) break;
    t = next;
  }
  threshold = bestThreshold;
  polarity = bestPolarity;
  alpha = bestErr > 0 ? static_cast<float>(-std::log(bestErr / (1 - bestErr))) : static_cast<float>(std::log(10.0));
  return static_cast<float>(bestErr);
}
