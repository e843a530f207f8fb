// The sweeps of the region competition and the size terms between iterations.
#include <cmath>
#include <cstdio>

#include "models/CRegionCompetition.h"
#include "platform/Conversions.h"

int CRegionCompetition::Evolve() {
  // Construction order is draw order: the delta histograms, then the neighbourhood one.
  std::vector<RF*> deltaHistograms(static_cast<size_t>(numLabels) + 1);
  for (RF*& h : deltaHistograms) h = NewGridHistogram();
  RF* neighbourhoodHistogram = NewGridHistogram();
  auto release = [&]() {
    for (RF* h : deltaHistograms) delete h;
    delete neighbourhoodHistogram;
  };

  const int Z = labels.dim0(), Y = labels.dim1(), X = labels.dim2();
  PrecomputeFeatureTerms((3 * neighbourhoodSize) / 2);
  int it = 0;
  int changes = 0;
  bool failed = false;

  // One voxel of a sweep; false when the neighbourhood statistics fail.
  auto visit = [&](int z, int y, int x) {
    const short v = intensity[z][y][x];
    unsigned char& label = labels[z][y][x];
    if (v == 0) {
      label = 0;
      return true;
    }
    if (!IsBoundaryVoxel(labels, z, y, x, 6)) return true;
    if (NeighbourStatistics(intensity, z, y, x, static_cast<unsigned char>(neighbourhoodSize), 1,
                            neighbourhoodHistogram, -1, nullptr) != 0) {
      std::printf("error when computing neighboring voxel statistics!\n");
      std::fflush(stdout);
      return false;
    }
    const int16_t current = label;
    int16_t candidate = 0;
    double edge = 0.0;
    const double energy = CandidateEnergies(*neighbourhoodHistogram, z, y, x, current, 6, candidate, edge);
    const double feature = FeatureTerm(z, y, x);
    const double dE = MoveEnergy(feature, energy, edge, current, it);
    if (dE < 0) {
      label = LowByte(candidate);
      deltaHistograms[static_cast<size_t>(current)]->Add(v, -1.0);
      deltaHistograms[static_cast<size_t>(candidate)]->Add(v, +1.0);
      ++changes;
    }
    return true;
  };

  for (;;) {
    changes = 0;
    for (RF* h : deltaHistograms) h->Fill(0.0);
    // Voxels closer than the margin to a face are never visited.
    const int m = (3 * neighbourhoodSize) / 2;
    // Forward, then backward over the same ranges; both sweeps change labels in place,
    // so a voxel changed forward is seen again with its new label.
    for (int z = m; z <= Z - m - 1 && !failed; ++z)
      for (int y = m; y <= Y - m - 1 && !failed; ++y)
        for (int x = m; x <= X - m - 1 && !failed; ++x) failed = !visit(z, y, x);
    for (int z = Z - m - 1; z >= m && !failed; --z)
      for (int y = Y - m - 1; y >= m && !failed; --y)
        for (int x = X - m - 1; x >= m && !failed; --x) failed = !visit(z, y, x);
    if (failed) {
      release();
      return -1;
    }

    for (size_t l = 0; l < deltaHistograms.size(); ++l) {
      RF& current = *currentHistograms[l];
      const RF& delta = *deltaHistograms[l];
      for (int b = 0; b < current.bins; ++b) current.pdf[b] += delta.pdf[b];
    }
    ++it;
    if (it == 2) changeThreshold = TruncToInt32(0.1 * changes);
    std::printf("Complete iteration %d\n", it);
    std::printf("Change %d voxels\n", changes);
    std::fflush(stdout);
    if (changes <= changeThreshold || it >= maxIterations) break;
    UpdateSizeTerms();
    FitMixture();
  }

  std::printf("Region Competition Complete!\n");
  std::fflush(stdout);
  release();
  return it;
}

void CRegionCompetition::UpdateSizeTerms() {
  // A: the current mass of a label, B: its initial mass (both with 1 per bin).
  auto mass = [](const RF& h) {
    double sum = 0.0;
    for (int b = 0; b < h.bins; ++b) sum += h.pdf[b];
    return sum;
  };
  for (int l = 0; l <= numLabels; ++l) {
    const double A = mass(*currentHistograms[static_cast<size_t>(l)]);
    const double B = mass(*initialHistograms[static_cast<size_t>(l)]);
    if (l == 0) {
      const double r = (A - B) / B;
      sizeTerms[0] = r * std::exp(-std::fabs(r)) - 0.09;
    } else {
      const double r = (A - B) / B - 0.7;
      sizeTerms[l] = r * std::exp(-std::fabs(r));
    }
  }
}
