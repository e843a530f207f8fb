#include "platform/NativePath.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "platform/Fatal.h"

namespace {
std::vector<std::string>* gInputOpenSink = nullptr;
}  // namespace

void RecordInputOpensForTesting(std::vector<std::string>* sink) { gInputOpenSink = sink; }

std::string NativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  if (path.empty()) return nullptr;
  if (gInputOpenSink && mode && std::strchr(mode, 'r')) gInputOpenSink->push_back(path);
  // An open that may create a file is a held step (see FatalExitHold).
  const bool creates = mode != nullptr && std::strpbrk(mode, "wa+") != nullptr;
  if (!creates) return std::fopen(NativePath(path).c_str(), mode);
  FatalExitHold hold;
  return std::fopen(NativePath(path).c_str(), mode);
}

bool OpenInputStream(std::ifstream& in, const std::string& path, std::ios::openmode mode) {
  if (path.empty()) return false;
  if (gInputOpenSink) gInputOpenSink->push_back(path);
  in.open(NativePath(path), mode);
  return in.is_open();
}

bool OpenOutputStream(std::ofstream& out, const std::string& path, std::ios::openmode mode) {
  if (path.empty()) return false;
  FatalExitHold hold;
  out.open(NativePath(path), mode);
  return out.is_open();
}

bool PathExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::exists(NativePath(path), ec);
}

bool IsRegularFile(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(NativePath(path), ec);
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::error_code ec;
  const bool same = std::filesystem::equivalent(NativePath(a), NativePath(b), ec);
  return same && !ec;
}

std::string CreateUniqueFile(const std::string& prefix, const std::string& suffix) {
  const std::string pid = std::to_string(static_cast<long long>(getpid()));
  FatalExitHold hold;
  for (int n = 0; n < 100; ++n) {
    const std::string name = prefix + pid + "-" + std::to_string(n) + suffix;
    // "x": the open fails when anything exists under the name.
    std::FILE* f = std::fopen(NativePath(name).c_str(), "wbx");
    if (f != nullptr) {
      if (std::fclose(f) == 0) return name;
      std::remove(NativePath(name).c_str());
      return "";
    }
    if (errno != EEXIST) return "";
  }
  return "";
}
