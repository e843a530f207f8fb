// The energy terms that decide whether one boundary voxel changes its label.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <memory>

#include "features/Edg3DSample.h"
#include "features/VoxelSampleRecord.h"
#include "models/CBrainGMM.h"
#include "models/CRegionCompetition.h"
#include "models/Matrix2.h"
#include "models/Vector2.h"
#include "numerics/UniformRandom.h"
#include "platform/ParallelFor.h"

namespace {

// Neighbour offsets (dx, dy, dz) in the order they are tried: 6 faces, 12 edges, 8 corners.
constexpr int kOffsets[26][3] = {
    {1, 0, 0},  {-1, 0, 0},  {0, 1, 0},   {0, -1, 0},   {0, 0, 1},   {0, 0, -1},  {1, 1, 0},
    {1, -1, 0}, {-1, 1, 0},  {-1, -1, 0}, {0, 1, 1},    {0, 1, -1},  {0, -1, 1},  {0, -1, -1},
    {1, 0, 1},  {1, 0, -1},  {-1, 0, 1},  {-1, 0, -1},  {1, 1, 1},   {1, -1, 1},  {-1, 1, 1},
    {-1, -1, 1}, {1, 1, -1}, {1, -1, -1}, {-1, 1, -1},  {-1, -1, -1}};

int Clamp(int v, int extent) { return v < 0 ? 0 : (v >= extent ? extent - 1 : v); }

// Number of table entries used for a neighbour count.
int NeighbourEntries(int n) { return n <= 6 ? 6 : (n <= 25 ? 18 : 26); }

const double kSqrt2Pi = std::sqrt(2.0 * M_PI);

double BinSum(const RF& h) {
  double sum = 0.0;
  for (int b = 0; b < h.bins; ++b) sum += h.pdf[b];
  return sum;
}

}  // namespace

bool CRegionCompetition::IsBoundaryVoxel(const HeapMatrix3D<unsigned char>& labelVolume, int z, int y, int x,
                                         int n) {
  const int Z = labelVolume.dim0(), Y = labelVolume.dim1(), X = labelVolume.dim2();
  const unsigned char self = labelVolume[z][y][x];
  const int entries = NeighbourEntries(n);
  for (int i = 0; i < entries; ++i) {
    const int* d = kOffsets[i];
    if (labelVolume[Clamp(z + d[2], Z)][Clamp(y + d[1], Y)][Clamp(x + d[0], X)] != self) return true;
  }
  return false;
}

int CRegionCompetition::NeighbourStatistics(const HeapMatrix3D<short>& volume, int z, int y, int x,
                                            unsigned char size, int step, RF* hist, int label,
                                            const HeapMatrix3D<unsigned char>* labelVolume) {
  if (hist == nullptr || (label >= 0 && labelVolume == nullptr) || step < 1) return -1;
  const int h = size / 2;
  const int Z = volume.dim0(), Y = volume.dim1(), X = volume.dim2();
  hist->Fill(0.0);
  if (label < 0) {
    for (int dz = -h; dz <= h; dz += step)
      for (int dy = -h; dy <= h; dy += step)
        for (int dx = -h; dx <= h; dx += step)
          hist->Add(volume[Clamp(z + dz, Z)][Clamp(y + dy, Y)][Clamp(x + dx, X)], 1.0);
    return 0;
  }
  hist->Fill(1.0);
  // Positions outside the label volume never match.
  for (int dz = -h; dz <= h; dz += step)
    for (int dy = -h; dy <= h; dy += step)
      for (int dx = -h; dx <= h; dx += step)
        if (labelVolume->IsInside(z + dz, y + dy, x + dx) && (*labelVolume)[z + dz][y + dy][x + dx] == label)
          hist->Add(volume[Clamp(z + dz, Z)][Clamp(y + dy, Y)][Clamp(x + dx, X)], 1.0);
  return 0;
}

