#include "app/SettingsFile.h"

#include <cstdio>

#include "platform/NativePath.h"
#include "volume/FolderLayout.h"

bool WriteSettingLine(const std::string& folder, const std::string& line, bool truncate) {
  const std::string path = layout::InFolder(folder, layout::kSettingsFile);
  std::FILE* f = OpenFile(path, truncate ? "wt" : "at");
  if (!f) {
    std::fprintf(stderr, "Cannot write the settings file %s\n", path.c_str());
    return false;
  }
  const bool written = std::fputs(line.c_str(), f) >= 0;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "Cannot write the settings file %s\n", path.c_str());
    return false;
  }
  return true;
}

namespace {

std::string Format(const char* format, int a) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, a);
  return buffer;
}

}  // namespace

bool WriteModelSettings(const std::string& folder, int modelType, int numClasses, const SubVolume& box) {
  bool ok = WriteSettingLine(folder, Format("ModelType: %d\n", modelType), true);
  ok = WriteSettingLine(folder, Format("NumberofClasses: %d\n", numClasses), false) && ok;
  ok = WriteSettingLine(folder, Format("Radius: %d\n", 5), false) && ok;
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "Sub-volume: %d %d %d %d %d %d\n", box.x0, box.y0, box.z0, box.x1, box.y1,
                box.z1);
  return WriteSettingLine(folder, buffer, false) && ok;
}

std::string LabelMappingLine(int labelValue, int classNumber) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%d  %d\n", labelValue, classNumber);
  return buffer;
}
