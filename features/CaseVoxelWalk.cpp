#include "features/CaseVoxelWalk.h"

#include <algorithm>

#include "features/Brain3DSampleSet.h"
#include "features/VoxelSampleRecord.h"
#include "platform/Conversions.h"
#include "platform/ParallelFor.h"

namespace {

VoxelSampleRecord RecordOf(int i, const CaseVoxelWalk::Voxel& v) {
  VoxelSampleRecord r;
  r.caseNumber = LowShort(i);
  r.z = LowShort(v.z);
  r.y = LowShort(v.y);
  r.x = LowShort(v.x);
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

CaseVoxelWalk::Grid::Grid(int d0, int d1, int d2, int border, int step) : border(border), step(step) {
  const int r = border;
  nz = d0 - r > r ? (d0 - 2 * r + step - 1) / step : 0;
  ny = d1 - r > r ? (d1 - 2 * r + step - 1) / step : 0;
  nx = d2 - r > r ? (d2 - 2 * r + step - 1) / step : 0;
}

CaseVoxelWalk::CaseVoxelWalk(Brain3DSampleSet& set) : set_(set), workers_(std::max(1, WorkerCount())) {}

PbtSample* CaseVoxelWalk::positionSharedSample(int caseNumber, const Voxel& v) {
  const VoxelSampleRecord rec = RecordOf(caseNumber, v);
  return set_.setSamplePosition(rec.firstWord(), rec.secondWord());
}

int CaseVoxelWalk::firstEvaluated(const Grid& grid, const Visitor& visitor) {
  for (int v = 0; v < grid.count(); ++v)
    if (visitor.evaluated(grid.at(v))) return v;
  return -1;
}

void CaseVoxelWalk::run(int caseNumber, const Grid& grid, Visitor& visitor) {
  const int first = firstEvaluated(grid, visitor);
  bool parallel = false;
  if (first >= 0) {
    PbtSample* s = positionSharedSample(caseNumber, grid.at(first));
    visitor.write(s, posterior_, grid.at(first));
    parallel =
        workers_ > 1 && !s->isCached() && s->getPlace(place_) && RefreshWorkerCopies(copies_, *s, workers_);
  }
  if (parallel)
    runOnWorkers(caseNumber, grid, first, visitor);
  else
    runInOrder(caseNumber, grid, first, visitor);
}

void CaseVoxelWalk::runOnWorkers(int caseNumber, const Grid& grid, int first, Visitor& visitor) {
  std::vector<VectorQo<double>> posts(static_cast<size_t>(workers_));
  const int firstRow = first / grid.nx;
  ParallelFor(firstRow, grid.rows(), [&](int row, int w) {
    PbtSample* s = copies_[static_cast<size_t>(w)].get();
    VectorQo<double>& post = posts[static_cast<size_t>(w)];
    for (int ix = row == firstRow ? first % grid.nx + 1 : 0; ix < grid.nx; ++ix) {
      const Voxel v = grid.at(row * grid.nx + ix);
      if (!visitor.evaluated(v)) {
        visitor.write(nullptr, post, v);
        continue;
      }
      s->moveTo(PlaceOf(RecordOf(caseNumber, v), place_));
      visitor.write(s, post, v);
    }
  });
  // The voxels before the first evaluated one are not evaluated.
  for (int v = 0; v < first; ++v) visitor.write(nullptr, posterior_, grid.at(v));
  // Leave the shared sample where the walk in order would: on the last evaluated voxel.
  for (int v = grid.count() - 1; v >= first; --v) {
    if (!visitor.evaluated(grid.at(v))) continue;
    positionSharedSample(caseNumber, grid.at(v));
    break;
  }
}

void CaseVoxelWalk::runInOrder(int caseNumber, const Grid& grid, int first, Visitor& visitor) {
  for (int v = 0; v < grid.count(); ++v) {
    if (v == first) continue;
    const Voxel voxel = grid.at(v);
    if (!visitor.evaluated(voxel)) {
      visitor.write(nullptr, posterior_, voxel);
      continue;
    }
    visitor.write(positionSharedSample(caseNumber, voxel), posterior_, voxel);
  }
}
