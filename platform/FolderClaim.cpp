#include "platform/FolderClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/NativePath.h"

FolderClaim::~FolderClaim() { Release(); }

void FolderClaim::Release() {
  if (descriptor_ >= 0) close(descriptor_);  // closing the only descriptor drops the lock
  descriptor_ = -1;
}

FolderClaim::Result FolderClaim::Take(const std::string& path) {
  Release();
  if (path.empty()) return Result::kFailed;
  const std::string native = NativePath(path);
  const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Result::kGone : Result::kFailed;
  int locked;
  do {
    locked = flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const Result result = errno == EWOULDBLOCK ? Result::kHeld : Result::kFailed;
    close(fd);
    return result;
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
