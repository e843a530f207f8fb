#include "models/AppearanceSettings.h"

#include <cstdio>

#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"

bool ReadAppearanceSettings(const std::string& path, AppearanceSettings& settings) {
  settings = AppearanceSettings();
  std::FILE* file = OpenFile(path, "rt");
  if (file == nullptr) return false;
  char buffer[200];
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string line = buffer;
    std::string key;
    SplitAtFirst(key, line, ':', true);
    key = TrimBoth(key);
    if (key.empty()) continue;
    const char* value = line.c_str();
    int v = 0;
    if (key == "ModelType") {
      if (std::sscanf(value, "%d", &v) == 1) settings.modelType = v;
    } else if (key == "NumberofClasses") {
      if (std::sscanf(value, "%d", &v) == 1) settings.numClasses = v;
    } else if (key == "Radius") {
      if (std::sscanf(value, "%d", &v) == 1) settings.radius = v;
    } else if (key == "Sub-volume") {
      SubVolume b;
      if (std::sscanf(value, "%d %d %d %d %d %d", &b.x0, &b.y0, &b.z0, &b.x1, &b.y1, &b.z1) == 6)
        settings.box = b;
    } else if (key == "IntensityType") {
      if (std::sscanf(value, "%d", &v) == 1) {
        settings.intensityType = LowByte(v);
        settings.hasIntensityType = true;
      }
    } else if (key == "ClassifierVersion") {
      if (std::sscanf(value, "%d", &v) == 1) {
        settings.classifierVersion = v;
        settings.hasClassifierVersion = true;
      }
    }
  }
  std::fclose(file);
  return true;
}
