#pragma once
// The checks of the training sample sets on the volumes of a training case: a volume
// must have the extents of its case (else the case is reported in one line and
// skipped), and a volume the set writes must be written (else the run ends).
#include <cstdio>
#include <string>

#include "platform/Fatal.h"
#include "volume/HeapMatrix3D.h"

namespace case_volume_checks {

// True when `a` holds voxels and has the extents of `b`.
template <class A, class B>
bool SameExtents(const HeapMatrix3D<A>& a, const HeapMatrix3D<B>& b) {
  return a.NumElements() > 0 && a.dim0() == b.dim0() && a.dim1() == b.dim1() && a.dim2() == b.dim2();
}

// Writes the volume or ends the run with "Unable to write <name>" (status 1): a
// training data set with a missing volume would be read as a different one.
inline void SaveOrDie(const HeapMatrix3D<unsigned char>& volume, const std::string& name) {
  if (!volume.Save(name)) FatalExit(1, "Unable to write " + name + "\n");
}

// The one line for a volume that does not fit its case.
inline void ReportSkippedCase(const std::string& name, int i) {
  std::printf("%s does not have the extents of case %d; case skipped\n", name.c_str(), i);
}

}  // namespace case_volume_checks
