// The two-class grouping of the active classes: per-class feature histograms, the
// threshold search over one feature, and the choice of the grouping.
#include <cmath>
#include <cstdlib>

#include "numerics/MCMC_Histogram.h"
#include "numerics/RF_uniform.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMSampleSet.h"
#include "platform/Conversions.h"

void PbtMSampleSet::buildHistograms(const VectorQo<double>& classPrior) {
  deleteHistograms();
  const int slots = numClasses();
  const int nPrior = classPrior.rows * classPrior.cols;
  for (int s = 0; s < slots; ++s) {
    const int c = classOfSlot[static_cast<size_t>(s)];
    if (c >= nPrior) outOfRange("buildHistograms", "class", c, nPrior);
  }

  std::vector<double> lo(static_cast<size_t>(nFeatures), 1e10);
  std::vector<double> hi(static_cast<size_t>(nFeatures), -1e10);
  for (int s = 0; s < slots; ++s) {
    float** rows = cacheOfSlot(s);
    if (rows == nullptr) continue;
    const int count = classCount[classOfSlot[static_cast<size_t>(s)]];
    for (int f = 0; f < nFeatures; ++f) {
      for (int i = 0; i < count; ++i) {
        const double v = rows[f][i];
        if (v < lo[static_cast<size_t>(f)]) lo[static_cast<size_t>(f)] = v;
        if (v > hi[static_cast<size_t>(f)]) hi[static_cast<size_t>(f)] = v;
      }
    }
  }

  histograms.resize(static_cast<size_t>(slots));
  for (int s = 0; s < slots; ++s) {
    PbtClassHistogram& h = histograms[static_cast<size_t>(s)];
    h.resize(nFeatures);  // nFeatures RF constructions, one draw each
    for (int f = 0; f < nFeatures; ++f) {
      // 21 bins over the values of all classes; a constant feature gets one bin of
      // width 0, which only its value falls into.
      RF& rf = h.featureHist[static_cast<size_t>(f)];
      rf.Init(lo[static_cast<size_t>(f)], hi[static_cast<size_t>(f)],
              (hi[static_cast<size_t>(f)] - lo[static_cast<size_t>(f)]) / 20.0);
      rf.Fill(0.0);
    }
    h.mass = 0.0;
    float** rows = cacheOfSlot(s);
    const int count = classCount[classOfSlot[static_cast<size_t>(s)]];
    for (int f = 0; rows != nullptr && f < nFeatures; ++f) {
      RF& rf = h.featureHist[static_cast<size_t>(f)];
      for (int i = 0; i < count; ++i) rf.Add(rows[f][i], 1.0);
    }
    h.mass = classPrior[classOfSlot[static_cast<size_t>(s)]];
  }
}

double PbtMSampleSet::bestSplit(int f, double* score, double* massBelow, double* massAbove,
                                VectorQo<unsigned char>* grouping) {
  const int slots = numClasses();
  *score = 1e10;
  *massBelow = 0.0;
  *massAbove = 0.0;
  VectorQo<unsigned char> best(slots);
  const bool haveHistograms = slots > 0 && static_cast<int>(histograms.size()) == slots && f >= 0 &&
                              f < histograms[0].count;
  if (!haveHistograms) {
    if (grouping != nullptr) *grouping = best;
    return 0.0;
  }

  const RF& grid = histograms[0].featureHist[static_cast<size_t>(f)];
  const double x0 = grid.min;
  const double w = grid.width;
  const int nb = grid.bins > 0 ? grid.bins : 0;
  MCMC_Histogram below, above;
  below.SetRange(0.0, slots - 1, 1.0);
  above.SetRange(0.0, slots - 1, 1.0);
  // Deliberate construction: the coin for classes split evenly (one draw).
  RF_uniform coin;
  coin.Init(0.0, 1.0, 1.0);
  for (PbtClassHistogram& h : histograms) h.featureHist[static_cast<size_t>(f)].BuildSamplingTable(false);

  double threshold = x0;  // the result when no step scores
  VectorQo<unsigned char> g(slots);
  for (int t = 0; t < nb; ++t) {
    const double x = x0 + t * w;
    double A = 0.0, B = 0.0, D = 0.0;
    int nLow = 0, nHigh = 0;
    g.Fill(0);
    for (int s = 0; s < slots; ++s) {
      const PbtClassHistogram& h = histograms[static_cast<size_t>(s)];
      const RF& rf = h.featureHist[static_cast<size_t>(f)];
      const double m = h.mass;
      const double c = rf.Cdf(x);
      below.bins[static_cast<size_t>(s)] = m * c;
      A += m * c;
      above.bins[static_cast<size_t>(s)] = m * (1 - c);
      B += m * (1 - c);
      D += m * rf.Pdf(x);
      if (c > 0.5) {
        nLow += 1;
      } else if (c == 0.5) {
        nLow += 1;
        g[s] = static_cast<unsigned char>(TruncToInt32(coin.Draw()));
      } else {
        nHigh += 1;
        g[s] = 1;
      }
    }
    below.Normalize();
    above.Normalize();
    const double e1 = below.Entropy();
    const double e2 = above.Entropy();
    const double S = (e1 * A + e2 * B) / (A + B) + 0.25 * D / (A + B) +
                     0.65 * std::abs(nLow - nHigh) / (nLow + nHigh);
    // A + B = 0 gives NaN, which never compares below the best score.
    if (S < *score) {
      *score = S;
      threshold = x + w / 2.1;
      *massBelow = A;
      *massAbove = B;
      best = g;
    }
  }
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
  int bestFeature = -1;
  double bestScore = 0.0, threshold = 0.0;
  for (int f = 0; f < nFeatures; ++f) {
    double score = 0.0, massBelow = 0.0, massAbove = 0.0;
    const double t = bestSplit(f, &score, &massBelow, &massAbove, nullptr);
    if (bestFeature < 0 || score < bestScore) {
      bestFeature = f;
      bestScore = score;
      threshold = t;
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
