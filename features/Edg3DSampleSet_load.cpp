// The edge-data loader of the voxel set: copies the training cases into a folder of
// its own with their edge maps (label / 255 inside the sampling border) and measures
// the mean edge value. On no road of the drivers.
#include <cstdio>
#include <string>
#include <vector>

#include "features/Edg3DSampleSet.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtLog.h"
#include "platform/Fatal.h"
#include "platform/FolderCommands.h"
#include "volume/FolderLayout.h"
#include "volume/HeapMatrix3D.h"

namespace {

// Sizes `out` like `in` and widens every voxel.
void ConvertVolume(HeapMatrix3D<float>& out, const HeapMatrix3D<unsigned char>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) out(z, y, x) = in[z][y][x];
}

// 1.0 at every voxel at least `border` voxels inside every face, 0 elsewhere. A
// negative border counts as 0 (it would otherwise write before the volume).
void BuildInteriorMask(HeapMatrix3D<float>& mask, int columns, int rows, int slices, int border) {
  if (border < 0) border = 0;
  mask.SetSize(slices, rows, columns);
  mask.SetZero();
  for (int z = border; z < slices - border; ++z)
    for (int y = border; y < rows - border; ++y)
      for (int x = border; x < columns - border; ++x) mask(z, y, x) = 1.0f;
}

// out := label x interior mask / 255 (the label volume is masked in place);
// *count := voxels inside the border; *sum := the sum of out.
void NormalizeEdgeVolume(HeapMatrix3D<float>& out, HeapMatrix3D<float>& label, int border, float* sum, float* count) {
  HeapMatrix3D<float> mask;
  BuildInteriorMask(mask, label.dim2(), label.dim1(), label.dim0(), border);
  out.SetSize(label.dim0(), label.dim1(), label.dim2());
  for (int z = 0; z < label.dim0(); ++z)
    for (int y = 0; y < label.dim1(); ++y)
      for (int x = 0; x < label.dim2(); ++x) {
        label(z, y, x) *= mask(z, y, x);
        out(z, y, x) = static_cast<float>(static_cast<double>(label(z, y, x)) / 255.0);
      }
  *count = mask.Sum();
  *sum = out.Sum();
}

}  // namespace

void Edg3DSampleSet::loadTrainingData(EdgSampleSetParams& p) {
  if (p.dirTrainData == nullptr || p.dirTestData == nullptr) {
    FatalExit(1, "loadTrainingData: no training or test data folder given\n");
  }
  std::string trainDir = p.dirTrainData;
  ToBackslashes(trainDir);
  RunFolderCommand(FormatText("rmdir /s /q %s", trainDir.c_str()));
  if (RunFolderCommand(FormatText("mkdir %s", trainDir.c_str())) != 0) {
    FatalExit(1, FormatText("Unable to create the folder %s\n", trainDir.c_str()));
  }

  const int n = p.numTrain > 0 ? p.numTrain : 0;
  std::vector<HeapMatrix3D<unsigned char>> images(static_cast<size_t>(n));
  bool allLoaded = true;
  for (int i = 0; i < n; ++i) {
    const std::string path = layout::CaseFile(p.dirTestData, i, layout::kCaseVolumeEnding);
    if (!images[static_cast<size_t>(i)].Load(path) || images[static_cast<size_t>(i)].NumElements() == 0) {
      std::printf("%s does not load\n", path.c_str());
      allLoaded = false;
    }
  }
  if (!allLoaded) FatalExit(1, "Unable to load training images :((((.\n");
  std::printf("Training Images are loaded successfully!~~\n");

  std::vector<HeapMatrix3D<float>> labels(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const std::string path = layout::CaseFile(p.dirTestData, i, layout::kCaseLabelsEnding);
    HeapMatrix3D<unsigned char> bytes;
    if (!bytes.Load(path) || bytes.NumElements() == 0) {
      std::printf("%s does not load\n", path.c_str());
      allLoaded = false;
      continue;
    }
    ConvertVolume(labels[static_cast<size_t>(i)], bytes);
  }
  if (!allLoaded) FatalExit(1, "Unable to load true edge images :((((.\n");
  std::printf("True edge Images are loaded successfully!~~\n");

  std::vector<HeapMatrix3D<float>> edges(static_cast<size_t>(n));
  float edgeSum = 0.0f, interior = 0.0f;
  for (int i = 0; i < n; ++i) {
    float s = 0.0f, t = 0.0f;
    NormalizeEdgeVolume(edges[static_cast<size_t>(i)], labels[static_cast<size_t>(i)], p.radius, &s, &t);
    edgeSum += s;
    interior += t;
  }
  // Without interior voxels there is no edge to measure: 0 rather than 0 / 0.
  p.edgeFraction = interior > 0.0f ? edgeSum / interior : 0.0f;

  for (int i = 0; i < n; ++i) {
    const std::string image = layout::CaseFile(p.dirTrainData, i, layout::kCaseVolumeEnding);
    const std::string edge = layout::CaseFile(p.dirTrainData, i, layout::kCaseTwoClassMapEnding);
    if (!images[static_cast<size_t>(i)].Save(image)) FatalExit(1, FormatText("Unable to write %s\n", image.c_str()));
    if (!edges[static_cast<size_t>(i)].Save(edge)) FatalExit(1, FormatText("Unable to write %s\n", edge.c_str()));
  }
  p.loaded = 1;
}
