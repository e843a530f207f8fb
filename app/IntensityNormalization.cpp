#include "app/IntensityNormalization.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/SettingsFile.h"
#include "numerics/HistogramFunctions.h"
#include "numerics/Matrix.h"
#include "numerics/RF.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtFlags.h"
#include "platform/Conversions.h"

namespace {

// A floating result as a voxel: clamped to [lo, hi] in double, then truncated toward
// zero, so every input (NaN included, which gives lo) converts defined.
short ToVoxel(double v, double lo, double hi) {
  if (!(v >= lo)) v = lo;
  if (v > hi) v = hi;
  return static_cast<short>(TruncToInt32(v));
}

short ToByteRange(double v) { return ToVoxel(v, 0.0, 255.0); }

void ReportUnchanged(const char* what) { std::printf("%s; intensities left unchanged\n", what); }

// One line naming the box and the volume it does not fit in; true when it fits.
bool BoxInside(const SubVolume& box, const HeapMatrix3D<short>& v, const char* name) {
  const bool inside = box.x0 >= 0 && box.y0 >= 0 && box.z0 >= 0 && box.x0 <= box.x1 && box.y0 <= box.y1 &&
                      box.z0 <= box.z1 && box.x1 < v.dim2() && box.y1 < v.dim1() && box.z1 < v.dim0();
  if (!inside)
    std::printf("Box %d %d %d %d %d %d lies outside the %s (%d x %d x %d); intensities left unchanged\n", box.x0,
                box.y0, box.z0, box.x1, box.y1, box.z1, name, v.dim2(), v.dim1(), v.dim0());
  return inside;
}

// Whether a label volume placed at the box's lower corner fits inside the volume.
template <class L>
bool LabelsFit(const HeapMatrix3D<L>& labels, const SubVolume& box, const HeapMatrix3D<short>& v) {
  return box.z0 + labels.dim0() <= v.dim0() && box.y0 + labels.dim1() <= v.dim1() &&
         box.x0 + labels.dim2() <= v.dim2();
}

// Weighted least squares through the normal equations (X^T W X) c = X^T W y, solved
// with the LU inverse; a singular system gives zero coefficients (after the LU
// routine's message). x holds one row of `p` values per used label.
std::vector<double> WeightedFit(const std::vector<double>& x, const std::vector<double>& y,
                                const std::vector<double>& w, int p) {
  const int n = static_cast<int>(y.size());
  std::vector<double> c(p, 0.0);
  if (n == 0) return c;
  Matrix<double> X(n, p), W(n, n), Y(n, 1);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < p; ++j) X(i, j) = x[static_cast<size_t>(i) * p + j];
    W(i, i) = w[i];
    Y(i, 0) = y[i];
  }
  const Matrix<double> xtw = X.Transpose() * W;
  const Matrix<double> normal = xtw * X;
  const Matrix<double> rhs = xtw * Y;
  Matrix<double> inverse;
  normal.Inverse(inverse);
  const Matrix<double> solution = inverse * rhs;
  for (int j = 0; j < p; ++j) c[j] = solution(j, 0);
  return c;
}

// The histogram of the box voxels of v on the grid from `start` to `end` with `width`,
// smoothed with the kernel (0.25, 0.25, 0.5) and normalised. Returns false when no
// voxel fell on the grid.
bool BoxHistogram(RF& h, const HeapMatrix3D<short>& v, const SubVolume& box, double start, double end,
                  double width) {
  h.Init(start, end, width);
  for (int z = box.z0; z <= box.z1; ++z)
    for (int y = box.y0; y <= box.y1; ++y)
      for (int x = box.x0; x <= box.x1; ++x) h.Add(v(z, y, x), 1.0);
  if (!(h.pdf.Sum() > 0.0)) return false;
  VectorQo<double> kernel(3);
  kernel[0] = 0.25;
  kernel[1] = 0.25;
  kernel[2] = 0.5;
  h.Smooth(kernel);
  return true;
}

// Sets every bin below 0.05 to 0 from the top down, moving `top` down with the bins
// it lies in, and normalises again. A histogram with no bin of 0.05 is left as it is,
// with `top` at the highest voxel: real T1 volumes spread their mass so thinly over
// width-1 bins that trimming them would empty the histogram and put the top at the
// grid's second bin, saturating the mapped volume.
void TrimTop(RF& h, int& top) {
  bool anyReaches = false;
  for (int i = 0; i < h.bins; ++i)
    if (h.pdf[i] >= 0.05) anyReaches = true;
  if (!anyReaches) return;
  for (int i = h.bins - 1; i >= 0; --i) {
    if (h.pdf[i] < 0.05) {
      h.pdf[i] = 0.0;
      if (h.BinOf(top) == i) top = TruncToInt32(h.min + h.width * (i - 1));
    }
  }
  h.Normalize();
}

