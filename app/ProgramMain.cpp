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

int Train(const Kro_BrainSetting& setting) {
  gTypedClassifierFiles = 1;
  const std::string target = setting.target.str();
  if (target.empty()) {
    std::printf("Training needs a source folder and a target folder\n");
    return 1;
  }
  // Training removes and rewrites folders under its target, so it only runs into a new
  // or empty folder: nothing of an earlier run or of the user's is touched.
  if (!IsMissingOrEmptyFolder(target)) {
    std::printf("The target folder %s exists and is not empty; train into a new folder\n", target.c_str());
    return 1;
  }
  std::vector<std::string> created;
  if (!MakeFolder(target, &created)) {
    std::printf("Cannot create the target folder %s\n", target.c_str());
    return 1;
  }
  bool ok = PrepareTrainingData(setting.source.str(), target, setting.numStructures);
  if (ok) {
    std::vector<McString> labelVolumes;
    ListDirectory(target, layout::kCaseLabelsEnding, labelVolumes);
    ok = TrainAutoContext(target, static_cast<int>(labelVolumes.size()), setting.numStructures, setting.iterations,
                          1);
  }
  // A refused input leaves no folder behind that this run made and did not fill.
  if (!ok) RemoveEmptyFolders(created);
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
