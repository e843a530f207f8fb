#pragma once
// An exclusive claim of a folder by one run: an advisory lock (flock) on the folder's own
// descriptor, so that no file is added to the folder. The claim lasts until the object
// is destroyed or the process ends (also through FatalExit). Only runs that ask for the
// claim respect it; it does not stop anyone from writing into the folder. It keeps apart
// runs on one machine: on a network file system, runs on two machines that share the
// folder may not see each other's claim.
#include <string>

class FolderClaim {
 public:
  enum class Result {
    kClaimed,  // this object holds the folder now
    kHeld,     // another claim holds the folder (in this process or another)
    kGone,     // no folder is at the path, or it went away while being claimed
    kFailed,   // the folder cannot be opened or locked for another reason (see failure())
  };

  FolderClaim() = default;
  ~FolderClaim();
  FolderClaim(const FolderClaim&) = delete;
  FolderClaim& operator=(const FolderClaim&) = delete;

  // Claims the folder at `path` (a program path: "\" is a separator), without waiting.
  // kClaimed only when the locked folder is still the one at the path afterwards: a folder
  // that was removed (or replaced) meanwhile gives kGone, so that the caller may make it
  // again and retry. Anything but kClaimed leaves this object holding nothing; a claim
  // held before is released first.
  Result Take(const std::string& path);

  // Why the last Take gave kFailed, as the system words it (strerror); empty otherwise.
  const std::string& failure() const { return failure_; }

  // Test-only: while `error` is not 0, every lock call fails with that error number.
  static void FailLocksForTesting(int error);

 private:
  void Release();
  Result Fail(int error);
  int descriptor_ = -1;
  std::string failure_;
};
