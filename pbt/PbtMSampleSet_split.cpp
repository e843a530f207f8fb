// The two-class grouping of the active classes: per-class feature histograms, the
// threshold search over one feature, and the choice of the grouping.
//
// Threads: the histograms are filled and the features scored on the workers; every
// distribution is constructed, and every draw taken, on the calling thread in the
// order one thread takes them.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "numerics/MCMC_Histogram.h"
#include "numerics/RF_uniform.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMSampleSet.h"
#include "platform/Conversions.h"
#include "platform/ParallelFor.h"

namespace {

// Scratch of the threshold scans, reused from feature to feature by one worker.
struct SplitScratch {
  MCMC_Histogram below, above;
  std::vector<double> cumulative;  // by slot, the running sums of the class histogram's masses
};

// c = 0.5 in the scan: the grouping byte comes from a coin.
struct CoinTie {
  RF_uniform* coin;
  unsigned char operator()() const { return static_cast<unsigned char>(TruncToInt32(coin->Draw())); }
};

// c = 0.5 while only the score is wanted: the draw is counted, its value unused.
struct CountedTie {
  int* ties;
  unsigned char operator()() const {
    ++*ties;
    return 0;
  }
};

// The scan of bestSplit over the thresholds of feature f, on histograms already
// normalised for it. The sums, the order of their terms and the comparisons are those
// of a scan that asks RF::Cdf and RF::Pdf for every class and threshold: the running
// sums of the masses are those Cdf forms. `tie()` gives the grouping byte of a class
// at c = 0.5, in scan order; g and best (both null, or both numClasses() long) receive
// the grouping. Returns the threshold; *score and the masses as bestSplit describes.
template <class Tie>
double ScanThresholds(const std::vector<PbtClassHistogram>& histograms, int f, SplitScratch& w, Tie tie,
                      VectorQo<unsigned char>* g, VectorQo<unsigned char>* best, double* score,
                      double* massBelow, double* massAbove) {
  const int slots = static_cast<int>(histograms.size());
  const size_t uf = static_cast<size_t>(f);
  const RF& grid = histograms[0].featureHist[uf];
  const double x0 = grid.min;
  const double width = grid.width;
  const int nb = grid.bins > 0 ? grid.bins : 0;
  w.below.SetRange(0.0, slots - 1, 1.0);
  w.above.SetRange(0.0, slots - 1, 1.0);
  w.cumulative.resize(static_cast<size_t>(slots) * static_cast<size_t>(nb));
  for (int s = 0; s < slots; ++s) {
    const RF& rf = histograms[static_cast<size_t>(s)].featureHist[uf];
    if (rf.bins != nb) continue;  // not on the common grid: asked directly below
    double sum = 0.0;
    double* out = w.cumulative.data() + static_cast<size_t>(s) * static_cast<size_t>(nb);
    for (int i = 0; i < nb; ++i) out[i] = sum += rf.pdf[i];
  }

  double threshold = x0;  // the result when no step scores
  for (int t = 0; t < nb; ++t) {
    const double x = x0 + t * width;
    double A = 0.0, B = 0.0, D = 0.0;
    int nLow = 0, nHigh = 0;
    if (g != nullptr) g->Fill(0);
    for (int s = 0; s < slots; ++s) {
      const PbtClassHistogram& h = histograms[static_cast<size_t>(s)];
      const RF& rf = h.featureHist[uf];
      const double m = h.mass;
      double c = 0.0, p = 0.0;
      if (rf.bins == nb) {
        // RF::Cdf and RF::Pdf from the bin of x.
        const int k = rf.BinOf(x);
        const double* sums = w.cumulative.data() + static_cast<size_t>(s) * static_cast<size_t>(nb);
        if (k >= 0 && nb > 0) c = sums[std::min(k, nb - 1)];
        if (k >= 0 && k < nb) p = rf.pdf[k];
      } else {
        c = rf.Cdf(x);
        p = rf.Pdf(x);
      }
      w.below.bins[static_cast<size_t>(s)] = m * c;
      A += m * c;
      w.above.bins[static_cast<size_t>(s)] = m * (1 - c);
      B += m * (1 - c);
      D += m * p;
      if (c > 0.5) {
        nLow += 1;
      } else if (c == 0.5) {
        nLow += 1;
        const unsigned char coin = tie();
        if (g != nullptr) (*g)[s] = coin;
      } else {
        nHigh += 1;
        if (g != nullptr) (*g)[s] = 1;
      }
    }
    w.below.Normalize();
    w.above.Normalize();
    const double e1 = w.below.Entropy();
    const double e2 = w.above.Entropy();
    const double S = (e1 * A + e2 * B) / (A + B) + 0.25 * D / (A + B) +
                     0.65 * std::abs(nLow - nHigh) / (nLow + nHigh);
    // A + B = 0 gives NaN, which never compares below the best score.
    if (S < *score) {
      *score = S;
      threshold = x + width / 2.1;
      *massBelow = A;
      *massAbove = B;
      if (best != nullptr) *best = *g;
    }
  }
  return threshold;
}

}  // namespace

