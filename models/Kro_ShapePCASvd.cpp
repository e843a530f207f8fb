#include "models/Kro_ShapePCASvd.h"

#include <algorithm>
#include <cmath>

#include "numerics/LinearAlgebra.h"
#include "numerics/MaxHeap.h"

void Kro_ShapePCASvd::Fit(int m) {
  ComputeMean();
  const int d = dimension;
  const int n = static_cast<int>(samples.size());
  Matrix<double> newModes;
  VectorQo<double> newSigmas;
  if (d < 1 || n < 1 || m < 1 || d < n) {
    SetModes(newModes, newSigmas);
    return;
  }
  Matrix<double> X(d, n);
  VectorQo<double> x;
  for (int s = 0; s < n; ++s) {
    GetSample(x, s);
    if (ElementCount(x) != d) continue;
    for (int r = 0; r < d; ++r) X(r, s) = x[r];
  }
  Matrix<double> U, V;
  VectorQo<double> w;
  if (!SvdDecompose(U, w, V, X)) {
    SetModes(newModes, newSigmas);
    return;
  }
  MaxHeap heap(1000);
  for (int i = 0; i < n; ++i)
    if (std::fabs(w[i]) > 1.0) heap.Push({std::fabs(w[i]), i});
  const int kept = std::min(m, heap.Count());
  if (kept > 0) {
    newModes.SetSize(d, kept);
    newSigmas.Matrix<double>::SetSize(kept, 1);
  }
  for (int t = 0; t < kept; ++t) {
    HeapEntry e;
    heap.Pop(&e);
    for (int r = 0; r < d; ++r) newModes(r, t) = U(r, e.value);
    newSigmas[t] = std::sqrt(std::fabs(w[e.value]));
  }
  SetModes(newModes, newSigmas);
}
