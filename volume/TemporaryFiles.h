#pragma once
// The temporary files of one write of an output: each is made beside the output, named
// "<output's file name without its extension>.partial-<pid>-<n><suffix>" (the first part
// cut at its end when the name would pass the folder's limit for a name), and renamed
// to its final name when complete.
//
// What is still listed goes when the object goes, and (as a fatal cleanup) when the run
// ends on the fatal path or is interrupted before. A file is listed just before it is
// made, and renamed and then dropped from the list, each in one held step, so the
// cleanup never misses a file and never removes one that took its final name, nor a file
// that another process made under a temporary's name afterwards. The list has a lock of
// its own: an end that could not wait for a step of another thread (a signal cut the
// wait short, or the step is stuck) still reads it whole, and a file that such a step
// makes after the cleanup has run is removed again by the step itself.
#include <mutex>
#include <string>
#include <vector>

#include "platform/Fatal.h"

class TemporaryFiles {
 public:
  TemporaryFiles();
  ~TemporaryFiles();
  TemporaryFiles(const TemporaryFiles&) = delete;
  TemporaryFiles& operator=(const TemporaryFiles&) = delete;

  // A new empty file beside the output `name` (a program path); empty when none can be
  // made.
  std::string Make(const std::string& name, const std::string& suffix);

  // Renames the temporary `temp` (one that Make gave) to `name`, replacing a file there
  // (not a folder). True on success, and then `temp` is no longer listed; on failure it
  // stays listed.
  bool Rename(const std::string& temp, const std::string& name);

 private:
  void RemoveAll(bool ending);
  void List(const std::string& file);
  void Unlist(const std::string& file);

  std::mutex lock_;  // guards files_ and swept_; never held across a file step
  std::vector<std::string> files_;
  bool swept_ = false;  // the fatal cleanup has run
  FatalCleanup cleanup_;  // last: unregistered before the list it reads goes
};
