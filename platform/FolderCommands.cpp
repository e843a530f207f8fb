#include "platform/FolderCommands.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/Fatal.h"
#include "platform/NativePath.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// True when the path holds nothing but blanks: such a name can only come from an
// empty name formatted into a command, so removal refuses it.
bool AllBlank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

std::string Unquote(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// True when `inner` is `outer` or lies inside it (both absolute and normal).
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
    if (o->empty()) continue;  // a trailing separator
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

bool Refuse(const std::string& path) {
  std::fprintf(stderr, "Refusing to remove folder \"%s\"\n", path.c_str());
  return false;
}

}  // namespace

bool MakeFolder(const std::string& path, std::vector<std::string>* created) {
  FatalExitHold hold;
  if (path.empty()) return false;
  std::error_code ec;
  fs::path native(NativePath(path));
  // The folders that do not exist yet, outermost first.
  std::vector<fs::path> missing;
  for (fs::path p = native; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    // "a/b/" names the folder "a/b", which comes next: each folder is listed once.
    if (p.has_filename()) missing.insert(missing.begin(), p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(native, ec);
  const bool made = fs::is_directory(native, ec);
  if (created != nullptr && made) {
    for (const fs::path& p : missing) created->push_back(p.string());
  }
  return made;
}

void RemoveEmptyFolders(const std::vector<std::string>& created) {
  FatalExitHold hold;
  for (auto p = created.rbegin(); p != created.rend(); ++p) {
    std::error_code ec;
    if (!fs::is_directory(*p, ec) || !fs::is_empty(*p, ec) || ec) return;
    fs::remove(*p, ec);
    if (ec) return;
  }
}

namespace {

// True when `folder` is empty once its empty subfolders are removed (which this does).
bool PruneEmpty(const fs::path& folder) {
  std::error_code ec;
  bool empty = true;
  std::vector<fs::path> subfolders;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      subfolders.push_back(it->path());
    } else {
      empty = false;
    }
  }
  if (ec) return false;
  for (const fs::path& sub : subfolders) {
    if (PruneEmpty(sub) && fs::remove(sub, ec) && !ec) continue;
    empty = false;
  }
  return empty;
}

}  // namespace

void RemoveEmptySubfolders(const std::string& folder) {
  FatalExitHold hold;
  if (folder.empty()) return;
  PruneEmpty(fs::path(NativePath(folder)));
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  if (path.empty() || folder.empty()) return false;
  std::error_code ec;
  const fs::path file = fs::absolute(fs::path(NativePath(path)), ec);
  if (ec || !file.has_filename()) return false;
  const fs::path written = fs::absolute(fs::path(NativePath(folder)), ec);
  if (ec) return false;
  // As written; then with links resolved.
  if (IsWithin(file.lexically_normal(), written.lexically_normal())) return true;
  const fs::path holder = fs::weakly_canonical(file.parent_path(), ec);
  if (ec) return false;
  const fs::path outer = fs::weakly_canonical(written, ec);
  if (ec) return false;
  return IsWithin((holder / file.filename()).lexically_normal(), outer.lexically_normal());
}

bool IsMissingOrEmptyFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::path native(NativePath(path));
  if (!fs::exists(native, ec)) return !ec;
  return fs::is_directory(native, ec) && fs::is_empty(native, ec) && !ec;
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  FatalExitHold hold;
  if (from.empty() || to.empty()) return false;
  std::error_code ec;
  fs::path target(NativePath(to));
  if (fs::is_directory(target, ec)) return false;
  fs::rename(NativePath(from), target, ec);
  return !ec;
}

bool RemoveFolderTree(const std::string& path) {
  FatalExitHold hold;
  if (AllBlank(path)) return Refuse(path);
  std::error_code ec;
  fs::path native(NativePath(path));
  fs::path target = fs::weakly_canonical(fs::absolute(native, ec), ec);
  if (ec) return Refuse(path);
  target = target.lexically_normal();
  fs::path cwd = fs::current_path(ec).lexically_normal();
  if (target == target.root_path() || target.relative_path().empty()) return Refuse(path);
  if (!ec && IsWithin(cwd, target)) return Refuse(path);
  if (!fs::exists(native, ec)) return true;
  if (!fs::is_directory(native, ec)) return false;
  fs::remove_all(native, ec);
  return !ec;
}

bool DeleteFileAt(const std::string& path) {
  FatalExitHold hold;
  if (AllBlank(path)) return false;
  std::error_code ec;
  fs::path native(NativePath(path));
  if (!fs::exists(native, ec)) return true;
  if (fs::is_directory(native, ec)) return false;
  return fs::remove(native, ec) && !ec;
}

int RunFolderCommand(const std::string& commandLine) {
  // "<verb> <switches> <path>": one blank after the verb and after each switch; the
  // path is the rest of the line exactly as given, blanks included.
  const size_t end = commandLine.find(' ');
  const std::string verb = Lower(commandLine.substr(0, end));
  std::string rest = end == std::string::npos ? "" : commandLine.substr(end + 1);
  const bool removal = verb == "rmdir" || verb == "rd" || verb == "del" || verb == "erase";
  while (removal && rest.size() >= 3 && rest[0] == '/' && rest[2] == ' ' &&
         std::string("sSqQfF").find(rest[1]) != std::string::npos) {
    rest = rest.substr(3);
  }
  if (removal && rest.size() == 2 && rest[0] == '/' && std::string("sSqQfF").find(rest[1]) != std::string::npos)
    rest.clear();  // switches and no path
  std::string path = Unquote(rest);

  bool ok = false;
  if (verb == "mkdir" || verb == "md") {
    ok = MakeFolder(path);
  } else if (verb == "rmdir" || verb == "rd") {
    ok = RemoveFolderTree(path);
  } else if (verb == "del" || verb == "erase") {
    ok = DeleteFileAt(path);
  } else {
    std::fprintf(stderr, "Unknown folder command \"%s\"\n", commandLine.c_str());
  }
  return ok ? 0 : 1;
}