void PbtMSampleSet::buildHistograms(const VectorQo<double>& classPrior) {
  deleteHistograms();
  const int slots = numClasses();
  const int nPrior = classPrior.rows * classPrior.cols;
  for (int s = 0; s < slots; ++s) {
    const int c = classOfSlot[static_cast<size_t>(s)];
    if (c >= nPrior) outOfRange("buildHistograms", "class", c, nPrior);
  }

  // The distributions in slot order, here: nFeatures RF constructions per slot, one
  // draw each. Ranges and counts draw nothing and are formed per feature on the workers.
  histograms.resize(static_cast<size_t>(slots));
  for (int s = 0; s < slots; ++s) histograms[static_cast<size_t>(s)].resize(nFeatures);
  std::vector<float**> rowsOfSlot(static_cast<size_t>(slots));
  std::vector<int> countOfSlot(static_cast<size_t>(slots));
  for (int s = 0; s < slots; ++s) {
    rowsOfSlot[static_cast<size_t>(s)] = cacheOfSlot(s);
    countOfSlot[static_cast<size_t>(s)] = classCount[classOfSlot[static_cast<size_t>(s)]];
  }
  ParallelFor(0, slots > 0 ? nFeatures : 0, [&](int f, int) {
    const size_t uf = static_cast<size_t>(f);
    double lo = 1e10, hi = -1e10;
    for (int s = 0; s < slots; ++s) {
      float** rows = rowsOfSlot[static_cast<size_t>(s)];
      if (rows == nullptr) continue;
      const float* row = rows[f];
      const int count = countOfSlot[static_cast<size_t>(s)];
      for (int i = 0; i < count; ++i) {
        const double v = row[i];
        if (v < lo) lo = v;
        if (v > hi) hi = v;
      }
    }
    for (int s = 0; s < slots; ++s) {
      // 21 bins over the values of all classes; a constant feature gets one bin of
      // width 0, which only its value falls into.
      RF& rf = histograms[static_cast<size_t>(s)].featureHist[uf];
      rf.Init(lo, hi, (hi - lo) / 20.0);
      rf.Fill(0.0);
      float** rows = rowsOfSlot[static_cast<size_t>(s)];
      if (rows == nullptr) continue;
      const float* row = rows[f];
      const int count = countOfSlot[static_cast<size_t>(s)];
      for (int i = 0; i < count; ++i) rf.Add(row[i], 1.0);
    }
  });
  for (int s = 0; s < slots; ++s) {
    histograms[static_cast<size_t>(s)].mass = classPrior[classOfSlot[static_cast<size_t>(s)]];
  }
}

bool PbtMSampleSet::hasHistogramsFor(int f) const {
  const int slots = numClasses();
  return slots > 0 && static_cast<int>(histograms.size()) == slots && f >= 0 && f < histograms[0].count;
}

double PbtMSampleSet::bestSplit(int f, double* score, double* massBelow, double* massAbove,
                                VectorQo<unsigned char>* grouping) {
  const int slots = numClasses();
  *score = 1e10;
  *massBelow = 0.0;
  *massAbove = 0.0;
  VectorQo<unsigned char> best(slots);
  if (!hasHistogramsFor(f)) {
    if (grouping != nullptr) *grouping = best;
    return 0.0;
  }
  // Deliberate construction: the coin for classes split evenly (one draw).
  RF_uniform coin;
  coin.Init(0.0, 1.0, 1.0);
  for (PbtClassHistogram& h : histograms) h.featureHist[static_cast<size_t>(f)].BuildSamplingTable(false);
  SplitScratch scratch;
  VectorQo<unsigned char> g(slots);
  const double threshold =
      ScanThresholds(histograms, f, scratch, CoinTie{&coin}, &g, &best, score, massBelow, massAbove);
  for (PbtClassHistogram& h : histograms) h.featureHist[static_cast<size_t>(f)].samplingTable.Clear();
  if (grouping != nullptr) *grouping = best;
  return threshold;
}

