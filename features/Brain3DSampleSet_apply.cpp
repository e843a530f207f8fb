// Brain3DSampleSet::applyClassifier: the bootstrap masks of a tree node and the
// class-probability maps of an auto-context iteration.
#include <cstdio>
#include <string>
#include <vector>

#include "features/Brain3DSampleSet.h"
#include "features/CaseFiles.h"
#include "features/Object3DSample.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMClassTree.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"

using namespace case_files;

namespace {

VoxelSampleRecord RecordOf(int i, int z, int y, int x) {
  VoxelSampleRecord r;
  r.caseNumber = LowShort(i);
  r.z = LowShort(z);
  r.y = LowShort(y);
  r.x = LowShort(x);
  return r;
}

}  // namespace

void Brain3DSampleSet::applyClassifier(EdgSampleSetParams& p, const char* suffix) {
  const bool mapMode = p.loaded == 0;
  const int count = p.loaded == 1 ? p.numTrain : p.numCases;
  if (count <= 0 || p.classifier == nullptr) return;
  ensureSample(p);

  const int K = p.numClasses > 0 ? p.numClasses : 0;
  const int r = p.radius;
  const std::string data = Text(p.dataFolder);
  const std::string out = Text(p.outFolder);
  const std::string parent = ParentOf(out);
  const std::string suffixText = Text(suffix);

  std::vector<HeapMatrix3D<unsigned char>> maps;
  HeapMatrix3D<unsigned char> known;
  bool useKnown = false;
  const std::string knownName = FormatText("%s/known.3dm", data.c_str());
  if (mapMode) {
    maps.resize(static_cast<size_t>(K));
    known.Load(knownName);
    useKnown = known.NumElements() > 0;
  }
  PbtMClassTree* tree = dynamic_cast<PbtMClassTree*>(p.classifier);
  VectorQo<double> posterior;

  for (int i = 0; i < count; ++i) {
    if (mapMode) {
      std::printf("%d", i);
      std::fflush(stdout);
    }
    HeapMatrix3D<unsigned char> volume;
    if (!volume.Load(CaseFile(data, i, ".3dm")) || volume.NumElements() == 0) continue;

    HeapMatrix3D<unsigned char> labels, mask;
    bool useMask = false;
    if (!mapMode) {
      const std::string labelName = CaseFile(data, i, "_label.3dm");
      labels.Load(labelName);
      if (!SameExtents(labels, volume)) {
        ReportSkippedCase(labelName, i);
        continue;
      }
      const std::string maskName = CaseFile(parent, i, suffixText.c_str());
      mask.Load(maskName);
      useMask = mask.NumElements() > 0;
      if (useMask && !SameExtents(mask, volume)) {
        ReportSkippedCase(maskName, i);
        continue;
      }
    } else if (useKnown && !SameExtents(known, volume)) {
      ReportSkippedCase(knownName, i);
      continue;
    }

    const int d0 = volume.dim0(), d1 = volume.dim1(), d2 = volume.dim2();
    HeapMatrix3D<unsigned char> output, second;
    if (mapMode) {
      for (int k = 0; k < K; ++k) {
        maps[static_cast<size_t>(k)].SetSize(d0, d1, d2);
        maps[static_cast<size_t>(k)].Fill(k == 0 ? 255 : 0);
      }
      if (K == 2) second.SetSize(d0, d1, d2);
    } else {
      output.SetSize(d0, d1, d2);
    }

    const int step = p.loaded == 1 ? 1 : 2;
    for (int z = r; z < d0 - r; z += step) {
      for (int y = r; y < d1 - r; y += step) {
        for (int x = r; x < d2 - r; x += step) {
          if (!mapMode) {
            if (labels[z][y][x] >= K) continue;
            if (useMask && mask[z][y][x] == 0) continue;
            const VoxelSampleRecord rec = RecordOf(i, z, y, x);
            PbtSample* s = setSamplePosition(rec.firstWord(), rec.secondWord());
            if (p.classifier->probability(s) > 0.0f) output[z][y][x] = 1;
            continue;
          }
          if (useKnown && known[z][y][x] < K) {
            posterior = VectorQo<double>(K, 0.0);
            posterior[known[z][y][x]] = 1.0;
          } else {
            const VoxelSampleRecord rec = RecordOf(i, z, y, x);
            PbtSample* s = setSamplePosition(rec.firstWord(), rec.secondWord());
            if (tree != nullptr) {
              tree->treePosterior(posterior, s);
            } else {
              p.classifier->posterior(s, posterior);
            }
          }
          const int n = posterior.rows * posterior.cols;
          double sum = 0.0;
          for (int k = 0; k < n; ++k) sum += posterior[k];
          for (int k = 0; k < K; ++k) {
            double v = k < n ? posterior[k] : 0.0;
            if (sum != 0.0) v /= sum;
            maps[static_cast<size_t>(k)][z][y][x] = DoubleToLowByte(v * 255.0);
          }
          if (K == 2) second[z][y][x] = maps[1][z][y][x];
        }
      }
    }

    if (!mapMode) {
      SaveOrDie(output, CaseFile(out, i, suffixText.c_str()));
      continue;
    }
    if (K == 2) SaveOrDie(second, FormatText("%s/I%05i_prob.3dm", out.c_str(), i));
    for (int k = 0; k < K; ++k) {
      SaveOrDie(maps[static_cast<size_t>(k)], FormatText("%s/I%05i_%d_prob.3dm", out.c_str(), i, k));
      SaveOrDie(maps[static_cast<size_t>(k)], FormatText("%s/I%05i_%d_prob.3dm", data.c_str(), i, k));
    }
  }
}
