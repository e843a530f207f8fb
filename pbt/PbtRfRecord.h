#pragma once
// The record of a distribution (RF) inside classifier records: the response tables
// of the real and gentle weak learners. The bytes are those of RF::WriteBinary; this
// reader and writer work on the classifier's BinaryReader / BinaryWriter, so the
// record can stand inside a larger one without leaving the cursor behind.
//
//   offset  size  field
//   0       4     rows    int32: 1, or 0 for a distribution without masses
//   4       4     cols    int32: number of masses n (0 without masses)
//   8       8n    masses  float64 each (present only when rows and cols are both >= 1)
//   8+8n    4     bins    int32, 0..n
//   12+8n   8     min     float64, the value of bin 0
//   20+8n   8     width   float64
//
// 8n + 28 bytes. A reader rejects a record that does not fit in the bytes left,
// negative extents, more than one row, and a bin count outside 0..n. It keeps the
// extents as read (so an empty record writes back the same bytes) and touches
// neither the sampling table nor the cumulative vector.
#include "numerics/RF.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

namespace PbtRfRecord {

// Smallest record: no masses.
constexpr int kMinSize = 28;

void write(BinaryWriter& out, const RF& rf);
// Fills `rf` (grid and masses) on success; on failure the reader is failed and `rf`
// is unchanged.
bool read(BinaryReader& in, RF& rf);

}  // namespace PbtRfRecord
