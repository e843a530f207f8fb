#pragma once
// The names a voxel sample set is handed, as text: the folder pointers of its
// parameter record and the mask ending of applyClassifier (any of them may be null),
// and the folder of the parent node of a tree node's folder.
#include <string>

namespace sample_set_names {

// The text of a name pointer; empty for null.
inline std::string NameText(const char* name) { return name != nullptr ? name : ""; }

// The folder of the parent node: a node's folder is "<parent>\<i>_<j>", so this is the
// text before the last '\' (empty when the folder holds none).
inline std::string ParentNodeFolder(const std::string& folder) {
  const size_t back = folder.rfind('\\');
  return back == std::string::npos ? std::string() : folder.substr(0, back);
}

}  // namespace sample_set_names
