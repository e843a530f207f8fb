#pragma once
// CaseVoxelWalk: the walk of Brain3DSampleSet::applyClassifier over the voxels of one
// case, shared by its two modes (bootstrap masks and probability maps).
//
// Voxels: a Grid numbers the voxels (z, y, x) from `border` up to below each extent
// minus `border`, in steps of `step` on each axis, slice by slice, row by row, column
// by column; Grid::at is the one decoding of such a number.
//
// Order and threads: the first voxel the visitor evaluates is positioned with the
// set's shared sample on the calling thread: that is where the case is loaded (with its
// random draw), as a walk of one voxel at a time would. When the shared sample can hand
// out worker copies (it is not cached, knows its place and can be copied) and there is
// more than one worker, the rest of the grid runs on the workers (ParallelFor, one row
// an item), each worker with its own copy of the sample and its own posterior scratch;
// the shared sample is then moved to the last evaluated voxel, where a one-at-a-time
// walk leaves it. Otherwise every voxel is visited in order on the calling thread with
// the shared sample.
//
// The visitor's write may run on the workers: it writes only the outputs of its voxel,
// draws nothing and opens no file (the ParallelFor contract).
#include <memory>
#include <vector>

#include "numerics/VectorQo.h"
#include "pbt/PbtSample.h"

class Brain3DSampleSet;

class CaseVoxelWalk {
 public:
  struct Voxel {
    int z, y, x;
  };

  struct Grid {
    // The grid of a volume of extents d0 x d1 x d2 (slices, rows, columns).
    Grid(int d0, int d1, int d2, int border, int step);
    int rows() const { return nz * ny; }
    int count() const { return nz * ny * nx; }
    // Voxel number v (row v / nx, column v % nx); v is not checked.
    Voxel at(int v) const { return {border + v / nx / ny * step, border + v / nx % ny * step, border + v % nx * step}; }

    int border, step;
    int nz, ny, nx;  // voxels per axis
  };

  class Visitor {
   public:
    virtual ~Visitor() = default;
    // True when the voxel is classified; a voxel that is not gets write(nullptr, ...).
    virtual bool evaluated(const Voxel& v) const = 0;
    // The voxel's output from `sample`, positioned on it, or (null) from nothing but the
    // voxel itself. `post` is the scratch of the calling thread or of the worker.
    virtual void write(PbtSample* sample, VectorQo<double>& post, const Voxel& v) = 0;
  };

  // Walks with `set`'s shared sample; the worker count is read once, here.
  explicit CaseVoxelWalk(Brain3DSampleSet& set);

  // Visits every voxel of the grid of case `caseNumber` (see above).
  void run(int caseNumber, const Grid& grid, Visitor& visitor);

 private:
  PbtSample* positionSharedSample(int caseNumber, const Voxel& v);
  // The number of the first evaluated voxel, -1 when there is none.
  static int firstEvaluated(const Grid& grid, const Visitor& visitor);
  // Everything after voxel `first` on the workers, then the voxels before it.
  void runOnWorkers(int caseNumber, const Grid& grid, int first, Visitor& visitor);
  // Every voxel but `first` in order with the shared sample.
  void runInOrder(int caseNumber, const Grid& grid, int first, Visitor& visitor);

  Brain3DSampleSet& set_;
  const int workers_;
  std::vector<std::unique_ptr<PbtSample>> copies_;  // one per worker, kept across cases
  PbtSample::Place place_;                          // the shared sample's place on the case
  VectorQo<double> posterior_;                      // scratch of the calling thread
};
