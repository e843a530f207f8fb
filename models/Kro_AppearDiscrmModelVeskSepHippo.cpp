#include "models/Kro_AppearDiscrmModelVeskSepHippo.h"

#include <cmath>
#include <cstdio>

#include "features/Object3DSample.h"
#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

bool Kro_AppearDiscrmModelVeskSepHippo::Load(const std::string& folder, int n, int r) {
  if (!LoadSingleTree(folder, n, r)) return false;
  const std::string hipPath = layout::InFolder(folder, layout::kHippoClassifier);
  std::FILE* probe = OpenFile(hipPath, "r");
  bool hipRead = false;
  if (probe != nullptr) {
    std::fclose(probe);
    hipRead = LoadTree(hipClassifier, hipPath);
    if (!hipRead) std::printf("warning: hippocampus classifier not used\n");
  }
  BuildProvider(n, r);
  if (hipRead && !CheckTreeFeatures(hipClassifier, hipPath)) {
    // Emptied: without a posterior the combination leaves the hip tree out.
    hipClassifier.deleteChildren();
    delete hipClassifier.nodeClassifier;
    hipClassifier.nodeClassifier = nullptr;
    hipClassifier.classPosterior = VectorQo<double>();
    std::printf("warning: hippocampus classifier not used\n");
  }
  return FinishLoad(folder);
}

void Kro_AppearDiscrmModelVeskSepHippo::Combine(VectorQo<double>& p, const VectorQo<double>* q) {
  if (ElementCount(p) < 7) return;
  if (p[0] >= 0.97 || std::isnan(p[0])) return;
  p[5] *= 1.4;
  p[6] *= 1.3;
  p[0] *= 0.8;
  const double sum = p.Sum();
  if (sum != 0.0) p = p / sum;
  if (q == nullptr || ElementCount(*q) < 3) return;
  const double r = 1.0 - p[1] - p[2];
  p[1] = 1.2 * (*q)[1];
  p[2] = 1.2 * (*q)[2];
  const double rest = 1.0 - p[1] - p[2];
  const float t = static_cast<float>(rest > 0.0 ? rest : 0.0);
  if (r > 0.0) {
    for (int i = 0; i < ElementCount(p); ++i)
      if (i != 1 && i != 2) p[i] = t * p[i] / r;
  }
}

void Kro_AppearDiscrmModelVeskSepHippo::EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch,
                                                          VectorQo<double>& out, int z, int y, int x, int) const {
  if (!InnerTreePosterior(classifier, sample, scratch, out, z, y, x)) return;
  if (ElementCount(hipClassifier.classPosterior) > 0) {
    VectorQo<double> q;
    hipClassifier.treePosterior(q, &sample);
    Combine(out, &q);
  } else {
    Combine(out, nullptr);
  }
}
