#include "pbt/PbtRealWeak.h"

#include <cmath>

#include "pbt/PbtLog.h"
#include "pbt/PbtWeakTraining.h"
#include "platform/Fatal.h"

namespace {

[[noreturn]] void Misuse(const std::string& message) { FatalExit(1, "PbtRealWeak: " + message + "\n", stderr); }

// Clears and refills a histogram with the weights of the binned samples, normalised
// to sum 1 (left at 0 when the weights sum to 0).
void FillHistogram(RF& hist, const std::vector<int8_t>& bins, const VectorQo<double>& weights) {
  hist.Fill(0.0);
  const int n = static_cast<int>(bins.size());
  for (int i = 0; i < n; ++i) {
    const int b = bins[static_cast<size_t>(i)];
    if (b >= 0 && b < hist.bins) hist.pdf[b] += weights[i];
  }
  hist.Normalize();
}

}  // namespace

PbtRealWeak& PbtRealWeak::operator=(const PbtRealWeak& other) {
  if (this == &other) return *this;
  responseTable = other.responseTable;
  fid = other.fid;
  invalid = other.invalid;
  binned = 0;
  return *this;
}

PbtClassifier* PbtRealWeak::clone() const {
  PbtRealWeak* copy = new PbtRealWeak();  // deliberate: three draws, as every construction
  *copy = *this;
  return copy;
}

PbtClassifier* PbtRealWeak::create() const {
  return new PbtRealWeak();  // deliberate: three draws
}

void PbtRealWeak::write(BinaryWriter& out) const {
  fid.write(out);
  out.u8(invalid);
  responseTable.WriteBinary(out);
}

bool PbtRealWeak::read(BinaryReader& in) {
  if (!in.fits(kMinRecordSize, 1)) {
    in.fail();
    return false;
  }
  PbtFid f;
  uint8_t flag = 0;
  if (!f.read(in) || !in.u8(flag)) return false;
  if (flag > 1) {
    in.fail();
    return false;
  }
  // Last field: on failure the table is left as it was and nothing is committed.
  if (!responseTable.ReadBinary(in)) return false;
  fid = f;
  invalid = flag;
  binned = 0;
  return true;
}

float PbtRealWeak::responseForValue(float v) const {
  if (invalid) return 0.0f;
  return static_cast<float>(responseTable.Pdf(v));
}

float PbtRealWeak::response(PbtSample* sample) { return responseForValue(sample->getFeatureValue(fid)); }

void PbtRealWeak::trainHistogram(PbtSampleSet* set, PbtRealWeakParams* q, float* a, float* b, float* c) {
  if (invalid) return;
  CheckWeakTrainingSet("PbtRealWeak", set, q->featureIndex);
  const int nPos = set->numSamples(true);
  const int nNeg = set->numSamples(false);
  const VectorQo<double>& posW = set->getWeights(true);
  const VectorQo<double>& negW = set->getWeights(false);
  const double sp = q->weightSumsGiven ? q->posWeightSum : posW.Sum();
  const double sn = q->weightSumsGiven ? q->negWeightSum : negW.Sum();
  // Without any weight there is no class share to estimate: even odds.
  *c = sp + sn > 0.0 ? static_cast<float>(sp / (sp + sn)) : 0.5f;

  // Bins computed for another number of samples cannot be this set's.
  if (!binned || posBins.size() != static_cast<size_t>(nPos) || negBins.size() != static_cast<size_t>(nNeg)) {
    const float* posRow = set->getFeatureTable(true)[q->featureIndex];
    const float* negRow = set->getFeatureTable(false)[q->featureIndex];
    fid = q->fid;

    // Values that are not numbers take no part in the range (and get no bin below).
    float lo = 0.0f, hi = 0.0f;
    ValueRange(posRow, nPos, negRow, nNeg, &lo, &hi);
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi)) {
      invalid = 1;
      return;
    }
    const int n = q->numBins;
    if (n < 1 || n > kMaxBins) Misuse(FormatText("numBins %i outside 1..%i", n, kMaxBins));
    posHist.InitWithBins(lo, hi, n);
    negHist.InitWithBins(lo, hi, n);

    // Training walks the grid in float steps of one bin width. A range so narrow that
    // such a step is lost in the float resolution of the grid's ends is a constant
    // feature at float precision (the walk would never end).
    const float step = static_cast<float>(posHist.width);
    const float first = static_cast<float>(posHist.min);
    const float last = static_cast<float>(posHist.min + posHist.bins * posHist.width);
    if (!(first + step > first) || !(last + step > last)) {
      invalid = 1;
      return;
    }

    BinValues(posBins, posRow, nPos, posHist);
    BinValues(negBins, negRow, nNeg, negHist);
    binned = 1;
  }

  FillHistogram(posHist, posBins, posW);
  FillHistogram(negHist, negBins, negW);
  *a = static_cast<float>(posHist.Mean());
  *b = static_cast<float>(negHist.Mean());
}

float PbtRealWeak::train(PbtSampleSet* set, PbtClassifierParams* params) {
  PbtRealWeakParams* q = dynamic_cast<PbtRealWeakParams*>(params);
  if (q == nullptr) Misuse("training needs a PbtRealWeakParams record");
  float a = 0.0f, b = 0.0f, c = 0.0f;
  trainHistogram(set, q, &a, &b, &c);
  if (invalid) return 0.5f;

  // The kernel 0.25, 0.5, 1, 0.5, 0.25 divided by its sum.
  const double taps[5] = {0.25, 0.5, 1.0, 0.5, 0.25};
  double tapSum = 0.0;
  for (double t : taps) tapSum += t;
  VectorQo<double> kernel(5);
  for (int i = 0; i < 5; ++i) kernel[i] = taps[i] / tapSum;
  posHist.Smooth(kernel);
  negHist.Smooth(kernel);

  const double m = posHist.min;
  const double w = posHist.width;
  const int bins = posHist.bins;
  responseTable.Init(m, m + bins * w, w);

  // Both passes visit the grid points x = m, m + w, ... in float additions.
  const float step = static_cast<float>(w);
  const float first = static_cast<float>(m);
  const float last = static_cast<float>(m + bins * w);
  const float notC = 1.0f - c;
  double error = 0.0;
  for (float x = first; x <= last; x += step) {
    const double P = posHist.Pdf(x);
    const double N = negHist.Pdf(x);
    const double pw = P * c;
    const double nw = N * notC;
    double qx;
    if (pw + nw > 0.0) {
      qx = pw / (pw + nw);
    } else {
      // No mass in this bin: even odds near the middle between the class means,
      // otherwise a lean towards the nearer one.
      const float da = std::fabs(x - a);
      const float db = std::fabs(x - b);
      if (std::fabs(da - db) <= step) {
        qx = 0.5;
      } else {
        qx = da < db ? 0.6 : 0.4;
      }
    }
    if (qx >= 0.95) {
      qx = 0.95;
    } else if (qx <= 0.05) {
      qx = 0.05;
    }
    responseTable.Set(x, qx);
    const double r = responseTable.Pdf(x);
    error += P * c * (1 - r) + N * notC * r;
  }
  for (float x = first; x <= last; x += step) {
    double r = responseTable.Pdf(x);
    if (r < 1e-5f) r = 1e-5f;
    if (r > 0.99999f) r = 0.99999f;
    responseTable.Set(x, 0.5 * std::log(r / (1 - r)));
  }
  return static_cast<float>(error);
}
