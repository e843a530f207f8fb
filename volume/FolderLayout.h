#pragma once
// The names of the training subjects, of the training target folder, of the model
// folder and of the case files of a training data set. Each name is written here once;
// formats take the values noted beside them. Paths built from them are "<folder>/<name>"
// (InFolder); a caller that stores or prints a path with backslashes turns the
// separators afterwards.
//
// Subjects folder (read by the training road): per subject "<name>", the Analyze pairs
//   <name>.brain.hdr, .brain.img    the volume (its header is the listing pattern)
//   <name>.label.hdr, .label.img    its manual labels
//
// Training target folder (written by the training road):
//   label_mapping.txt           label value -> class number table (LabelMappingLine)
//   setting.txt                 model settings (WriteModelSettings, then the
//                               intensity lines of EstimateIntensityRange)
//   mri_intensity_common.3dm    16-bit label volume of the template subject
//   mri_intensity_template.3dm  16-bit intensity volume of the template subject
//   %d.img (+ header)           subject d after normalisation, Analyze pair
//   atlas.3dm, known.3dm        majority class / agreed class over all subjects
//   I%05i<ending>               the case files of case i (below)
//   %d/                         folder of auto-context iteration d (from 1), holding
//                               clf, logfile.txt, the class-probability maps of the
//                               cases, top/ (the tree's node folders, removed when the
//                               tree is done) and labels/ (the iteration's class
//                               volumes and case copies)
//   training_done.txt           "Iterations: %d\n", written once every iteration's tree
//                               and maps are done; a target without it did not finish
//
// Case files "<folder>/I%05i<ending>" (CaseFile), case i, in the training target, the
// iteration folders, their labels/ and the node folders under top/:
//   .3dm                        case volume (byte voxels), cropped to the training box
//   _label.3dm                  its class labels (also the listing pattern of the cases)
//   _atlas.img, _atlas.hdr      region-competition labels of the case, Analyze pair
//   _%d_prob.3dm                probability map of class k (CaseMapFile)
//   _prob.3dm                   the one map of a two-class case (class 1; the edge
//                               map of the edge-data loader)
//   _bstp.3dm                   bootstrap mask of a tree node
//
// Model folder (given with "-m"; segmentation reads its "appearance" folder): the same
// setting.txt (and end/setting.txt), clf, clf%d, clf_edge, hip_clf, atlas.3dm,
// known.3dm, prob_lift.txt, appearance.mod with one %d.apr per class,
// mri_intensity_template.3dm, mri_intensity_common.3dm and label_mapping.txt.
// The program does not copy or rename between the two layouts;
// scripts/make_model_folder.sh makes a model folder from a training target.
#include <cstdio>
#include <string>

namespace layout {

inline constexpr const char* kSubjectVolumeEnding = ".brain.hdr";
inline constexpr const char* kSubjectLabels = "%s/%s.label.img";  // subjects folder, name
// Every file name of a subject's two pairs ends in one of these.
inline constexpr const char* kSubjectFileEndings[] = {".brain.hdr", ".brain.img", ".label.hdr", ".label.img"};

inline constexpr const char* kSettingsFile = "setting.txt";
inline constexpr const char* kLabelMappingFile = "label_mapping.txt";
inline constexpr const char* kIntensityCommon = "mri_intensity_common.3dm";
inline constexpr const char* kIntensityTemplate = "mri_intensity_template.3dm";
inline constexpr const char* kSubjectAnalyze = "%d.img";            // subject index
inline constexpr const char* kAtlas = "atlas.3dm";
inline constexpr const char* kKnown = "known.3dm";
inline constexpr const char* kIterationFolder = "%d";              // iteration from 1
inline constexpr const char* kNodeFolder = "top";
inline constexpr const char* kLabelsFolder = "labels";
inline constexpr const char* kClassifier = "clf";
inline constexpr const char* kIterationClassifier = "clf%d";
inline constexpr const char* kEdgeClassifier = "clf_edge";
inline constexpr const char* kHippoClassifier = "hip_clf";
inline constexpr const char* kTrainingLog = "logfile.txt";
inline constexpr const char* kTrainingDone = "training_done.txt";
inline constexpr const char* kTrainingDoneLine = "Iterations: %d\n";  // iterations trained
inline constexpr const char* kAppearanceFolder = "appearance";
inline constexpr const char* kEndFolder = "end";                   // holds a setting.txt
inline constexpr const char* kProbLift = "prob_lift.txt";
inline constexpr const char* kAppearanceMarker = "appearance.mod";
inline constexpr const char* kRegionRecord = "%d.apr";             // class index

inline constexpr const char* kCaseName = "I%05i";                  // case index
inline constexpr const char* kCaseVolumeEnding = ".3dm";
inline constexpr const char* kCaseLabelsEnding = "_label.3dm";
inline constexpr const char* kCaseAtlasImageEnding = "_atlas.img";
inline constexpr const char* kCaseAtlasHeaderEnding = "_atlas.hdr";
inline constexpr const char* kCaseMapEnding = "_%d_prob.3dm";      // class index
inline constexpr const char* kCaseTwoClassMapEnding = "_prob.3dm";
inline constexpr const char* kCaseBootstrapEnding = "_bstp.3dm";

// "<folder>/<name>", exactly as given (no separator is turned).
inline std::string InFolder(const std::string& folder, const std::string& name) { return folder + "/" + name; }

// "<folder>/I%05i<ending>": the file of case i in a folder. Any int fits the name
// ("I-2147483648" at the longest).
inline std::string CaseFile(const std::string& folder, int i, const std::string& ending) {
  char name[16];
  std::snprintf(name, sizeof name, kCaseName, i);
  return InFolder(folder, name + ending);
}

// "<folder>/I%05i_%d_prob.3dm": the probability map of class k of case i.
inline std::string CaseMapFile(const std::string& folder, int i, int k) {
  char ending[24];
  std::snprintf(ending, sizeof ending, kCaseMapEnding, k);
  return CaseFile(folder, i, ending);
}

}  // namespace layout
