#include "app/ProgramMain.h"

#include <cstdio>
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

// The folders a training made for its target, removed again while still empty unless
// the training finishes: on a refusal that returns here, on an exception that passes
// through, and (registered with the fatal helper) on a fatal failure anywhere in the run,
// on whichever thread it happens.
class UnfilledFolders {
 public:
  explicit UnfilledFolders(const std::vector<std::string>& created) : created_(created) {
    SetFatalCleanup([created] { RemoveEmptyFolders(created); });
  }
  ~UnfilledFolders() {
    SetFatalCleanup(nullptr);
    if (!kept_) RemoveEmptyFolders(created_);
  }
  UnfilledFolders(const UnfilledFolders&) = delete;
  UnfilledFolders& operator=(const UnfilledFolders&) = delete;
  void Keep() { kept_ = true; }

 private:
  std::vector<std::string> created_;
  bool kept_ = false;
};

// Makes the target folder (listing in `created` the folders made) and claims it for the
// run. A folder that another run removes between the two is made again. On a claim
// held by another run nothing is removed: the folder may be that run's, even when this
// one made it.
bool ClaimTarget(const std::string& target, FolderClaim& claim, std::vector<std::string>& created) {
  FolderClaim::Result result = FolderClaim::Result::kGone;
  for (int attempt = 0; attempt < 3 && result == FolderClaim::Result::kGone; ++attempt) {
    if (!MakeFolder(target, &created)) break;
    result = claim.Take(target);
  }
  if (result == FolderClaim::Result::kClaimed) return true;
  if (result == FolderClaim::Result::kHeld) {
    std::printf("The target folder %s is in use by another training\n", target.c_str());
    return false;
  }
  std::printf("Cannot create the target folder %s\n", target.c_str());
  RemoveEmptyFolders(created);
  return false;
}

int RefuseUsedTarget(const std::string& target) {
  std::printf("The target folder %s exists and is not empty; train into a new folder\n", target.c_str());
  return 1;
}

int Train(const Kro_BrainSetting& setting) {
  gTypedClassifierFiles = 1;
  const std::string target = setting.target.str();
  if (target.empty()) {
    std::printf("Training needs a source folder and a target folder\n");
    return 1;
  }
  // Training removes and rewrites folders under its target, so it only runs into a new
  // or empty folder: nothing of an earlier run, of another training or of the user's is
  // touched. The check counts once the run holds the target's claim; the one before
  // refuses a folder in use without making anything.
  if (!IsMissingOrEmptyFolder(target)) return RefuseUsedTarget(target);
  std::vector<std::string> created;
  FolderClaim claim;
  if (!ClaimTarget(target, claim, created)) return 1;
  if (!IsMissingOrEmptyFolder(target)) {
    RemoveEmptyFolders(created);
    return RefuseUsedTarget(target);
  }
  UnfilledFolders unfilled(created);
  bool ok = PrepareTrainingData(setting.source.str(), target, setting.numStructures);
  if (ok) {
    std::vector<McString> labelVolumes;
    ListDirectory(target, layout::kCaseLabelsEnding, labelVolumes);
    ok = TrainAutoContext(target, static_cast<int>(labelVolumes.size()), setting.numStructures, setting.iterations,
                          1);
  }
  if (ok) unfilled.Keep();
  return ok ? 0 : 1;
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
  if (setting.badOptions) return 1;

  if (setting.mode == 1) return Train(setting);
  if (setting.mode == 0) return Segment(setting, atlasGiven);
  return 1;  // the parser has refused any other mode
}
