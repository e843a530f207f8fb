#include "models/CBrainGMM.h"

CBrainGMM::CBrainGMM(int K, int maxLabel) : numComponents(K), numMixtures(maxLabel + 1 > 0 ? maxLabel + 1 : 0) {
  mixtures.resize(numMixtures);
  for (GaussianMixture& m : mixtures) m.Init(K, 1);
}

void CBrainGMM::GatherSamples(const HeapMatrix3D<short>& intensity, const HeapMatrix3D<unsigned char>& labels,
                              std::vector<Matrix2>& samples, int count, int step) const {
  if (step < 1) step = 1;
  if (count > static_cast<int>(samples.size())) count = static_cast<int>(samples.size());
  if (count < 1 || intensity.NumElements() == 0 || labels.dim0() != intensity.dim0() ||
      labels.dim1() != intensity.dim1() || labels.dim2() != intensity.dim2())
    return;
  const int nz = intensity.dim0(), ny = intensity.dim1(), nx = intensity.dim2();
  std::vector<int> counter(count, 0), taken(count, 0);
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      for (int l = 0; l < count; ++l)
        if (taken[l] > 0) samples[l].Resize(taken[l], 1, false);
      counter.assign(count, 0);
      taken.assign(count, 0);
    }
    for (int x = 0; x < nx; ++x)
      for (int y = 0; y < ny; ++y)
        for (int z = 0; z < nz; ++z) {
          const short v = intensity(z, y, x);
          if (v == 0) continue;
          const int l = labels(z, y, x);
          if (l >= count) continue;
          if (++counter[l] % step != 0) continue;
          if (pass == 1) samples[l](taken[l], 0) = v;
          ++taken[l];
        }
  }
}

int CBrainGMM::Fit(const HeapMatrix3D<short>& intensity, const HeapMatrix3D<unsigned char>& labels, int step) {
  std::vector<Matrix2> samples(numMixtures);
  GatherSamples(intensity, labels, samples, numMixtures, step);
  for (int l = 1; l < numMixtures; ++l) {
    if (samples[l].Rows() < 1) continue;
    mixtures[l].InitFromData(numComponents, samples[l]);
    mixtures[l].FitEM(samples[l]);
  }
  return 0;
}
