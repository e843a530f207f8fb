#include "platform/NativePath.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/Fatal.h"

namespace {
std::vector<std::string>* gInputOpenSink = nullptr;
std::function<void(const std::string&)> gCreationWatch;  // test-only
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

std::string HoldingFolder(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  if (separator == std::string::npos) return ".";
  return separator == 0 ? "/" : path.substr(0, separator);
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

std::string FitFileName(const std::string& stem, const std::string& tail, size_t limit) {
  if (tail.size() > limit) return "";
  if (stem.size() + tail.size() <= limit) return stem + tail;
  size_t keep = limit - tail.size();
  // The first byte left out must not continue a character (10xxxxxx); one character
  // has at most three such bytes.
  for (int back = 0; back < 3 && keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80; ++back) --keep;
  return stem.substr(0, keep) + tail;
}

std::string CreateUniqueFile(const std::string& stem, const std::string& mark, const std::string& suffix,
                             const std::function<void(const std::string& name, bool reserved)>& reserve) {
  const size_t separator = stem.find_last_of("/\\");
  const std::string folder = HoldingFolder(stem);
  const std::string fileStem = separator == std::string::npos ? stem : stem.substr(separator + 1);
  const std::string prefix = separator == std::string::npos ? "" : stem.substr(0, separator + 1);
  const long nameMax = pathconf(NativePath(folder).c_str(), _PC_NAME_MAX);
  const size_t limit = nameMax > 0 ? static_cast<size_t>(nameMax) : 255;
  const std::string pid = std::to_string(static_cast<long long>(getpid()));
  FatalExitHold hold;
  for (int n = 0; n < 100; ++n) {
    const std::string fileName = FitFileName(fileStem, mark + pid + "-" + std::to_string(n) + suffix, limit);
    if (fileName.empty()) return "";
    const std::string name = prefix + fileName;
    const std::string native = NativePath(name);
    // A name that is taken (a file left by an earlier process of the same id) is never
    // reserved, so the caller's cleanup cannot remove another's file.
    struct stat st {};
    if (lstat(native.c_str(), &st) == 0) continue;
    if (errno != ENOENT) return "";
    if (reserve) reserve(name, true);
    // "x": the open fails when anything exists under the name.
    std::FILE* f = std::fopen(native.c_str(), "wbx");
    const int error = errno;
    if (f != nullptr && std::fclose(f) == 0) {
      if (gCreationWatch) gCreationWatch(name);
      return name;
    }
    if (f != nullptr) std::remove(native.c_str());
    if (reserve) reserve(name, false);
    if (f != nullptr || error != EEXIST) return "";
  }
  return "";
}

void WatchFileCreationForTesting(std::function<void(const std::string& name)> hook) {
  gCreationWatch = std::move(hook);
}
