#include "pbt/PbtMGentalWeak.h"

#include <memory>

#include "pbt/PbtLog.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"

namespace {

[[noreturn]] void Misuse(const std::string& message) { FatalExit(1, "PbtMGentalWeak: " + message + "\n", stderr); }

// The bin of a value on the histogram grid, clamped to the grid (0 for a grid
// without bins; such a bin is never filled).
int ClampedBin(float v, const RF& grid) {
  int b = TruncToInt32((v - grid.min) / grid.width + 0.5);
  if (b > grid.bins - 1) b = grid.bins - 1;
  if (b < 0) b = 0;
  return b;
}

}  // namespace

PbtMGentalWeak& PbtMGentalWeak::operator=(const PbtMGentalWeak& other) {
  if (this == &other) return *this;
  fid = other.fid;
  functions.resize(other.functions.size());  // deliberate: one draw per function added
  for (size_t i = 0; i < functions.size(); ++i) {
    functions[i].slot = other.functions[i].slot;
    functions[i].label = other.functions[i].label;
    functions[i].responseTable = other.functions[i].responseTable;
  }
  return *this;
}

PbtClassifier* PbtMGentalWeak::clone() const {
  PbtMGentalWeak* copy = new PbtMGentalWeak();  // deliberate: two draws, then one per function
  *copy = *this;
  return copy;
}

PbtClassifier* PbtMGentalWeak::create() const {
  return new PbtMGentalWeak();  // deliberate: two draws
}

void PbtMGentalWeak::write(BinaryWriter& out) const {
  fid.write(out);
  out.i32(static_cast<int32_t>(functions.size()));
  for (const PbtMfFuncion& f : functions) f.write(out);
}

bool PbtMGentalWeak::read(BinaryReader& in) {
  if (!in.fits(kMinRecordSize, 1)) {
    in.fail();
    return false;
  }
  PbtFid f;
  int32_t n = 0;
  if (!f.read(in) || !in.i32(n)) return false;
  if (n < 0 || n > kMaxFunctions || !in.fits(n, PbtMfFuncion::kMinRecordSize)) {
    in.fail();
    return false;
  }
  std::vector<PbtMfFuncion> fresh(static_cast<size_t>(n));  // deliberate: one draw per stored function
  for (PbtMfFuncion& fn : fresh) {
    if (!fn.read(in)) {
      in.fail();
      return false;
    }
    if (fn.slot < 0 || fn.slot >= n || fn.label < 0) {
      in.fail();
      return false;
    }
  }
  fid = f;
  functions.swap(fresh);
  return true;
}

void PbtMGentalWeak::sizeFunctions(int n) {
  functions.resize(static_cast<size_t>(n > 0 ? n : 0));  // deliberate: one draw per function added
}

float PbtMGentalWeak::trainMulti(PbtMSampleSet& set, PbtMGentalWeakParams& q) {
  const int f = q.featureIndex;
  const int numClasses = set.numClasses();
  if (f < 0 || f >= set.numFeatures()) {
    Misuse(FormatText("feature row %i is not among the set's %i features", f, set.numFeatures()));
  }
  if (numClasses > 0 && !set.featuresAreCached()) Misuse("the sample set's features are not cached");

  // Preparation: the grid over the feature's range and the bin of every sample.
  functions.resize(static_cast<size_t>(numClasses));  // deliberate: one draw per function added
  fid = q.fid;
  const float lo = static_cast<float>(set.featureMin[f]);
  const float hi = static_cast<float>(set.featureMax[f]);
  inClass.InitWithBins(lo, hi, 30);
  outClass.InitWithBins(lo, hi, 30);
  for (int k = 0; k < numClasses; ++k) {
    PbtMfFuncion& fn = functions[static_cast<size_t>(k)];
    fn.slot = static_cast<int16_t>(k);
    fn.label = static_cast<int16_t>(set.classOfSlot[static_cast<size_t>(k)]);
    fn.count = set.classCount[fn.label];
    fn.featureRow = set.cacheOfSlot(k)[f];
    fn.classWeights = &set.weightsOfSlot(k);
    fn.bins.SetSize(fn.count);
    for (int j = 0; j < fn.count; ++j) fn.bins[j] = ClampedBin(fn.featureRow[j], inClass);
  }

  // One function per class: its class against all the others.
  for (int k = 0; k < numClasses; ++k) {
    inClass.Fill(0.0);
    outClass.Fill(0.0);
    for (int j = 0; j < numClasses; ++j) {
      const PbtMfFuncion& fn = functions[static_cast<size_t>(j)];
      RF& hist = j == k ? inClass : outClass;
      for (int s = 0; s < fn.count; ++s) {
        const int b = fn.bins[s];
        if (b < hist.bins) hist.pdf[b] += 2 * (*fn.classWeights)[s];
      }
    }
    functions[static_cast<size_t>(k)].fit(inClass, outClass);
  }

  // Error: the weight of the samples whose bin favours another class.
  double error = 0.0;
  for (int k = 0; k < numClasses; ++k) {
    const PbtMfFuncion& fn = functions[static_cast<size_t>(k)];
    for (int s = 0; s < fn.count; ++s) {
      if (bestClassForBin(fn.bins[s]) != k) error += (*fn.classWeights)[s];
    }
  }
  releaseTrainingData();
  return static_cast<float>(error);
}

void PbtMGentalWeak::classResponse(VectorQo<double>& out, float value) const {
  const int n = static_cast<int>(functions.size());
  out.SetSize(n);
  out.Fill(-2.0);
  double sum = 0.0;
  for (const PbtMfFuncion& fn : functions) {
    const double r = fn.valueAt(value);
    out[fn.slot] = r;
    sum += r;
  }
  if (n == 0) return;
  for (int i = 0; i < n; ++i) out[i] -= sum / n;
}

void PbtMGentalWeak::classResponseForSample(VectorQo<double>& out, PbtSample& sample) const {
  classResponse(out, sample.getFeatureValue(fid));
}

int PbtMGentalWeak::bestClassForValue(float value) const {
  double best = -1e50;
  int result = -1;
  for (const PbtMfFuncion& fn : functions) {
    const double v = fn.valueAt(value);
    if (v > best) {
      best = v;
      result = fn.slot;
    }
  }
  return result;
}

int PbtMGentalWeak::bestClassForBin(int bin) const {
  double best = -1e50;
  int result = -1;
  for (const PbtMfFuncion& fn : functions) {
    const double v = fn.valueOfBin(bin);
    if (v > best) {
      best = v;
      result = fn.slot;
    }
  }
  return result;
}

void PbtMGentalWeak::releaseTrainingData() {
  for (PbtMfFuncion& fn : functions) {
    fn.featureRow = nullptr;
    fn.classWeights = nullptr;
    fn.bins.Release();
    fn.count = 0;
  }
}
