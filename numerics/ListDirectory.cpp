#include "numerics/ListDirectory.h"

#include "numerics/TextFunctions.h"
#include "platform/FileSearch.h"

void ListDirectory(const std::string& folder, const std::string& suffix, std::vector<McString>& out,
                   std::vector<std::string>* tooLong) {
  out.clear();
  if (tooLong != nullptr) tooLong->clear();
  if (suffix.empty()) return;
  const char last = suffix.back();
  for (const std::string& name : FindFiles(folder + "/*" + suffix)) {
    if (name == "." || name == "..") continue;
    if (name.back() != last && last != '*' && last != '.') continue;
    std::string path = folder + "/" + name;
    ToBackslashes(path);
    if (name.size() > kMaxListedName) {
      if (tooLong != nullptr) tooLong->push_back(path);
      continue;
    }
    out.emplace_back(path);
  }
}