void CRegionCompetition::ForgetMixtureTerms() {
  const size_t bins = labelledHistogram ? static_cast<size_t>(labelledHistogram->bins) : 0;
  const double unknown = std::numeric_limits<double>::quiet_NaN();
  mixtureTerms.assign((static_cast<size_t>(numLabels) + 1) * bins, unknown);
  mixturePowers.assign(mixtureTerms.size() * kMaxMemoCount, unknown);
}

double CRegionCompetition::MixtureBinTerm(int label, int bin, double xb, bool onGrid) {
  const size_t bins = labelledHistogram ? static_cast<size_t>(labelledHistogram->bins) : 0;
  const bool memo = onGrid && label >= 0 && label <= numLabels && bin >= 0 && static_cast<size_t>(bin) < bins &&
                    mixtureTerms.size() == (static_cast<size_t>(numLabels) + 1) * bins;
  const size_t slot = memo ? static_cast<size_t>(label) * bins + static_cast<size_t>(bin) : 0;
  if (memo && !std::isnan(mixtureTerms[slot])) return mixtureTerms[slot];

  double p = 0.0;
  bool inverted = true;
  if (mixture != nullptr && label < mixture->numMixtures) {
    const GaussianMixture& gm = mixture->mixtures[static_cast<size_t>(label)];
    Vector2 v(1);
    v[0] = xb;
    for (int k = 0; k < gm.numComponents; ++k) {
      p += gm.weights[static_cast<size_t>(k)] * gm.ComponentDensity(v, k);
      if (gInversionSucceeded == 0) inverted = false;
    }
  }
  const double penalty = onGrid && static_cast<size_t>(bin) < penaltyFactors.size()
                             ? penaltyFactors[static_cast<size_t>(bin)]
                             : std::exp(-LowIntensityPenalty(xb));
  const double term = p * penalty / kSqrt2Pi;
  // A failed inversion prints its message on every evaluation, so it is not memoised.
  if (memo && inverted) mixtureTerms[slot] = term;
  return term;
}

double CRegionCompetition::LowIntensityPenalty(double xb) const {
  const double zb = (xb - labelledMean) / labelledSpread;
  return zb >= -1.6 ? 0.0 : 1.0 + (zb + 1.6) * (zb + 1.6) / 1.6;
}

double CRegionCompetition::ClassLikelihood(const RF& hist, int16_t label, const RF* reference, int mode) {
  if (reference == nullptr) {
    if (label < 0 || label > numLabels || currentHistograms.empty()) return 0.0;
    reference = currentHistograms[static_cast<size_t>(label)];
  }
  // The products stay products: their underflow to 0 is what sends a voxel to background.
  double product = 1.0;
  double counted = 0.0;
  if (label > 0) {
    const double refSum = mode == 1 ? 0.0 : BinSum(*reference);
    // The memos are kept on the common grid.
    const bool onGrid = labelledHistogram != nullptr && hist.min == labelledHistogram->min &&
                        hist.width == labelledHistogram->width;
    const size_t bins = onGrid ? static_cast<size_t>(labelledHistogram->bins) : 0;
    const bool powersKept = onGrid && label <= numLabels &&
                            mixturePowers.size() == (static_cast<size_t>(numLabels) + 1) * bins * kMaxMemoCount;
    for (int b = 0; b < hist.bins; ++b) {
      const double c = hist.pdf[b];
      if (!(c > 0)) continue;
      counted += c;
      const double xb = hist.min + b * hist.width;
      if (mode == 1) {
        // Counts of a neighbourhood are small whole numbers: their powers are memoised.
        const bool memo = powersKept && static_cast<size_t>(b) < bins && c <= kMaxMemoCount && c == std::floor(c);
        const size_t slot = memo ? (static_cast<size_t>(label) * bins + static_cast<size_t>(b)) * kMaxMemoCount +
                                       static_cast<size_t>(c) - 1
                                 : 0;
        if (memo && !std::isnan(mixturePowers[slot])) {
          product *= mixturePowers[slot];
          continue;
        }
        const double power = std::pow(MixtureBinTerm(label, b, xb, onGrid), c);
        if (memo && !std::isnan(mixtureTerms[static_cast<size_t>(label) * bins + static_cast<size_t>(b)]))
          mixturePowers[slot] = power;
        product *= power;
      } else {
        const double p = b < reference->bins && refSum > 0 ? reference->pdf[b] / refSum : 0.0;
        const double penalty = onGrid && static_cast<size_t>(b) < penaltyFactors.size()
                                   ? penaltyFactors[static_cast<size_t>(b)]
                                   : std::exp(-LowIntensityPenalty(xb));
        product *= std::pow(p * penalty / kSqrt2Pi, c);
      }
    }
  } else {
    double beta = 0.2;
    if (nonEmptyLabels >= 6) {
      const double t = std::max(3.0, 4.0 * std::log2(static_cast<double>(nonEmptyLabels)) - 9.0);
      beta = 2.4 / (t * kSqrt2Pi);
    }
    const double refSum = BinSum(*reference);
    for (int b = 0; b < hist.bins; ++b) {
      const double c = hist.pdf[b];
      if (!(c > 0)) continue;
      counted += c;
      const double p = b < reference->bins && refSum > 0 ? reference->pdf[b] / refSum : 0.0;
      product *= std::pow(p * beta, c);
    }
  }
  // A histogram without counts has no likelihood.
  if (!(counted > 0)) return 0.0;
  return std::pow(product, 1.0 / counted);
}

