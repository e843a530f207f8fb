// Brain3DSampleSet::applyClassifier: the bootstrap masks of a tree node and the
// class-probability maps of an auto-context iteration.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "features/Brain3DSampleSet.h"
#include "features/CaseFiles.h"
#include "features/Object3DSample.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMClassTree.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"
#include "platform/ParallelFor.h"

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

// `place` (a place on the loaded case) moved to the record's voxel.
PbtSample::Place PlaceOf(const VoxelSampleRecord& rec, PbtSample::Place place) {
  place.words[0] = rec.x;
  place.words[1] = rec.y;
  place.words[2] = rec.z;
  return place;
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
  // Per-voxel work is shared among the workers, each with its own copy of the sample;
  // case loads and their draws stay on this thread, in case order.
  const int workers = std::max(1, WorkerCount());
  std::vector<std::unique_ptr<PbtSample>> copies;
  PbtSample::Place place;

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
    // Voxels (z, y, x) visited: from r below d - r in steps of `step` on each axis.
    const int nz = d0 - r > r ? (d0 - 2 * r + step - 1) / step : 0;
    const int ny = d1 - r > r ? (d1 - 2 * r + step - 1) / step : 0;
    const int nx = d2 - r > r ? (d2 - 2 * r + step - 1) / step : 0;
    const auto evaluated = [&](int z, int y, int x) {
      if (!mapMode) return labels[z][y][x] < K && !(useMask && mask[z][y][x] == 0);
      return !(useKnown && known[z][y][x] < K);
    };
    // The voxel's output from `s`, a sample positioned on it (null for a known voxel).
    const auto writeVoxel = [&](PbtSample* s, VectorQo<double>& post, int z, int y, int x) {
      if (!mapMode) {
        if (p.classifier->probability(s) > 0.0f) output[z][y][x] = 1;
        return;
      }
      if (s == nullptr) {
        post = VectorQo<double>(K, 0.0);
        post[known[z][y][x]] = 1.0;
      } else if (tree != nullptr) {
        tree->treePosterior(post, s);
      } else {
        p.classifier->posterior(s, post);
      }
      const int n = post.rows * post.cols;
      double sum = 0.0;
      for (int k = 0; k < n; ++k) sum += post[k];
      for (int k = 0; k < K; ++k) {
        double v = k < n ? post[k] : 0.0;
        if (sum != 0.0) v /= sum;
        maps[static_cast<size_t>(k)][z][y][x] = DoubleToLowByte(v * 255.0);
      }
      if (K == 2) second[z][y][x] = maps[1][z][y][x];
    };
    const auto position = [&](PbtSample* s, int z, int y, int x) {
      const VoxelSampleRecord rec = RecordOf(i, z, y, x);
      s->moveTo(PlaceOf(rec, place));
    };

    // The first evaluated voxel is done here, with the shared sample: that is where the
    // case is loaded (with its random draw), as a one-voxel-at-a-time walk would.
    int first = -1;
    for (int row = 0; row < nz * ny && first < 0; ++row)
      for (int ix = 0; ix < nx; ++ix)
        if (evaluated(r + row / ny * step, r + row % ny * step, r + ix * step)) {
          first = row * nx + ix;
          break;
        }
    bool parallel = false;
    if (first >= 0) {
      const int z = r + first / nx / ny * step, y = r + first / nx % ny * step, x = r + first % nx * step;
      const VoxelSampleRecord rec = RecordOf(i, z, y, x);
      PbtSample* s = setSamplePosition(rec.firstWord(), rec.secondWord());
      writeVoxel(s, posterior, z, y, x);
      parallel = workers > 1 && !s->isCached() && s->getPlace(place) && RefreshWorkerCopies(copies, *s, workers);
    }
    if (first >= 0 && parallel) {
      // The remaining rows on the workers, each with its own copy of the loaded case.
      std::vector<VectorQo<double>> posts(static_cast<size_t>(workers));
      const int rows = nz * ny;
      const int firstRow = first / nx;
      ParallelFor(firstRow, rows, [&](int row, int w) {
        PbtSample* s = copies[static_cast<size_t>(w)].get();
        VectorQo<double>& post = posts[static_cast<size_t>(w)];
        const int z = r + row / ny * step, y = r + row % ny * step;
        for (int ix = row == firstRow ? first % nx + 1 : 0; ix < nx; ++ix) {
          const int x = r + ix * step;
          if (!evaluated(z, y, x)) {
            if (mapMode) writeVoxel(nullptr, post, z, y, x);
            continue;
          }
          position(s, z, y, x);
          writeVoxel(s, post, z, y, x);
        }
      });
      // Known voxels before the first evaluated one.
      if (mapMode)
        for (int v = 0; v < first; ++v)
          writeVoxel(nullptr, posterior, r + v / nx / ny * step, r + v / nx % ny * step, r + v % nx * step);
      // Leave the shared sample where the walk would: on the last evaluated voxel.
      for (int v = nz * ny * nx - 1; v >= first; --v) {
        const int z = r + v / nx / ny * step, y = r + v / nx % ny * step, x = r + v % nx * step;
        if (!evaluated(z, y, x)) continue;
        const VoxelSampleRecord rec = RecordOf(i, z, y, x);
        setSamplePosition(rec.firstWord(), rec.secondWord());
        break;
      }
    } else {
      for (int v = 0; v < nz * ny * nx; ++v) {
        if (v == first) continue;
        const int z = r + v / nx / ny * step, y = r + v / nx % ny * step, x = r + v % nx * step;
        if (!evaluated(z, y, x)) {
          if (mapMode) writeVoxel(nullptr, posterior, z, y, x);
          continue;
        }
        const VoxelSampleRecord rec = RecordOf(i, z, y, x);
        writeVoxel(setSamplePosition(rec.firstWord(), rec.secondWord()), posterior, z, y, x);
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
