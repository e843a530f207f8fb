#include "app/ProgramMain.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "app/Kro_BrainSetting.h"
#include "app/PrepareTrainingData.h"
#include "app/SegmentVolumes.h"
#include "app/TrainAutoContext.h"
#include "features/FeatureFlags.h"
#include "numerics/ListDirectory.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtFlags.h"
#include "platform/Fatal.h"
#include "platform/FolderClaim.h"
#include "platform/FolderCommands.h"
#include "platform/ParallelFor.h"
#include "platform/SystemInfo.h"
#include "volume/FolderLayout.h"

const char* const kUsageText =
    "Usage: [-p structure] [-r testing] [source file] [target file] [-m path to the models] [-n number of structures]\n"
    "       [-t number of iterations] [-s smoothness]\n\n"
    "-r  0: perform segmentation/detection\n"
    "\t1: perform training\n"
    "[source file]: in testing, it points to the source file\n"
    "               in training, it points directory in which the training volumes are saved\n"
    "[target file]: in testing, it points to the target file\n"
    "               in training, it points directory in which the trained classifiers are saved\n"
    "-m  : directory of trained models \n"
    "-n  :  number of structures (only effective in training)\n"
    "-t  : number of iterations (default value 3, for '-r 1', it is the number of auto-context classifiers) \n"
    "-s  : smoothness factor (defalut=0.5, typical 0.0~2.0) \n";

namespace {

// What a training that does not finish leaves behind goes again: on a refusal that
// returns here, on an exception that passes through, and (as a fatal cleanup) on a
// fatal failure or an interrupt on any thread. The folders made for the target go while
// they are still empty; once the run holds the target, so do the empty folders inside
// it (all made by this run, as the target was empty when claimed) and, on the fatal
// path, a "training_done.txt" that an interrupt met while it was written. What the
// cleanup reads only changes inside held steps (MakeTargetFolder, Claimed), and under a
// lock of its own, which the cleanup also takes: an end that could not wait for such a
// step (a signal cut the wait short) still reads it whole.
class UnfinishedTraining {
 public:
  explicit UnfinishedTraining(const std::string& target) : target_(target), cleanup_([this] { Remove(true); }) {}
  ~UnfinishedTraining() {
    if (!finished_) Remove(false);
  }
  UnfinishedTraining(const UnfinishedTraining&) = delete;
  UnfinishedTraining& operator=(const UnfinishedTraining&) = delete;

  // Makes the target folder (MakeFolder) and records the folders made for it, in one
  // held step.
  bool MakeTargetFolder(std::string* failure) {
    FatalExitHold hold;
    std::vector<std::string> made;
    const bool ok = MakeFolder(target_, &made, failure);
    std::lock_guard<std::mutex> guard(lock_);
    created_.insert(created_.end(), made.begin(), made.end());
    return ok;
  }
  // The run holds the target and found it empty after taking it: what lies inside it
  // from now on is the run's.
  void Claimed() {
    FatalExitHold hold;
    std::lock_guard<std::mutex> guard(lock_);
    claimed_ = true;
  }
  // The target is another run's: nothing there is removed, even a folder this run made.
  void Forget() {
    FatalExitHold hold;
    std::lock_guard<std::mutex> guard(lock_);
    created_.clear();
    claimed_ = false;
  }
  void Finished() { finished_ = true; }

 private:
  void Remove(bool ending) {
    bool claimed = false;
    std::vector<std::string> created;
    {
      std::lock_guard<std::mutex> guard(lock_);
      claimed = claimed_;
      created = created_;
    }
    // Outside the lock: a removal is a held step, which may wait for the run's end.
    if (claimed) {
      if (ending) DeleteFileAt(layout::InFolder(target_, layout::kTrainingDone));
      RemoveEmptySubfolders(target_);
    }
    RemoveEmptyFolders(created);
  }