void CRegionCompetition::TakeNeighbourHistogramDraws() {
  ++histogramPairsDrawn;
  if (currentLabelHistogram == nullptr) {
    currentLabelHistogram = NewGridHistogram();    // one draw
    candidateLabelHistogram = NewGridHistogram();  // one draw
    return;
  }
  // Reused histograms: the two draws that building them afresh would take.
  RandomUniform first;
  RandomUniform second;
  (void)first;
  (void)second;
}

double CRegionCompetition::CandidateEnergies(const RF& hist, int z, int y, int x, int16_t current,
                                             int numNeighbours, int16_t& candidate, double& edge) {
  double best = DBL_MAX;
  const double L0 = ClassLikelihood(hist, current, nullptr, 1);
  // The current label is impossible here: the voxel goes to the candidate's value, 0.
  if (L0 <= DBL_MIN) return -DBL_MAX;

  const int Z = labels.dim0(), Y = labels.dim1(), X = labels.dim2();
  const int entries = std::min(std::max(numNeighbours, 0), 26);
  bool found = false;
  for (int i = 0; i < entries; ++i) {
    const int* d = kOffsets[i];
    const int nz = Clamp(z + d[2], Z), ny = Clamp(y + d[1], Y), nx = Clamp(x + d[0], X);
    const int16_t l = labels[nz][ny][nx];
    if (l == current) continue;
    const double L = ClassLikelihood(hist, l, nullptr, 1);
    const double dist = L > DBL_MIN ? std::log(L0 / L) : 5.0;
    if (dist < best) {  // strictly: the earlier neighbour wins ties
      best = dist;
      candidate = l;
      edge = edgeMap.IsInside(nz, ny, nx) ? edgeMap[nz][ny][nx] : 0.0;
      found = true;
    }
  }

  TakeNeighbourHistogramDraws();
  const double a = std::fabs(best);
  double E;
  if (a >= 2.5) {
    // Also when no candidate was found (DBL_MAX); the neighbourhood terms are unused.
    E = best;
  } else {
    const int16_t n = found ? candidate : 0;
    NeighbourStatistics(intensity, z, y, x, static_cast<unsigned char>(neighbourhoodSize), 1, currentLabelHistogram,
                        current, &labels);
    NeighbourStatistics(intensity, z, y, x, static_cast<unsigned char>(neighbourhoodSize), 1,
                        candidateLabelHistogram, n, &labels);
    const double Lc = ClassLikelihood(hist, current, currentLabelHistogram, 0);
    const double Ln = ClassLikelihood(hist, n, candidateLabelHistogram, 0);
    const double dn = Ln > DBL_MIN ? std::log(Lc / Ln) : 5.0;
    if (n != 0 && current != 0)
      E = 0.4 * (best * a + dn * (2.5 - a));
    else if (n != 0)
      E = 0.05 * best * a + 0.4 * dn * (2.5 - a / 8) - 0.2;
    else
      E = 0.05 * best * a + 0.4 * dn * (2.5 - a / 8) + 0.4;
  }
  return E >= 5.0 ? DBL_MAX : E;
}

