#include "numerics/ListDirectory.h"

#include "numerics/TextFunctions.h"
#include "platform/FileSearch.h"

void ListDirectory(const std::string& folder, const std::string& suffix, std::vector<McString>& out) {
  out.clear();
  if (suffix.empty()) return;
  const char last = suffix.back();
  for (const std::string& name : FindFiles(folder + "/*" + suffix)) {
    if (name.size() >= 200 || name == "." || name == "..") continue;
    if (name.back() != last && last != '*' && last != '.') continue;
    std::string path = folder + "/" + name;
    out.emplace_back(ToBackslashes(path));
  }
}
