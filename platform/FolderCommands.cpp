#include "platform/FolderCommands.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/Fatal.h"
#include "platform/NativePath.h"

namespace fs = std::filesystem;

namespace {

std::function<void(const std::string&)> gFolderWatch;  // test-only

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

bool MakeFolder(const std::string& path, std::vector<std::string>* created, std::string* failure) {
  FatalExitHold hold;
  if (path.empty()) {
    if (failure != nullptr) *failure = std::strerror(ENOENT);
    return false;
  }
  std::error_code ec;
  fs::path native(NativePath(path));
  // The folders that do not exist yet, outermost first.
  std::vector<fs::path> missing;
  for (fs::path p = native; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    // "a/b/" names the folder "a/b", which comes next: each folder is listed once.
    if (p.has_filename()) missing.insert(missing.begin(), p);
    if (p == p.parent_path()) break;
  }
  std::error_code making;
  fs::create_directories(native, making);
  const bool made = fs::is_directory(native, ec);
  if (created != nullptr) {
    // A call that fails half-way has made the outer ones only.
    for (const fs::path& p : missing) {
      if (!fs::is_directory(p, ec)) break;
      created->push_back(p.string());
    }
  }
  if (!made && failure != nullptr) {
    struct stat st {};
    int error = making ? making.value() : stat(native.c_str(), &st) != 0 ? errno : ENOTDIR;
    *failure = std::strerror(error);
  }
  return made;
}

void RemoveEmptyFolders(const std::vector<std::string>& created) {
  if (gFolderWatch) gFolderWatch("RemoveEmptyFolders");
  FatalExitHold hold;
  for (auto p = created.rbegin(); p != created.rend(); ++p) {
    if (rmdir(p->c_str()) != 0) return;  // not empty, gone, or no folder any more
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

bool IsMissingOrEmptyFolder(const std::string& path, std::string* unreadable) {
  if (gFolderWatch) gFolderWatch("IsMissingOrEmptyFolder");
  if (unreadable != nullptr) unreadable->clear();
  auto cannotRead = [unreadable](int error) {
    if (unreadable != nullptr) *unreadable = std::strerror(error);
    return false;
  };
  if (path.empty()) return false;
  const std::string native = NativePath(path);
  struct stat st {};
  if (stat(native.c_str(), &st) != 0) {
    // Nothing there, or a file in the place of a folder on the way (making the folder
    // then fails and says so).
    if (errno == ENOENT || errno == ENOTDIR) return true;
    return cannotRead(errno);
  }
  if (!S_ISDIR(st.st_mode)) return false;
  DIR* folder = opendir(native.c_str());
  if (folder == nullptr) return cannotRead(errno);
  bool empty = true;
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(folder);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(folder);
  return error != 0 ? cannotRead(error) : empty;
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

void WatchFolderStepsForTesting(std::function<void(const std::string& call)> hook) {
  gFolderWatch = std::move(hook);
}
