#pragma once
// An exclusive claim of a folder by one run: an advisory lock on the folder's own
// descriptor, so that no file is added to the folder. The claim lasts until the object
// is destroyed or the process ends (also through FatalExit). Only runs that ask for the
// claim respect it; it does not stop anyone from writing into the folder.
#include <string>

class FolderClaim {
 public:
  enum class Result {
    kClaimed,  // this object holds the folder now
    kHeld,     // another claim holds the folder (in this process or another)
    kGone,     // no folder is at the path, or it went away while being claimed
    kFailed,   // the folder cannot be opened or locked for another reason
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

 private:
  void Release();
  int descriptor_ = -1;
};
