#pragma once
// Kro_FaceOfRegion: one side of a stored boundary face, as seen by the region that owns it.
//
// links[2p] is the next and links[2p + 1] the previous face of the owning region in its
// face list of plane axis p (p = 0, 1, 2); a face of axis a is linked only for the two
// plane axes other than a. `label` is the owning label, or -1 while the side is free.
// Links are face coordinates, never pointers, so a store may move its faces freely.
#include <cstdint>

#include "models/Kro_BndFaceIndex.h"

struct Kro_FaceOfRegion {
  void Reset() {
    for (auto& l : links) l.Reset();
    label = -1;
  }
  bool IsFree() const { return label < 0; }

  Kro_FaceAddress links[6];
  int16_t label = -1;
};
