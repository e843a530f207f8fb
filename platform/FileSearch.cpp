#include "platform/FileSearch.h"

#include <algorithm>
#include <filesystem>

#include "platform/NativePath.h"

namespace fs = std::filesystem;

bool WildcardMatch(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<std::string> FindFiles(const std::string& pattern) {
  std::vector<std::string> names;
  std::string native = NativePath(pattern);
  size_t cut = native.find_last_of('/');
  std::string folder = cut == std::string::npos ? "." : native.substr(0, cut);
  std::string wildcard = cut == std::string::npos ? native : native.substr(cut + 1);
  if (folder.empty()) folder = "/";

  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (name == "." || name == "..") continue;
    if (WildcardMatch(wildcard, name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> FilesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  const fs::path root(NativePath(folder));
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code kind;
    if (it->is_regular_file(kind)) files.push_back(folder + "/" + it->path().lexically_relative(root).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}