void PbtMSampleSet::chooseClassSplit(const VectorQo<double>& classPrior, bool oneVsRest) {
  const int slots = numClasses();
  if (oneVsRest || slots <= 2) {
    classSplit.SetSize(slots);
    for (int s = 0; s < slots; ++s) classSplit[s] = s != 0;
    return;
  }

  calculateAllFeatures();
  buildHistograms(classPrior);

  // Every feature's bestSplit without a grouping. Its coin values would reach only the
  // grouping, so a feature's draws change nothing but the generator's position: the
  // scores are formed on the workers with the coin's draws counted (one per class at
  // c = 0.5), and the draws are taken afterwards here, feature by feature: the coin's
  // construction, then one per tie.
  struct FeatureScore {
    bool scored = false;
    int ties = 0;
    double score = 1e10, threshold = 0.0;
  };
  std::vector<FeatureScore> scores(static_cast<size_t>(std::max(0, nFeatures)));
  std::vector<SplitScratch> scratch(static_cast<size_t>(std::max(1, WorkerCount())));
  ParallelFor(0, nFeatures, [&](int f, int worker) {
    FeatureScore& out = scores[static_cast<size_t>(f)];
    if (!hasHistogramsFor(f)) return;
    // What BuildSamplingTable does to the masses; the table itself is not needed here.
    for (PbtClassHistogram& h : histograms) h.featureHist[static_cast<size_t>(f)].Normalize();
    double massBelow = 0.0, massAbove = 0.0;
    out.scored = true;
    out.threshold = ScanThresholds(histograms, f, scratch[static_cast<size_t>(worker)], CountedTie{&out.ties},
                                   nullptr, nullptr, &out.score, &massBelow, &massAbove);
  });
  int bestFeature = -1;
  double bestScore = 0.0, threshold = 0.0;
  for (int f = 0; f < nFeatures; ++f) {
    const FeatureScore& fs = scores[static_cast<size_t>(f)];
    if (fs.scored) {
      for (int d = 0; d <= fs.ties; ++d) UniformRandom(&gUniformRandomSeed);
    }
    // A feature without histograms scores 1e10 with threshold 0, as bestSplit gives it.
    if (bestFeature < 0 || fs.score < bestScore) {
      bestFeature = f;
      bestScore = fs.score;
      threshold = fs.threshold;
    }
  }

  classSplit.SetSize(slots);
  // Deliberate construction: the coin for classes with as many samples on each side
  // (one draw).
  RF_uniform coin;
  coin.Init(0.0, 1.0, 1.0);
  for (int s = 0; s < slots; ++s) {
    int nBelow = 0, nAbove = 0;
    float** rows = cacheOfSlot(s);
    if (bestFeature >= 0 && rows != nullptr) {
      const int count = classCount[classOfSlot[static_cast<size_t>(s)]];
      for (int i = 0; i < count; ++i) {
        if (rows[bestFeature][i] < threshold) {
          ++nBelow;
        } else {
          ++nAbove;  // NaN included
        }
      }
    }
    if (nBelow > nAbove) {
      classSplit[s] = false;
    } else if (nBelow < nAbove) {
      classSplit[s] = true;
    } else {
      classSplit[s] = coin.Draw() != 0.0;
    }
  }

  // Deliberate construction: the class that moves when one side is empty (one draw,
  // then one for the class).
  RF_uniform pick;
  pick.Init(0.0, slots - 1, 1.0);
  const int r = TruncToInt32(pick.Draw());
  int positives = 0;
  for (int s = 0; s < slots; ++s) positives += classSplit[s] ? 1 : 0;
  if (r >= 0 && r < slots) {
    if (positives == 0) classSplit[r] = true;
    if (positives == slots) classSplit[r] = false;
  }

  deleteHistograms();
  freeFeatures();
}
