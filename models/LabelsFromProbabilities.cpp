#include "models/LabelsFromProbabilities.h"

#include <cmath>

namespace {

constexpr int kSmoothingPasses = 5;
// (slice, row, column) steps of the six face neighbours, in the order they are read.
constexpr int kNeighbour[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, 0, -1}, {0, -1, 0}, {0, 0, 1}, {0, 1, 0}};

}  // namespace

bool LabelsFromProbabilities(const HeapMatrix3D<unsigned char>* probs, int numClasses,
                             HeapMatrix3D<unsigned char>& labels, float weight) {
  if (probs == nullptr || numClasses < 1) {
    labels.Release();
    return false;
  }
  const int d0 = probs[0].dim0(), d1 = probs[0].dim1(), d2 = probs[0].dim2();
  for (int k = 1; k < numClasses; ++k) {
    if (probs[k].dim0() != d0 || probs[k].dim1() != d1 || probs[k].dim2() != d2 ||
        probs[k].NumElements() != probs[0].NumElements()) {
      labels.Release();
      return false;
    }
  }
  labels.SetSize(d0, d1, d2);
  labels.Fill(0);
  if (labels.NumElements() == 0) return true;

  for (int z = 0; z < d0; ++z)
    for (int y = 0; y < d1; ++y)
      for (int x = 0; x < d2; ++x) {
        int best = 0;
        unsigned char bestByte = probs[0](z, y, x);
        for (int k = 1; k < numClasses; ++k) {
          if (probs[k](z, y, x) > bestByte) {
            bestByte = probs[k](z, y, x);
            best = k;
          }
        }
        labels(z, y, x) = static_cast<unsigned char>(best);
      }

  if (!(std::fabs(weight) > 0.0f)) return true;

  int neighbours[6];
  for (int pass = 0; pass < kSmoothingPasses; ++pass) {
    for (int z = 1; z < d0 - 1; ++z)
      for (int y = 1; y < d1 - 1; ++y)
        for (int x = 1; x < d2 - 1; ++x) {
          const int current = labels(z, y, x);
          bool allSame = true;
          for (int n = 0; n < 6; ++n) {
            neighbours[n] = labels(z + kNeighbour[n][0], y + kNeighbour[n][1], x + kNeighbour[n][2]);
            if (neighbours[n] != current) allSame = false;
          }
          if (allSame) continue;
          float bestEnergy = 1000000.0f;
          int best = current;
          for (int k = 0; k < numClasses; ++k) {
            const unsigned char b = probs[k](z, y, x);
            if (!(static_cast<float>(b) > 0.05f)) continue;
            int disagree = 0;
            for (int n = 0; n < 6; ++n)
              if (neighbours[n] != k) ++disagree;
            const float energy =
                static_cast<float>(static_cast<double>(disagree) * static_cast<double>(weight) -
                                   std::log(static_cast<double>(b)));
            if (energy < bestEnergy) {
              bestEnergy = energy;
              best = k;
            }
          }
          labels(z, y, x) = static_cast<unsigned char>(best);
        }
  }
  return true;
}