void AppendIntensitySettings(const std::string& folder, int minT, int maxT) {
  if (folder.empty()) return;
  char line[96];
  std::snprintf(line, sizeof line, "IntensityRange:%d %d\n", minT, maxT);
  WriteSettingLine(folder, line, false);
  WriteSettingLine(folder, "IntensityType: 4\n", false);
  std::snprintf(line, sizeof line, "ClassifierVersion: %d\n", gClassifierVersion);
  WriteSettingLine(folder, line, false);
}

// Lowest and highest positive voxel over the box (65535 and -65535 when none).
void PositiveRange(const HeapMatrix3D<short>& v, const SubVolume& box, int& lo, int& hi) {
  lo = 65535;
  hi = -65535;
  for (int z = box.z0; z <= box.z1; ++z)
    for (int y = box.y0; y <= box.y1; ++y)
      for (int x = box.x0; x <= box.x1; ++x) {
        const int s = v(z, y, x);
        if (s <= 0) continue;
        if (s < lo) lo = s;
        if (s > hi) hi = s;
      }
}

// Per-label means of template and volume at the same indices (labels above `minLabel`
// - 1 only). Returns the used labels in increasing order; false on a size mismatch.
struct LabelMeans {
  std::vector<double> count, meanT, meanV;
  std::vector<int> used;
};

bool GatherLabelMeans(const HeapMatrix3D<short>& templ, const HeapMatrix3D<short>& volume,
                      const HeapMatrix3D<short>& labels, int minLabel, LabelMeans& m) {
  // The label volume is read at the same indices as both volumes, which may be larger.
  for (const auto& [v, name] : {std::pair<const HeapMatrix3D<short>*, const char*>{&templ, "template"},
                                {&volume, "volume"}}) {
    if (labels.dim0() > v->dim0() || labels.dim1() > v->dim1() || labels.dim2() > v->dim2()) {
      std::printf("Label volume (%d x %d x %d) is larger than the %s (%d x %d x %d); intensities left unchanged\n",
                  labels.dim2(), labels.dim1(), labels.dim0(), name, v->dim2(), v->dim1(), v->dim0());
      return false;
    }
  }
  const int top = labels.Max();
  const size_t size = top >= 0 ? static_cast<size_t>(top) + 1 : 0;
  std::vector<double> sumT(size, 0.0), sumV(size, 0.0);
  m.count.assign(size, 0.0);
  m.meanT.assign(size, 0.0);
  m.meanV.assign(size, 0.0);
  for (int z = 0; z < labels.dim0(); ++z)
    for (int y = 0; y < labels.dim1(); ++y)
      for (int x = 0; x < labels.dim2(); ++x) {
        const int l = labels(z, y, x);
        if (l < minLabel) continue;
        m.count[l] += 1.0;
        sumT[l] += templ(z, y, x);
        sumV[l] += volume(z, y, x);
      }
  for (size_t l = 0; l < size; ++l) {
    if (m.count[l] > 0.0) {
      m.meanT[l] = sumT[l] / m.count[l];
      m.meanV[l] = sumV[l] / m.count[l];
      m.used.push_back(static_cast<int>(l));
    }
  }
  if (size > 0) {
    m.meanT[0] = m.meanV[0] = 0.0;
    m.count[0] /= 2.0;
  }
  if (m.used.empty()) {
    ReportUnchanged("No labelled voxel to fit");
    return false;
  }
  return true;
}

// Lowest and highest non-negative voxel over the box (32767 and -32767 when none).
void NonNegativeRange(const HeapMatrix3D<short>& v, const SubVolume& box, int& lo, int& hi) {
  lo = 32767;
  hi = -32767;
  for (int z = box.z0; z <= box.z1; ++z)
    for (int y = box.y0; y <= box.y1; ++y)
      for (int x = box.x0; x <= box.x1; ++x) {
        const int s = v(z, y, x);
        if (s < 0) continue;
        if (s < lo) lo = s;
        if (s > hi) hi = s;
      }
}

// Stored values above 32767 read as negative: when any voxel is negative, every voxel
// is read unsigned and halved.
void HalveUnsignedValues(HeapMatrix3D<short>& volume) {
  bool negative = false;
  for (int z = 0; z < volume.dim0() && !negative; ++z)
    for (int y = 0; y < volume.dim1() && !negative; ++y)
      for (int x = 0; x < volume.dim2(); ++x)
        if (volume(z, y, x) < 0) {
          negative = true;
          break;
        }
  if (!negative) return;
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x)
        volume(z, y, x) = static_cast<short>(static_cast<uint16_t>(volume(z, y, x)) / 2);
}

