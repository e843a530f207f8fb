#pragma once
// A box of a volume with inclusive corners: x along the columns (last extent),
// y along the rows, z along the slices (first extent). An empty box is marked by
// a lower corner of 9999 and an upper corner of -1 before it is grown.

struct SubVolume {
  SubVolume() = default;
  SubVolume(int x0_, int y0_, int z0_, int x1_, int y1_, int z1_)
      : x0(x0_), y0(y0_), z0(z0_), x1(x1_), y1(y1_), z1(z1_) {}

  // This box becomes its intersection with `other`; when they do not overlap, a low
  // corner ends up above the high corner on some axis.
  void Intersect(const SubVolume& other) {
    if (other.x0 > x0) x0 = other.x0;
    if (other.y0 > y0) y0 = other.y0;
    if (other.z0 > z0) z0 = other.z0;
    if (other.x1 < x1) x1 = other.x1;
    if (other.y1 < y1) y1 = other.y1;
    if (other.z1 < z1) z1 = other.z1;
  }

  int x0 = 0;
  int y0 = 0;
  int z0 = 0;
  int x1 = 0;
  int y1 = 0;
  int z1 = 0;
};
