#pragma once
// VoxelSampleRecord: the 8-byte sample position that the training sample sets store
// per sample and hand to the voxel sample.
//
// Stored form: four int16, little-endian, in this order: case number, slice z, row y,
// column x (no padding). The case number is signed: the stored 65535 reads as -1,
// which equals the voxel sample's "no case loaded" value, so a record with that case
// keeps the volumes the sample already holds.
#include <cstdint>

struct VoxelSampleRecord {
  int16_t caseNumber = 0;
  int16_t z = 0;  // slice
  int16_t y = 0;  // row
  int16_t x = 0;  // column

  // The two 32-bit words of the packed form: case | z << 16 and y | x << 16. Each half
  // is masked to 16 bits so that a negative low half never spills into the high one.
  uint32_t firstWord() const {
    return static_cast<uint32_t>(static_cast<uint16_t>(caseNumber)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(z)) << 16);
  }
  uint32_t secondWord() const {
    return static_cast<uint32_t>(static_cast<uint16_t>(y)) | (static_cast<uint32_t>(static_cast<uint16_t>(x)) << 16);
  }
  static VoxelSampleRecord FromWords(uint32_t first, uint32_t second) {
    VoxelSampleRecord r;
    r.caseNumber = static_cast<int16_t>(static_cast<uint16_t>(first & 0xFFFFu));
    r.z = static_cast<int16_t>(static_cast<uint16_t>(first >> 16));
    r.y = static_cast<int16_t>(static_cast<uint16_t>(second & 0xFFFFu));
    r.x = static_cast<int16_t>(static_cast<uint16_t>(second >> 16));
    return r;
  }
};
static_assert(sizeof(VoxelSampleRecord) == 8, "VoxelSampleRecord is four int16");
