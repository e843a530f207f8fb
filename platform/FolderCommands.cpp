#include "platform/FolderCommands.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/NativePath.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

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

bool MakeFolder(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::path native(NativePath(path));
  fs::create_directories(native, ec);
  return fs::is_directory(native, ec);
}

bool RemoveFolderTree(const std::string& path) {
  std::string trimmed = Trim(path);
  if (trimmed.empty()) return Refuse(path);
  std::error_code ec;
  fs::path native(NativePath(trimmed));
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
  if (Trim(path).empty()) return false;
  std::error_code ec;
  fs::path native(NativePath(path));
  if (!fs::exists(native, ec)) return true;
  if (fs::is_directory(native, ec)) return false;
  return fs::remove(native, ec) && !ec;
}

int RunFolderCommand(const std::string& commandLine) {
  std::string line = Trim(commandLine);
  size_t end = line.find_first_of(" \t");
  std::string verb = Lower(line.substr(0, end));
  std::string rest = end == std::string::npos ? "" : Trim(line.substr(end));

  // Switches ("/s", "/q", "/f") come before the path.
  while (rest.size() >= 2 && rest[0] == '/' && (rest.size() == 2 || rest[2] == ' ' || rest[2] == '\t') &&
         std::string("sSqQfF").find(rest[1]) != std::string::npos) {
    rest = Trim(rest.substr(2));
  }
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
