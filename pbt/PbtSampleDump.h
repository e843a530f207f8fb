#pragma once
// Writing samples as images into per-class folders (the sample sets' saveSamples).
#include <string>

class PbtSample;

// Creates the folder with the command "mkdir       <folder>" (slashes turned into
// backslashes), as the sample dumps phrase it.
void MakeSampleFolder(const std::string& folder);

// Lets the sample draw itself into a fresh 8-bit image and, when it drew anything,
// writes it as a grey TIF at 300 dpi. True when the sample drew an image (the name
// is then used up, whether or not the file could be written). A fresh image per
// sample, so a sample that draws nothing never repeats the one before it.
bool DumpSampleImage(PbtSample& sample, const std::string& fileName);
