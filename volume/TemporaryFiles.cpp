#include "volume/TemporaryFiles.h"

#include <algorithm>

#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/VolumeFileNames.h"

TemporaryFiles::TemporaryFiles() : cleanup_([this] { RemoveAll(); }) {}

TemporaryFiles::~TemporaryFiles() { RemoveAll(); }

std::string TemporaryFiles::Make(const std::string& name, const std::string& suffix) {
  FatalExitHold hold;
  const volume_names::SplitName split = volume_names::SplitForWriting(name);
  std::string temp = CreateUniqueFile(split.With(""), ".partial-", suffix);
  if (!temp.empty()) files_.push_back(temp);
  return temp;
}

bool TemporaryFiles::Rename(const std::string& temp, const std::string& name) {
  FatalExitHold hold;
  if (!ReplaceFile(temp, name)) return false;
  files_.erase(std::remove(files_.begin(), files_.end(), temp), files_.end());
  return true;
}

void TemporaryFiles::RemoveAll() const {
  for (const std::string& file : files_) DeleteFileAt(file);
}
