#pragma once
// Kro_BndFaceIndex<T>: the address of a boundary face, or a step to a neighbouring face.
//
// With T = int16_t it names a face absolutely: the face of `axis` at (i, j, k) separates
// voxel (i, j, k) - e_axis (its before voxel) from voxel (i, j, k) (its after voxel).
// With T = int8_t it is a relative step: the axis of the next face and the offsets to
// add to the current face's coordinates. axis -1 means "no face" (the reset state).
#include <cstdint>

template <class T>
struct Kro_BndFaceIndex {
  Kro_BndFaceIndex() = default;
  Kro_BndFaceIndex(int a, int i_, int j_, int k_)
      : axis(static_cast<int8_t>(a)), i(static_cast<T>(i_)), j(static_cast<T>(j_)), k(static_cast<T>(k_)) {}

  void Reset() {
    axis = -1;
    i = j = k = static_cast<T>(-1);
  }
  bool IsFace() const { return axis >= 0; }
  // Whether this index names the face (a, i, j, k).
  bool Is(int a, int i_, int j_, int k_) const { return axis == a && i == i_ && j == j_ && k == k_; }
  bool operator==(const Kro_BndFaceIndex& o) const {
    return axis == o.axis && i == o.i && j == o.j && k == o.k;
  }
  bool operator!=(const Kro_BndFaceIndex& o) const { return !(*this == o); }

  int8_t axis = -1;
  T i = static_cast<T>(-1);
  T j = static_cast<T>(-1);
  T k = static_cast<T>(-1);
};

using Kro_FaceAddress = Kro_BndFaceIndex<int16_t>;
using Kro_FaceStep = Kro_BndFaceIndex<int8_t>;
