#pragma once
// Names and checks shared by the training sample sets for the volumes of the training
// data set: "<folder>/I%05i<suffix>" per case (layout::CaseFile), all read and written
// by extension.
#include <cstdio>
#include <string>

#include "platform/Fatal.h"
#include "volume/FolderLayout.h"
#include "volume/HeapMatrix3D.h"

namespace case_files {

inline std::string Text(const char* s) { return s != nullptr ? s : ""; }
inline std::string Text(const std::string& s) { return s; }

using layout::CaseFile;
using layout::CaseMapFile;

// The text of a folder name before its last '\' (empty when it holds none).
inline std::string ParentOf(const std::string& folder) {
  const size_t back = folder.rfind('\\');
  return back == std::string::npos ? std::string() : folder.substr(0, back);
}

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

}  // namespace case_files
