#pragma once
// PbtFid: the identifier of one feature. The classifier library never computes a
// feature itself; it names one by a PbtFid, asks a sample for its value and stores
// the PbtFid of every feature it uses inside its trained weak classifiers.
//
// A PbtFid is a plain value (copying copies every field, all 100 description bytes
// included). `poolIndex` is the feature's position in the pool of the sample it was
// taken from and the row of the feature cache; -1 until a sample set numbers the pool.
//
// Record inside the classifier model files: 143 bytes, little-endian, no padding.
//
//   offset size field
//   0      1    kind         u8, the family letter as an ASCII code (0 = no feature)
//   1      100  description  the text, a NUL, then zero bytes (readers ignore them)
//   101    24   params[6]    int32 each
//   125    4    index        int32
//   129    4    subtype      int32
//   133    6    offset[3]    int16 each: depth, height, width
//   139    4    poolIndex    int32, -1 = not numbered
//
// The record carries no tag, length or version; it stands inside the record of the
// classifier that owns it. A reader rejects a record that does not fit in the bytes
// left and a description without a NUL inside its 100 bytes.
#include <cstdint>

#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"

class PbtFid {
 public:
  static constexpr int kDescriptionSize = 100;
  static constexpr int kRecordSize = 143;

  // kind 0, description "NONE", every parameter 0, poolIndex -1.
  PbtFid();

  // Sets the description. False (and nothing changes) when the text does not fit in
  // the 100-byte field with its terminator, i.e. when it has more than 99 characters.
  bool setDescription(const char* text);
  const char* getDescription() const { return description; }

  // Appends the 143-byte record.
  void write(BinaryWriter& out) const;
  // Reads a 143-byte record. On failure (short record, unterminated description)
  // returns false and leaves this identifier unchanged.
  bool read(BinaryReader& in);

  uint8_t kind;
  char description[kDescriptionSize];  // always NUL-terminated
  int32_t params[6];
  int32_t index;
  int32_t subtype;
  int16_t offset[3];  // depth, height, width
  int32_t poolIndex;
};