// Per-label statistics of one side of NormalizeIntensity (the template under its label
// volume, or the volume under its own), indexed by label value.
struct LabelSide {
  explicit LabelSide(size_t size) : count(size, 0.0), sum(size, 0.0), mean(size, 0.0), dev(size, 0.0) {}
  std::vector<double> count, sum, mean;
  std::vector<double> dev;  // mean squared distance from the side's overall mean
};

// Counts and sums of the template's voxels under labels8 (placed at the box's lower
// corner); false after reporting a label above `top`.
bool SumTemplateSide(const HeapMatrix3D<short>& templ, const SubVolume& box, const HeapMatrix3D<unsigned char>& labels8,
                     int top, LabelSide& t) {
  for (int z = 0; z < labels8.dim0(); ++z)
    for (int y = 0; y < labels8.dim1(); ++y)
      for (int x = 0; x < labels8.dim2(); ++x) {
        const int l = labels8(z, y, x);
        if (l > top) {
          std::printf("Invalid label found! Please check the label image.\n");
          return false;
        }
        t.count[l] += 1.0;
        t.sum[l] += templ(box.z0 + z, box.y0 + y, box.x0 + x);
      }
  return true;
}

// Counts and sums of the volume's voxels under labels16 (placed at the box's lower
// corner); negative labels are skipped.
void SumVolumeSide(const HeapMatrix3D<short>& volume, const SubVolume& box, const HeapMatrix3D<short>& labels16,
                   LabelSide& v) {
  for (int z = 0; z < labels16.dim0(); ++z)
    for (int y = 0; y < labels16.dim1(); ++y)
      for (int x = 0; x < labels16.dim2(); ++x) {
        const int l = labels16(z, y, x);
        if (l < 0) continue;
        v.count[l] += 1.0;
        v.sum[l] += volume(box.z0 + z, box.y0 + y, box.x0 + x);
      }
}

// The labels present on the volume's side, in increasing order, with their means on
// both sides; one absent from the template's side is reported and left out rather
// than dividing by zero. *templateMean := the template's mean over the voxels of the
// used labels (0 when none is used).
std::vector<int> UsableLabels(LabelSide& t, LabelSide& v, double* templateMean) {
  std::vector<int> used;
  double sumUsed = 0.0, countUsed = 0.0;
  for (size_t l = 0; l < v.count.size(); ++l) {
    if (!(v.count[l] > 0.0)) continue;
    if (!(t.count[l] > 0.0)) {
      std::printf("Label %d has no voxel in the template's label volume; left out of the fit\n", static_cast<int>(l));
      continue;
    }
    used.push_back(static_cast<int>(l));
    t.mean[l] = t.sum[l] / t.count[l];
    v.mean[l] = v.sum[l] / v.count[l];
    sumUsed += t.sum[l];
    countUsed += t.count[l];
  }
  *templateMean = used.empty() ? 0.0 : sumUsed / countUsed;
  return used;
}

// side.dev := per label, the mean squared distance of the voxels of v under `labels`
// (placed at the box's lower corner; negative labels skipped) from `mean`.
template <class L>
void LabelSpread(const HeapMatrix3D<short>& v, const SubVolume& box, const HeapMatrix3D<L>& labels, double mean,
                 LabelSide& side) {
  for (int z = 0; z < labels.dim0(); ++z)
    for (int y = 0; y < labels.dim1(); ++y)
      for (int x = 0; x < labels.dim2(); ++x) {
        const int l = labels(z, y, x);
        if (l < 0) continue;
        const double d = v(box.z0 + z, box.y0 + y, box.x0 + x) - mean;
        side.dev[l] += d * d;
      }
  for (size_t l = 0; l < side.dev.size(); ++l)
    if (side.count[l] > 0.0) side.dev[l] /= side.count[l];
}

// The scale a of the fit without intercept of the template's label means on the
// volume's, weighted by the volume's label counts.
double FitMeanScale(const std::vector<int>& used, const LabelSide& t, const LabelSide& v) {
  std::vector<double> xs, ys, ws;
  for (int l : used) {
    xs.push_back(v.mean[l]);
    ys.push_back(t.mean[l]);
    ws.push_back(v.count[l] / 100);
  }
  return WeightedFit(xs, ys, ws, 1)[0];
}