double CRegionCompetition::FeatureTerm(int z, int y, int x) {
  if (z <= 0 || y <= 0 || x <= 0 || z >= labels.dim0() - 1 || y >= labels.dim1() - 1 || x >= labels.dim2() - 1)
    return 0.0;
  if (featureSample == nullptr) return 0.0;
  const size_t at = (static_cast<size_t>(z) * labels.dim1() + y) * labels.dim2() + x;
  const bool memo = featureTermKnown.size() == static_cast<size_t>(labels.NumElements());
  if (memo && featureTermKnown[at]) return featureTerms[at];
  // Case 65535 keeps the volumes the sample holds.
  VoxelSampleRecord record;
  record.caseNumber = -1;
  record.z = static_cast<int16_t>(z);
  record.y = static_cast<int16_t>(y);
  record.x = static_cast<int16_t>(x);
  featureSample->setPosition(record);
  const float value = featureSample->getFeatureValue(meanCurvatureFid);
  if (memo) {
    featureTerms[at] = value;
    featureTermKnown[at] = 1;
  }
  return value;
}

void CRegionCompetition::PrecomputeFeatureTerms(int m) {
  const int Z = labels.dim0(), Y = labels.dim1(), X = labels.dim2();
  const size_t n = static_cast<size_t>(labels.NumElements());
  featureTerms.assign(n, 0.0f);
  featureTermKnown.assign(n, 0);
  if (featureSample == nullptr || Z <= 2 * m || Y <= 2 * m || X <= 2 * m) return;
  // Worker copies follow the sample on its own case (-1: the volumes it was given);
  // a sample holding a loaded case would load files when moved, so it keeps to FeatureTerm.
  PbtSample::Place place;
  if (!featureSample->getPlace(place) || place.words[3] != -1) return;
  const int workers = std::max(1, WorkerCount());
  std::vector<std::unique_ptr<PbtSample>> copies(static_cast<size_t>(workers));
  ParallelFor(0, workers, [&](int w, int) { copies[static_cast<size_t>(w)].reset(featureSample->workerCopy()); });
  for (const std::unique_ptr<PbtSample>& copy : copies)
    if (!copy) return;
  ParallelFor(m, Z - m, [&](int z, int w) {
    PbtSample& s = *copies[static_cast<size_t>(w)];
    for (int y = m; y < Y - m; ++y)
      for (int x = m; x < X - m; ++x) {
        if (intensity[z][y][x] == 0 || !IsBoundaryVoxel(labels, z, y, x, 6)) continue;
        if (z <= 0 || y <= 0 || x <= 0 || z >= Z - 1 || y >= Y - 1 || x >= X - 1) continue;
        PbtSample::Place at = place;
        at.words[0] = x;
        at.words[1] = y;
        at.words[2] = z;
        s.moveTo(at);
        const size_t i = (static_cast<size_t>(z) * Y + y) * X + x;
        featureTerms[i] = s.getFeatureValue(meanCurvatureFid);
        featureTermKnown[i] = 1;
      }
  });
}

double CRegionCompetition::MoveEnergy(double feature, double energy, double edge, int current,
                                      int iteration) const {
  const double w = iteration == 0 ? 0.2 + 0.002 * numLabels : intensityWeight;
  const double factor = std::min(12, std::abs(numLabels - 8) + 1);
  const double size = current >= 0 && current < sizeTerms.cols ? sizeTerms[current] : 0.0;
  return w * energy - std::fabs(feature) - sizeWeight * size * 0.5 * factor + edgeWeight * edge;
}
