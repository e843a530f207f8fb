#pragma once
// HaarCube: one weighted box of a 3-D Haar filter. Bounds are inclusive and relative
// to the filter's corner inside the sample box: x along columns, y along rows, z along
// slices.
//
// Stream record (Write/Read), 18 bytes, little-endian, no padding:
//
//   offset size field
//   0      2    x0      int16
//   2      2    x1      int16
//   4      2    y0      int16
//   6      2    y1      int16
//   8      2    z0      int16
//   10     2    z1      int16
//   12     4    weight  float32
//   16     2    count   int16 (the low 16 bits of the voxel count)
//
// In memory the count is an int, so boxes of more than 32767 voxels keep their true
// count. A reader rejects a short record and a record whose count field is not the
// low 16 bits of the count its bounds give; on failure the box is left unchanged.
#include <cstdint>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class HaarCube {
 public:
  static constexpr int kRecordSize = 18;

  HaarCube() = default;
  virtual ~HaarCube() = default;
  HaarCube(const HaarCube&) = default;
  HaarCube& operator=(const HaarCube&) = default;

  virtual void Write(BinaryWriter& out) const;
  virtual bool Read(BinaryReader& in);
  // The eight integral-volume corners of the box as (x, y, z) triples, in the order
  // (x0-1, y0-1, z0-1), (x1, y0-1, z0-1), (x0-1, y1, z0-1), (x0-1, y0-1, z1),
  // (x1, y1, z0-1), (x0-1, y1, z1), (x1, y0-1, z1), (x1, y1, z1).
  virtual void GetCorners(int16_t corners[24]) const;
  // Maps each of the eight box corners to m * (x, y, z) + t (rows of m give x, y, z),
  // rounds each coordinate as trunc(v + 0.5), and becomes the bounding box of the
  // results; the count is recomputed.
  virtual void Transform(const double m[3][3], const double t[3]);

  // count := (x1-x0+1)(y1-y0+1)(z1-z0+1), or 0 when any range is empty.
  void UpdateCount() { count = VoxelCount(x0, x1, y0, y1, z0, z1); }
  static int VoxelCount(int x0, int x1, int y0, int y1, int z0, int z1);

  int16_t x0 = 0, x1 = 0;
  int16_t y0 = 0, y1 = 0;
  int16_t z0 = 0, z1 = 0;
  int count = 0;
  float weight = 0.0f;
};
