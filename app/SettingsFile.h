#pragma once
// Writers of the settings file "<folder>/setting.txt" and the line format of the label
// mapping table. Lines written by a training run, in order:
//   "ModelType: %d\n"                       3
//   "NumberofClasses: %d\n"                 number of structures + 1
//   "Radius: %d\n"                          5
//   "Sub-volume: %d %d %d %d %d %d\n"       x0 y0 z0 x1 y1 z1 of the training box
//   "IntensityRange:%d %d\n"                template's lowest positive and upper
//                                           intensity (no blank after the colon)
//   "IntensityType: 4\n"
//   "ClassifierVersion: %d\n"               gClassifierVersion (0 in a training run)
// Only the first line truncates the file; every later one is appended.
#include <string>

#include "numerics/SubVolume.h"

// Opens "<folder>/setting.txt" (truncating when `truncate`, else appending), writes the
// line unchanged and closes it. A file that cannot be opened or written is reported on
// standard error with its name, and false is returned.
bool WriteSettingLine(const std::string& folder, const std::string& line, bool truncate);

// The four first lines: "ModelType" (truncating), "NumberofClasses", "Radius" (5) and
// "Sub-volume" with the box. False when a line could not be written.
bool WriteModelSettings(const std::string& folder, int modelType, int numClasses, const SubVolume& box);

// One line of "label_mapping.txt": "%d  %d\n" (two blanks), label value then class.
std::string LabelMappingLine(int labelValue, int classNumber);