// The scale b of the fit without intercept of the template's label spreads on the
// volume's, weighted by the template's label counts.
double FitSpreadScale(const std::vector<int>& used, const LabelSide& t, const LabelSide& v) {
  std::vector<double> xs, ys, ws;
  for (int l : used) {
    xs.push_back(std::sqrt(v.dev[l]));
    ys.push_back(std::sqrt(t.dev[l]));
    ws.push_back(t.count[l] / 100);
  }
  return WeightedFit(xs, ys, ws, 1)[0];
}

// Scales the volume's label means by a; returns its mean over the voxels of the used
// labels after scaling.
double ScaleLabelMeans(const std::vector<int>& used, double a, LabelSide& v) {
  double weighted = 0.0, countUsed = 0.0;
  for (int l : used) {
    v.mean[l] *= a;
    weighted += v.mean[l] * v.count[l];
    countUsed += v.count[l];
  }
  return weighted / countUsed;
}

void ScalePositiveVoxels(HeapMatrix3D<short>& volume, double a) {
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) {
        const short v = volume(z, y, x);
        if (v > 0) volume(z, y, x) = ToVoxel(v * a, -32768.0, 32767.0);
      }
}

// With `spread`, maps every non-negative voxel by the spread scale b (about the mean
// when b <= 1), printing "less" for each negative one; without it, undoes the scale a
// on the positive voxels.
void MapSpread(HeapMatrix3D<short>& volume, int spread, double a, double b, double mean) {
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) {
        const short v = volume(z, y, x);
        if (spread) {
          if (v < 0) {
            std::printf("less\n");
            continue;
          }
          const double mapped = b <= 1 ? (v - mean) * b + mean : v * b;
          volume(z, y, x) = ToVoxel(mapped + 0.5, -32768.0, 32767.0);
        } else if (a > 0 && v > 0) {
          volume(z, y, x) = ToVoxel(v / a, -32768.0, 32767.0);
        }
      }
}

// Maps the volume onto 0 .. 255 with the template's range: (v - min) * 255 / (maxT -
// minT), clamped. minS and maxS receive the volume's range before the mapping.
void MapOntoTemplateRange(HeapMatrix3D<short>& volume, int minT, int maxT, short& minS, short& maxS) {
  volume.MinMax(minS, maxS);
  std::printf("min_source = %d\n", minS);
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) {
        const int64_t q = static_cast<int64_t>(volume(z, y, x) - minS) * 255 / (maxT - minT);
        volume(z, y, x) = static_cast<short>(q < 0 ? 0 : q > 255 ? 255 : q);
      }
}

}  // namespace

bool EstimateIntensityRange(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume, const SubVolume& box,
                            const std::string& settingsFolder) {
  RF hv;  // each histogram takes its one draw, the volume's first
  RF ht;
  int minT = 65535, maxT = -65535;
  if (!BoxInside(box, volume, "volume") || !BoxInside(box, templ, "template")) {
    AppendIntensitySettings(settingsFolder, minT, maxT);
    return false;
  }
  int minV = 0, maxV = 0;
  PositiveRange(volume, box, minV, maxV);
  PositiveRange(templ, box, minT, maxT);
  const char* refused = nullptr;
  if (maxV < minV)
    refused = "No positive voxel in the volume's box";
  else if (maxT < minT)
    refused = "No positive voxel in the template's box";
  else if (maxV < minV + 20)
    refused = "Intensity range of the volume is narrower than the histogram's offset of 20";
  else if (maxT < minT + 20)
    refused = "Intensity range of the template is narrower than the histogram's offset of 20";
  if (!refused) {
    const bool filledV = BoxHistogram(hv, volume, box, minV + 20, maxV, 1.0);
    const bool filledT = BoxHistogram(ht, templ, box, minT + 20, maxT, 1.0);
    if (!filledV || !filledT) refused = "Empty intensity histogram";
  }
  if (!refused) {
    TrimTop(ht, maxT);
    TrimTop(hv, maxV);
    if (maxT == minT) refused = "Flat template (maxT = minT)";
  }
  if (refused) {
    ReportUnchanged(refused);
    AppendIntensitySettings(settingsFolder, minT, maxT);
    return false;
  }
  const double ratio = FindTopHistogramPeak(ht) / FindTopHistogramPeak(hv);
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x)
        volume(z, y, x) = ToByteRange((volume(z, y, x) - minV) * ratio * 255 / (maxT - minT));
  AppendIntensitySettings(settingsFolder, minT, maxT);
  return true;
}

