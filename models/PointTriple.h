#pragma once
// PointTriple: a list of sparse matrix entries (value, row, column).
//
// Record, little-endian, no padding:
//   int32            count
//   count x int32    rows      (present only when count > 0)
//   count x int32    cols
//   count x float32  values
// Read rejects (false, list unchanged) a negative count, a count whose arrays do not
// fit in the bytes left, and a short record.
#include <cstdint>
#include <vector>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class PointTriple {
 public:
  // Only when n > 0 and n differs from the count: n zero entries replace the list.
  void Resize(int n);
  void Clear();
  // False when index lies outside 0 .. count - 1.
  bool Set(int index, float value, int row, int col);

  int Count() const { return static_cast<int>(values.size()); }

  void Write(BinaryWriter& out) const;
  bool Read(BinaryReader& in);

  std::vector<float> values;
  std::vector<int32_t> rows;
  std::vector<int32_t> cols;
};
