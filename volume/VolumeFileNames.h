#pragma once
// The name rules of the volume readers and writers. Names are the program's own
// spelling ("\" or "/" as separators); only platform/ turns them into native paths.
#include <string>

#include "numerics/TextFunctions.h"

namespace volume_names {

// The text after the last '.', or the whole name when it has no '.'. Compared exactly
// (case-sensitive) to choose a layout: "a.mx3.3dm" is "3dm", "a.3dm.bak" is "bak".
inline std::string Extension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

// The name without its extension (the text from the last '.' of the file part on); the
// whole name when the file part has no '.' or only blanks are left before it. Names are
// never trimmed: blanks at either end are part of them.
inline std::string WithoutExtension(const std::string& name) {
  size_t sep = name.find_last_of("/\\");
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return name;
  std::string stem = name.substr(0, dot);
  return stem.find_first_not_of(' ') == std::string::npos ? name : stem;
}

// A name split for writing a pair: the folder (the text before the last '/', or
// before the last '\' when that gives nothing) and the file name without its
// extension. `hasFolder` is false when the name holds no separator at all.
struct SplitName {
  std::string folder;
  std::string base;
  bool hasFolder = false;

  // "<folder>/<base><suffix>" with backslashes, or "<base><suffix>" without a folder.
  std::string With(const std::string& suffix) const {
    std::string path = hasFolder ? folder + "/" + base + suffix : base + suffix;
    ToBackslashes(path);
    return path;
  }
};

inline SplitName SplitForWriting(const std::string& name) {
  SplitName split;
  std::string rest = name;
  size_t slash = rest.rfind('/');
  if (slash != std::string::npos) {
    split.hasFolder = true;
    split.folder = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
  }
  if (split.folder.empty()) {
    size_t back = rest.rfind('\\');
    if (back != std::string::npos) {
      split.hasFolder = true;
      split.folder = rest.substr(0, back);
      rest = rest.substr(back + 1);
    }
  }
  size_t dot = rest.rfind('.');
  split.base = dot == std::string::npos ? rest : rest.substr(0, dot);
  return split;
}

}  // namespace volume_names
