#include "pbt/PbtSampleDump.h"

#include "numerics/TextFunctions.h"
#include "pbt/PbtSample.h"
#include "platform/FolderCommands.h"
#include "volume/ImageFiles.h"
#include "volume/Raster.h"

void MakeSampleFolder(const std::string& folder) {
  std::string command = "mkdir " + folder;
  RunFolderCommand(ToBackslashes(command));
}

bool DumpSampleImage(PbtSample& sample, const std::string& fileName) {
  Raster<unsigned char> image;
  sample.renderImage(image);
  if (image.rows < 1 || image.cols < 1) return false;
  SaveGreyImage(image, fileName.c_str(), 300);  // the dumps ignore a failed write
  return true;
}
