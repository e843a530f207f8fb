#include "platform/FolderClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/NativePath.h"

namespace {
std::atomic<int> gInjectedLockError{0};

int Lock(int fd) {
  if (const int error = gInjectedLockError.load()) {
    errno = error;
    return -1;
  }
  return flock(fd, LOCK_EX | LOCK_NB);
}
}  // namespace

void FolderClaim::FailLocksForTesting(int error) { gInjectedLockError.store(error); }

FolderClaim::~FolderClaim() { Release(); }

void FolderClaim::Release() {
  if (descriptor_ >= 0) close(descriptor_);  // closing the only descriptor drops the lock
  descriptor_ = -1;
}

FolderClaim::Result FolderClaim::Fail(int error) {
  failure_ = std::strerror(error);
  return Result::kFailed;
}

FolderClaim::Result FolderClaim::Take(const std::string& path) {
  Release();
  failure_.clear();
  if (path.empty()) return Fail(ENOENT);
  const std::string native = NativePath(path);
  const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Result::kGone : Fail(errno);
  int locked;
  do {
    locked = Lock(fd);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? Result::kHeld : Fail(error);
  }
  // The holder before may have removed the folder between the open and the lock.
  struct stat held {};
  struct stat named {};
  if (fstat(fd, &held) != 0 || stat(native.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    close(fd);
    return Result::kGone;
  }
  descriptor_ = fd;
  return Result::kClaimed;
}