  const std::string target_;
  std::mutex lock_;  // guards created_ and claimed_; never held across a file step
  std::vector<std::string> created_;
  bool claimed_ = false;
  bool finished_ = false;
  FatalCleanup cleanup_;  // last: unregistered before the members it reads go
};

// Makes the target folder and claims it for the run. A folder that another run removes
// between the two is made again.
bool ClaimTarget(const std::string& target, FolderClaim& claim, UnfinishedTraining& run) {
  FolderClaim::Result result = FolderClaim::Result::kGone;
  std::string failure = std::strerror(ENOENT);  // the folder went again each time it was made
  for (int attempt = 0; attempt < 3 && result == FolderClaim::Result::kGone; ++attempt) {
    if (!run.MakeTargetFolder(&failure)) break;
    result = claim.Take(target);
  }
  switch (result) {
    case FolderClaim::Result::kClaimed:
      return true;
    case FolderClaim::Result::kHeld:
      run.Forget();
      std::printf("The target folder %s is in use by another training\n", target.c_str());
      return false;
    case FolderClaim::Result::kFailed:
      std::printf("Cannot claim the target folder %s for this training: %s\n", target.c_str(),
                  claim.failure().c_str());
      return false;
    case FolderClaim::Result::kGone:
      break;
  }
  std::printf("Cannot create the target folder %s: %s\n", target.c_str(), failure.c_str());
  return false;
}

// The refusal of a target that is not a new or empty folder, or that cannot be read
// (`unreadable` then holds the reason).
int RefuseTarget(const std::string& target, const std::string& unreadable) {
  if (!unreadable.empty()) {
    std::printf("Cannot read the target folder %s: %s\n", target.c_str(), unreadable.c_str());
  } else {
    std::printf("The target folder %s exists and is not empty; train into a new folder\n", target.c_str());
  }
  return 1;
}

// Refuses a target under which the run could not keep its paths. The atlas path
// "<target>\atlas.3dm" is kept within kMaxAtlasPath characters (built as the training
// builds it; its own check stays as a guard). Every other path the run builds under the
// target lies at most a few hundred bytes deeper (an iteration folder, node folders of a
// tree at most 12 levels deep, case files, unique names cut to the folder's name limit),
// so a target that passes stays far inside the system's 4096 bytes for a whole path; a
// name too long for its folder is named when the folder is made.
bool TargetPathsFit(const std::string& target) {
  std::string atlas = layout::InFolder(target, layout::kAtlas);
  ToBackslashes(atlas);
  if (static_cast<int>(atlas.size()) <= kMaxAtlasPath) return true;
  std::printf("The target folder %s is too long: its file %s would have %zu characters, at most %d\n", target.c_str(),
              atlas.c_str(), atlas.size(), kMaxAtlasPath);
  return false;
}

int Train(const Kro_BrainSetting& setting) {
  gTypedClassifierFiles = 1;
  const std::string target = setting.target.str();
  if (!TargetPathsFit(target)) return 1;
  // Training removes and rewrites folders under its target, so it only runs into a new
  // or empty folder: nothing of an earlier run, of another training or of the user's is
  // touched. The check counts once the run holds the target's claim; the one before
  // refuses a folder in use without making anything.
  std::string unreadable;
  if (!IsMissingOrEmptyFolder(target, &unreadable)) return RefuseTarget(target, unreadable);
  // The claim outlives the run's cleanup: a refused run removes what it made before
  // another training can take the target.
  FolderClaim claim;
  UnfinishedTraining run(target);
  if (!ClaimTarget(target, claim, run)) return 1;
  if (!IsMissingOrEmptyFolder(target, &unreadable)) {
    if (unreadable.empty()) run.Forget();  // another run's files came first: the folder is theirs now
    return RefuseTarget(target, unreadable);
  }
  run.Claimed();  // only now: what lies inside the target is this run's
  bool ok = PrepareTrainingData(setting.source.str(), target, setting.numStructures);
  if (ok) {
    std::vector<McString> labelVolumes;
    ListDirectory(target, layout::kCaseLabelsEnding, labelVolumes);
    ok = TrainAutoContext(target, static_cast<int>(labelVolumes.size()), setting.numStructures, setting.iterations,
                          1);
  }
  if (ok) run.Finished();
  return ok ? 0 : 1;
}

// A worker count that the pool would not take is refused, not replaced silently.
bool WorkerSettingUsable() {
  const char* text = std::getenv("SEGMENTER_WORKERS");
  int workers = 0;
  if (text == nullptr || ParseWorkerCount(text, workers)) return true;
  std::printf("Invalid value \"%s\" for SEGMENTER_WORKERS: the worker count is a whole number from 1 to %d\n", text,
              kMaxWorkers);
  return false;
}

int Segment(const Kro_BrainSetting& setting, bool atlasGiven) {
  gTypedClassifierFiles = 1;
  if (!atlasGiven) gAtlasPath = setting.modelDir.str() + "\\" + layout::kAppearanceFolder + "\\" + layout::kAtlas;
  return SegmentVolumes(setting, atlasGiven) ? 0 : 1;
}

}  // namespace

int ProgramMain(int argc, const char* const* argv) {
  gTypedClassifierFiles = 0;
  if (argc < 3) {
    std::fputs(kUsageText, stdout);
    return 1;
  }
  Kro_BrainSetting setting;
  setting.workDir = CurrentFolder();
  bool atlasGiven = setting.ParseCommandLine(argc, argv);
  setting.structure = 2;
  if (setting.badOptions || !WorkerSettingUsable()) return 1;

  if (setting.mode == 1) return Train(setting);
  if (setting.mode == 0) return Segment(setting, atlasGiven);
  return 1;  // the parser has refused any other mode
}
