#include "platform/FileSearch.h"

#include <algorithm>
#include <filesystem>
#include <set>

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

std::vector<std::string> FilesUnder(const std::string& folder, std::vector<std::string>* linkedFolders) {
  std::vector<std::string> files;
  std::error_code ec;
  const fs::path root(NativePath(folder));
  const fs::path rootResolved = fs::canonical(root, ec);
  if (ec || !fs::is_directory(rootResolved, ec)) return files;

  // Folders still to list, by the relative path the walk reached them under; the walk is
  // depth-first in byte order. `visited` holds the resolved path of every folder listed.
  std::vector<std::string> pending = {""};
  std::set<fs::path> visited;
  while (!pending.empty()) {
    const std::string relative = pending.back();
    pending.pop_back();
    const fs::path here = relative.empty() ? root : root / relative;
    const fs::path resolved = fs::canonical(here, ec);
    if (ec || !visited.insert(resolved).second) continue;
    const bool throughLink = !relative.empty() && fs::is_symlink(here, ec);
    if (throughLink && linkedFolders != nullptr) linkedFolders->push_back(resolved.string());

    std::vector<std::string> names, subfolders;
    fs::directory_iterator it(here, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = relative.empty() ? name : relative + "/" + name;
      std::error_code kind;
      const fs::file_status status = fs::status(root / path, kind);  // links followed
      if (fs::is_regular_file(status)) files.push_back(folder + "/" + path);
      if (fs::is_directory(status)) subfolders.push_back(path);
    }
    // Reversed onto the stack, so the first name is listed next.
    pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
  }
  std::sort(files.begin(), files.end());
  return files;
}
