#pragma once
// Kro_BndFace: one stored boundary face with its two region sides.
//
// i, j, k are the face's coordinates (-1 in an empty store cell); its axis is the axis
// of the store that holds it. `mark` is a scratch byte for walks; it wraps as an
// unsigned byte and starts at 255 (every bit set).
#include <cstdint>

#include "models/Kro_FaceOfRegion.h"

struct Kro_BndFace {
  Kro_BndFace() = default;
  Kro_BndFace(int i_, int j_, int k_)
      : i(static_cast<int16_t>(i_)), j(static_cast<int16_t>(j_)), k(static_cast<int16_t>(k_)) {}

  bool IsEmpty() const { return i < 0; }
  bool At(int i_, int j_, int k_) const { return i == i_ && j == j_ && k == k_; }
  // Empties a store cell: both sides free, coordinates -1; the mark is kept.
  void ResetCell() {
    sides[0].Reset();
    sides[1].Reset();
    i = j = k = -1;
  }

  // The side owned by `label`, or null; never claims a side.
  Kro_FaceOfRegion* OwnedSide(int label) {
    for (auto& s : sides)
      if (s.label == label) return &s;
    return nullptr;
  }
  // The side owned by `label`; else the first free side, then the second, claimed for
  // `label`; null when both sides belong to other labels.
  Kro_FaceOfRegion* ClaimSide(int label) {
    if (Kro_FaceOfRegion* s = OwnedSide(label)) return s;
    for (auto& s : sides)
      if (s.IsFree()) {
        s.label = static_cast<int16_t>(label);
        return &s;
      }
    return nullptr;
  }

  int16_t i = -1;
  int16_t j = -1;
  int16_t k = -1;
  uint8_t mark = 255;
  Kro_FaceOfRegion sides[2];
};
