#include "volume/TemporaryFiles.h"

#include <algorithm>

#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/VolumeFileNames.h"

TemporaryFiles::TemporaryFiles() : cleanup_([this] { RemoveAll(true); }) {}

TemporaryFiles::~TemporaryFiles() { RemoveAll(false); }

std::string TemporaryFiles::Make(const std::string& name, const std::string& suffix) {
  FatalExitHold hold;
  const volume_names::SplitName split = volume_names::SplitForWriting(name);
  const std::string temp =
      CreateUniqueFile(split.With(""), ".partial-", suffix,
                       [this](const std::string& file, bool reserved) { reserved ? List(file) : Unlist(file); });
  if (temp.empty()) return temp;
  bool swept = false;
  {
    std::lock_guard<std::mutex> guard(lock_);
    swept = swept_;
  }
  if (!swept) return temp;
  // The run's end did not wait for this step and has removed the temporaries already.
  DeleteFileAt(temp);
  Unlist(temp);
  return "";
}

bool TemporaryFiles::Rename(const std::string& temp, const std::string& name) {
  FatalExitHold hold;
  if (!ReplaceFile(temp, name)) return false;
  Unlist(temp);
  return true;
}

void TemporaryFiles::List(const std::string& file) {
  std::lock_guard<std::mutex> guard(lock_);
  files_.push_back(file);
}

void TemporaryFiles::Unlist(const std::string& file) {
  std::lock_guard<std::mutex> guard(lock_);
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
}

void TemporaryFiles::RemoveAll(bool ending) {
  std::vector<std::string> files;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (ending) swept_ = true;
    files = files_;
  }
  // Outside the lock: a removal is a held step, which may wait for the run's end.
  for (const std::string& file : files) DeleteFileAt(file);
}
