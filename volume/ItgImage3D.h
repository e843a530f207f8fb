#pragma once
// ItgImage3D<T>: the two summed-volume tables of a volume (of its voxel values and of
// their squares) with the volume's extents. Its user builds the tables and records
// the extents itself; this class only holds them.
#include "volume/HeapMatrix3D.h"

template <class T>
class ItgImage3D {
 public:
  ItgImage3D() = default;
  virtual ~ItgImage3D() = default;

  // Both tables become empty; the three extents keep their values.
  virtual void Clear() {
    sums.SetSize(0, 0, 0);
    squares.SetSize(0, 0, 0);
  }

  int xSize = 0;  // columns
  int ySize = 0;  // rows
  int zSize = 0;  // slices
  HeapMatrix3D<T> sums;     // J1(z, y, x): the sum of the voxels at or below (z, y, x)
  HeapMatrix3D<T> squares;  // J2(z, y, x): the same for the squared voxels
};
