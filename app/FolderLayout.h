#pragma once
// The names of the training target folder and of the model folder. Each name is
// written here once; formats take the values noted beside them. Paths built from them
// are "<folder>/<name>".
//
// Training target folder (written by the training road):
//   label_mapping.txt           label value -> class number table (LabelMappingLine)
//   setting.txt                 model settings (WriteModelSettings, then the
//                               intensity lines of EstimateIntensityRange)
//   mri_intensity_common.3dm    16-bit label volume of the template subject
//   mri_intensity_template.3dm  16-bit intensity volume of the template subject
//   %d.img (+ header)           subject d after normalisation, Analyze pair
//   I%05i.3dm, I%05i_label.3dm  case volume i and its class labels, cropped to the box
//   atlas.3dm, known.3dm        majority class / agreed class over all subjects
//   %s%05i_atlas%s              region-competition labels of subject i ("I", ".img")
//   %d/                         folder of auto-context iteration d (from 1), holding
//                               clf, logfile.txt, top/ and labels/
//   training_done.txt           "Iterations: %d\n", written once every iteration's tree
//                               and maps are done; a target without it did not finish
//
// Model folder (given with "-m"; segmentation reads its "appearance" folder): the same
// setting.txt (and end/setting.txt), clf, clf%d, clf_edge, hip_clf, atlas.3dm,
// known.3dm, prob_lift.txt, appearance.mod with one %d.apr per class,
// mri_intensity_template.3dm, mri_intensity_common.3dm and label_mapping.txt.
// The program does not copy or rename between the two layouts.

namespace layout {

inline constexpr const char* kSettingsFile = "setting.txt";
inline constexpr const char* kLabelMappingFile = "label_mapping.txt";
inline constexpr const char* kIntensityCommon = "mri_intensity_common.3dm";
inline constexpr const char* kIntensityTemplate = "mri_intensity_template.3dm";
inline constexpr const char* kSubjectAnalyze = "%d.img";            // subject index
inline constexpr const char* kCaseVolume = "I%05i.3dm";             // case index
inline constexpr const char* kCaseLabels = "I%05i_label.3dm";       // case index
inline constexpr const char* kCaseLabelsEnding = "_label.3dm";      // listing pattern
inline constexpr const char* kAtlas = "atlas.3dm";
inline constexpr const char* kKnown = "known.3dm";
inline constexpr const char* kSubjectAtlas = "%s%05i_atlas%s";     // "I", index, ".img"
inline constexpr const char* kIterationFolder = "%d";              // iteration from 1
inline constexpr const char* kClassifier = "clf";
inline constexpr const char* kIterationClassifier = "clf%d";
inline constexpr const char* kEdgeClassifier = "clf_edge";
inline constexpr const char* kHippoClassifier = "hip_clf";
inline constexpr const char* kTrainingLog = "logfile.txt";
inline constexpr const char* kTrainingDone = "training_done.txt";
inline constexpr const char* kTrainingDoneLine = "Iterations: %d\n";  // iterations trained
inline constexpr const char* kAppearanceFolder = "appearance";
inline constexpr const char* kEndSettings = "end/setting.txt";
inline constexpr const char* kProbLift = "prob_lift.txt";
inline constexpr const char* kAppearanceMarker = "appearance.mod";
inline constexpr const char* kRegionRecord = "%d.apr";             // class index

}  // namespace layout