bool NormalizeIntensity(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume, const SubVolume& box,
                        const HeapMatrix3D<short>& labels16, const HeapMatrix3D<unsigned char>& labels8, int,
                        double* deviation, int spread, const std::string& settingsFolder) {
  if (!BoxInside(box, volume, "volume") || !BoxInside(box, templ, "template")) return false;
  if (!LabelsFit(labels16, box, volume) || !LabelsFit(labels8, box, templ)) {
    ReportUnchanged("Label volumes do not fit inside the volumes at the box");
    return false;
  }
  int minT = 0, maxT = 0;
  NonNegativeRange(templ, box, minT, maxT);
  // A flat template is refused only where its range divides (after the fallback).
  HalveUnsignedValues(volume);

  const int top = labels16.Max();
  const size_t size = top >= 0 ? static_cast<size_t>(top) + 1 : 0;
  LabelSide t(size), v(size);  // the template's side and the volume's
  if (!SumTemplateSide(templ, box, labels8, top, t)) return false;
  SumVolumeSide(volume, box, labels16, v);
  double templateMean = 0.0;
  const std::vector<int> used = UsableLabels(t, v, &templateMean);
  LabelSpread(templ, box, labels8, templateMean, t);

  std::printf("num_structure_use_tonormalize = %d\n", static_cast<int>(used.size()));
  if (used.size() <= 1) return EstimateIntensityRange(templ, volume, box, settingsFolder);
  if (maxT <= minT) {
    ReportUnchanged("Flat template (maxT = minT)");
    return false;
  }
  const double a = FitMeanScale(used, t, v);
  if (a == 0.0) {
    ReportUnchanged("Scale fit gave 0");
    return false;
  }
  const double volumeMean = ScaleLabelMeans(used, a, v);
  std::printf("mx_a(0) = %f\n", a);
  ScalePositiveVoxels(volume, a);
  LabelSpread(volume, box, labels16, volumeMean, v);
  const double b = FitSpreadScale(used, t, v);
  std::printf("mx_b(0) = %f\n", b);
  MapSpread(volume, spread, a, b, volumeMean);

  short minS = 0, maxS = 0;
  MapOntoTemplateRange(volume, minT, maxT, minS, maxS);
  if (deviation) {
    if (a * b > 0 && maxS != minS && !v.dev.empty())
      *deviation = std::sqrt(v.dev[0]) * (255.0 / (maxS - minS)) / b;
    else
      *deviation = 1.0;
  }
  return true;
}

void FitIntensityMapping(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                         const HeapMatrix3D<short>& labels16, int offset) {
  LabelMeans m;
  if (!GatherLabelMeans(templ, volume, labels16, 0, m)) return;
  std::vector<double> xs, ys, ws;
  for (int l : m.used) {
    xs.push_back(1.0);
    xs.push_back(m.meanV[l]);
    ys.push_back(m.meanT[l]);
    ws.push_back(m.count[l] / 100);
  }
  const std::vector<double> c = WeightedFit(xs, ys, ws, 2);
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) {
        const int64_t u = TruncToInt32(c[1] * volume(z, y, x) + c[0]);
        const double mapped = offset ? static_cast<double>(TruncToInt32((u - 520) / 5.5)) : (u - 400) / 5;
        volume(z, y, x) = ToByteRange(mapped);
      }
}

void MatchIntensityHistograms(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                              const HeapMatrix3D<short>&, const SubVolume& box) {
  RF ht;  // each histogram takes its one draw, the template's first
  RF hv;
  if (!BoxInside(box, volume, "volume") || !BoxInside(box, templ, "template")) return;
  const bool filledT = BoxHistogram(ht, templ, box, 20, 450, 2);
  const bool filledV = BoxHistogram(hv, volume, box, 20, 450, 2);
  if (!filledT || !filledV) {
    ReportUnchanged("No intensity from 18 to 450 in the box");
    return;
  }
  const double ratio = HistogramPeakValue(ht) / HistogramPeakValue(hv);
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) volume(z, y, x) = ToByteRange(volume(z, y, x) * ratio);
}

void RefineIntensityMapping(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                            const HeapMatrix3D<short>& labels16) {
  LabelMeans m;
  if (!GatherLabelMeans(templ, volume, labels16, 1, m)) return;
  std::vector<double> xs, ys, ws;
  for (int l : m.used) {
    xs.push_back(m.meanV[l]);
    ys.push_back(m.meanT[l]);
    ws.push_back(m.count[l] / 100);
  }
  const double s = WeightedFit(xs, ys, ws, 1)[0];
  for (int z = 0; z < volume.dim0(); ++z)
    for (int y = 0; y < volume.dim1(); ++y)
      for (int x = 0; x < volume.dim2(); ++x) volume(z, y, x) = ToByteRange(volume(z, y, x) * s);
}
