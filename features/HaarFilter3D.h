#pragma once
// HaarFilter3D: one 3-D Haar pattern, a short list of weighted boxes (HaarCube) placed
// at an offset (front, top, left) inside the sample box, with an extent (depth,
// height, width) along slices, rows and columns.
//
// Types 0 ... 9 are the patterns built by SetType (BuildPattern1 ... BuildPattern9,
// SetSingleBox); type 10 is the special centre-surround filter built by SetBounds.
// Halves of an extent e split at e/2, thirds at e/3 and 2e/3 (integer division):
//
//   type  needs            boxes (weights)
//   0     W >= 2           column halves (+1, -1)
//   1     H >= 2           row halves (+1, -1)
//   2     D >= 2           slice halves (+1, -1)
//   3     W >= 3           column thirds (+1, -2, +1)
//   4     H >= 3           row thirds (+1, -2, +1)
//   5     D >= 3           slice thirds (+1, -2, +1)
//   6     W, H >= 2        (lo x, lo y) +1, (hi x, lo y) -1, (lo x, hi y) -1, (hi x, hi y) +1
//   7     D, H >= 2        (lo y, lo z) +1, (hi y, lo z) -1, (lo y, hi z) -1, (hi y, hi z) +1
//   8     D, W >= 2        (lo x, lo z) +1, (lo x, hi z) -1, (hi x, lo z) -1, (hi x, hi z) +1
//   9     always           the whole extent (+1)
//
// A builder whose condition fails clears `built` and leaves the boxes as they were.
// Construction never fails: an unusable filter shows only through `built` and
// IsDegenerate, and evaluates to 0.
//
// Evaluation allocates nothing: each box costs eight reads of the integral volume and
// uses the stored count.
#include <cstdint>
#include <vector>

#include "features/HaarCube.h"
#include "volume/ItgImage3D.h"

class HaarFilter3D {
 public:
  static constexpr int kSpecialType = 10;

  // No boxes, offsets and extents 0, not built.
  HaarFilter3D() = default;
  // Default, then SetType with the same arguments.
  HaarFilter3D(int type, int front, int top, int left, int depth, int height, int width);
  virtual ~HaarFilter3D() = default;
  HaarFilter3D(const HaarFilter3D&) = default;
  HaarFilter3D& operator=(const HaarFilter3D&) = default;

  // Frees the boxes; numBoxes := 0, built := 0.
  virtual void Clear();
  // Stores type and extents, builds the pattern of the type at offset 0, translates
  // it to (front, top, left), recomputes the counts, stores the offsets; returns
  // `built`. A type outside 0 ... 9 builds nothing and leaves the filter not built.
  virtual bool SetType(int type, int front, int top, int left, int depth, int height, int width);
  // The special filter (type 10): box 0 the whole extent (+1), box 1 the centred inner
  // box (-2). Refused (not built, false) unless every outer extent exceeds the inner
  // one by at least 2.
  virtual bool SetBounds(int front, int top, int left, int depth, int height, int width,
                         int innerDepth, int innerHeight, int innerWidth);
  // Rescales by (slices, rows, columns) factors with rounding trunc(v + 0.5): types
  // 0 ... 9 are rebuilt from scaled offsets and extents; other types scale every box
  // bound, the offsets and the extents.
  virtual void Scale(double sd, double sh, double sw);
  // Mirrors every box on all three axes inside the given extents.
  virtual void Reflect(int depth, int height, int width);
  // HaarCube::Transform on every box.
  virtual void UpdateBoxes(const double m[3][3], const double t[3]);
  // True when the filter must not be used: not built; or its first two boxes are both
  // one voxel thick and adjacent on one axis; or, for the special filter, an axis
  // whose two extents differ by less than 4 (equal column extents pass).
  virtual bool IsDegenerate() const;
  // n boxes of default value; nothing when there are already n boxes.
  virtual void Allocate(int n);
  // n = 1: one box (+1); 2: two boxes (+1, -2); 3: two boxes (+1, -2); 4: three boxes
  // (+1, -2, -2); other n: nothing. Bounds are left as allocated.
  virtual void SetWeights(int n);
  // Moves every box by the difference between (front, top, left) and the stored
  // offsets; the stored offsets are not changed here.
  virtual void Translate(int front, int top, int left);
  virtual void BuildPattern1();
  virtual void BuildPattern2();
  virtual void BuildPattern3();
  virtual void BuildPattern4();
  virtual void BuildPattern5();
  virtual void BuildPattern6();
  virtual void BuildPattern7();
  virtual void BuildPattern8();
  virtual void BuildPattern9();
  // One box covering the whole extent, weight +1; built := 1.
  virtual void SetSingleBox();

  std::vector<HaarCube> boxes;
  int16_t numBoxes = 0;
  int poolPosition = 0;  // position in the sample's filter list (an int: pools of radius 7 pass 32767)
  uint8_t type = 0;
  uint8_t built = 0;
  int16_t front = 0, top = 0, left = 0;       // offset along slices, rows, columns
  int16_t depth = 0, height = 0, width = 0;   // extent along slices, rows, columns

 private:
  // Boxes for the pattern types; each returns false (and clears `built`) when the
  // extents do not allow the pattern.
  bool BuildHalves(int axis);
  bool BuildThirds(int axis);
};

// The filter's weighted box sum with its corner at the box origin (slice z, row y,
// column x) on the intensity table of `J`, using the clamped box sum (corners low - 1
// and high, each held inside the volume, so that a box starting at 0 loses its first
// plane while its count keeps it). Not built, or an empty integral volume: 0.
// Special filter: (S0 - S1)/c0 - S1/c1; other types: sum of S_i * (w_i / c_i) over the
// boxes whose count is not 0.
double EvaluateHaarFilter(const HaarFilter3D& f, const ItgImage3D<double>& J, int z, int y, int x);

// Standard deviation of the intensity inside the filter's first box, placed as above:
// sqrt(mean of squares - mean^2) with the clamped box statistics. Not built, no box,
// an empty integral volume, a box whose clamped corners span no voxel, or a negative
// rounding variance: 0.
double HaarFirstBoxDeviation(const HaarFilter3D& f, const ItgImage3D<double>& J, int z, int y, int x);

// Clamped box sum on one summed-volume table (see EvaluateHaarFilter) for the box with
// inclusive corners (x0, y0, z0) - (x1, y1, z1). The table is not empty.
double ClampedBoxSum(const HeapMatrix3D<double>& table, int x0, int y0, int z0, int x1, int y1, int z1);
