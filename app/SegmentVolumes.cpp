#include "app/SegmentVolumes.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "volume/FolderLayout.h"
#include "app/IntensityNormalization.h"
#include "app/Kro_BrainSetting.h"
#include "features/FeatureFlags.h"
#include "models/CRegionCompetition.h"
#include "models/Kro_BoundaryEvolution.h"
#include "numerics/ListDirectory.h"
#include "numerics/McString.h"
#include "numerics/TextFunctions.h"
#include "platform/Conversions.h"
#include "platform/FileSearch.h"
#include "platform/FolderCommands.h"
#include "platform/NativePath.h"
#include "volume/AnalyzeVolume.h"
#include "volume/VolumeFileNames.h"

namespace {

constexpr int kMappingEntries = 500;

// The region competition's iteration counts on this road.
constexpr int kModelIterations = 15;
constexpr int kAtlasIterations = 2;

void Say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

template <class... Args>
void Say(const char* format, Args... args) {
  std::printf(format, args...);
  std::fflush(stdout);
}

bool SupportedOutput(const std::string& path) {
  const std::string ext = volume_names::Extension(path);
  return ext == "3dm" || ext == "img" || ext == "hdr";
}

bool CheckOutputExtension(const std::string& path) {
  if (SupportedOutput(path)) return true;
  Say("Cannot write %s: the output must end in .3dm, .img or .hdr\n", path.c_str());
  return false;
}

// Writes the volume by the path's extension; a failed write leaves nothing of its own
// behind (see WriteVolume) and is reported here.
bool WriteOutput(const std::string& path, const HeapMatrix3D<unsigned char>& volume) {
  if (WriteVolume(path, volume)) return true;
  Say("Cannot write %s\n", path.c_str());
  return false;
}

// The files that writing `output` creates, or that reading a volume named `path` opens:
// the pair's ".hdr" and ".img" for those extensions, else the path itself.
std::vector<std::string> OutputFiles(const std::string& output) {
  if (volume_names::Extension(output) == "3dm") return {output};
  const volume_names::SplitName name = volume_names::SplitForWriting(output);
  return {name.With(".img"), name.With(".hdr")};
}

std::vector<std::string> InputFiles(const std::string& path) {
  const std::string ext = volume_names::Extension(path);
  if (ext != "img" && ext != "hdr") return {path};
  const std::string base = volume_names::WithoutExtension(path);
  return {base + ".hdr", base + ".img"};
}

// False, with one line, when a file of the output is one of `files` (files the run
// reads), under its own name or another path to it.
bool OutputSparesFiles(const std::string& output, const std::vector<std::string>& files) {
  for (const std::string& in : files)
    for (const std::string& out : OutputFiles(output))
      if (IsSameFile(out, in)) {
        Say("Cannot write %s: %s is the same file as the input %s\n", output.c_str(), out.c_str(), in.c_str());
        return false;
      }
  return true;
}

// The same for the files of the source volume and of the atlas.
bool OutputSparesInputs(const std::string& output, const std::vector<std::string>& inputs) {
  std::vector<std::string> files;
  for (const std::string& input : inputs)
    for (const std::string& in : InputFiles(input)) files.push_back(in);
  return OutputSparesFiles(output, files);
}

// False, with one line, when the output would lie inside the model folder (by its path
// as written or with links resolved), inside a folder that a linked folder under it
// leads to, or one of its files is a file of the model folder under another path (a
// link): the run reads the model, and every later segmentation with it would read what
// this one wrote.
bool OutputSparesModel(const std::string& output, const std::string& modelDir) {
  std::vector<std::string> linkedFolders;
  const std::vector<std::string> modelFiles = FilesUnder(modelDir, &linkedFolders);
  bool inside = IsInsideFolder(output, modelDir);
  for (size_t n = 0; !inside && n < linkedFolders.size(); ++n) inside = IsInsideFolder(output, linkedFolders[n]);
  if (inside) {
    Say("Cannot write %s: it lies inside the model folder %s\n", output.c_str(), modelDir.c_str());
    return false;
  }
  return OutputSparesFiles(output, modelFiles);
}

// False, with one line, when the output is named as a subject's volume of a training
// folder ("<name>.brain" or "<name>.label" with ".hdr" or ".img") and a file of it exists
// already in the folder that holds the source (the same folder on disk, by any path):
// such a name comes from a pattern that expanded to two of a subject's files
// ("<name>.*.hdr") or to two subjects, and writing would replace that subject's volume.
// A new name of that form is written, and so is one in another folder (a rerun into a
// folder of outputs replaces what the earlier run wrote there).
bool OutputSparesSubject(const std::string& output, const std::string& source) {
  const size_t sep = output.find_last_of("/\\");
  const std::string file = sep == std::string::npos ? output : output.substr(sep + 1);
  bool subjectName = false;
  for (const char* suffix : layout::kSubjectFileEndings) {
    const std::string s(suffix);
    if (file.size() >= s.size() && file.compare(file.size() - s.size(), s.size(), s) == 0) subjectName = true;
  }
  if (!subjectName) return true;
  // The output's own file first, so the line names the file the user named when it exists.
  std::vector<std::string> files = {output};
  for (const std::string& other : OutputFiles(output))
    if (other != output) files.push_back(other);
  for (const std::string& existing : files)
    if (PathExists(existing) && IsSameFile(HoldingFolder(existing), HoldingFolder(source))) {
      Say("Cannot write %s: %s exists and is named as a subject's volume\n", output.c_str(), existing.c_str());
      return false;
    }
  return true;
}

// Whether the files the reader opens are there (an Analyze header that is missing would
// otherwise end the run inside the header reader).
bool SourceFilesExist(const std::string& path) {
  const std::string ext = volume_names::Extension(path);
  if (ext == "img" || ext == "hdr") {
    const std::string base = volume_names::WithoutExtension(path);
    return IsRegularFile(base + ".hdr") && IsRegularFile(base + ".img");
  }
  return IsRegularFile(path);
}

// Reads the source volume, printing the two lines that announce it.
bool ReadSource(const std::string& path, HeapMatrix3D<short>& source) {
  if (!SourceFilesExist(path) || !ReadVolume(path, source)) {
    Say("Cannot read the volume %s\n", path.c_str());
    return false;
  }
  Say("processing volume: %s\n", path.c_str());
  Say("size: depth=%d, height=%d, width=%d\n", source.dim0(), source.dim1(), source.dim2());
  return true;
}

bool BoxInside(const SubVolume& b, const HeapMatrix3D<short>& v) {
  return b.x0 >= 0 && b.y0 >= 0 && b.z0 >= 0 && b.x0 <= b.x1 && b.y0 <= b.y1 && b.z0 <= b.z1 && b.x1 < v.dim2() &&
         b.y1 < v.dim1() && b.z1 < v.dim0();
}

// A template volume of the model folder; an empty one is reported and the run goes on.
void LoadTemplate(const std::string& path, HeapMatrix3D<short>& out) {
  out.Load(path);
  if (out.NumElements() == 0) Say("File %s does not exist\n", path.c_str());
}

void Normalize(int type, const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& source, const SubVolume& box,
               const HeapMatrix3D<short>& labels16, const HeapMatrix3D<unsigned char>& atlas) {
  switch (type) {
    case 0:
      EstimateIntensityRange(templ, source, box, "");
      break;
    case 1:
      FitIntensityMapping(templ, source, labels16, 1);
      break;
    case 2:
      MatchIntensityHistograms(templ, source, labels16, box);
      break;
    case 3:
      RefineIntensityMapping(templ, source, labels16);
      break;
    case 4:
      NormalizeIntensity(templ, source, box, labels16, atlas, 0, nullptr, 1, "");
      break;
    default:
      break;  // the volume goes into the model as it is
  }
}

// The "-a" form: the region competition of the volume against the given atlas.
bool RunAtlasCompetition(const std::string& path, const std::string& output) {
  HeapMatrix3D<short> source;
  if (!ReadSource(path, source)) return false;
  source.Release();
  CRegionCompetition competition(kRoadEdgeWeight, kRoadIntensityWeight, kRoadSizeWeight);
  if (competition.Run(path, gAtlasPath, kAtlasIterations, nullptr, nullptr) != 0) return false;
  Say("%s\n", output.c_str());
  return WriteOutput(output, competition.labels);
}

// One volume with the model folder; `output` is the path to write.
bool SegmentOne(const Kro_BrainSetting& setting, const std::string& path, const std::string& output) {
  const std::string modelDir = setting.modelDir.str();
  const std::string appearanceFolder = modelDir + "\\" + layout::kAppearanceFolder;

  // Owned for this volume only.
  auto evolution = std::make_unique<Kro_BoundaryEvolution>();
  // The loader names the file at fault in one line.
  if (!evolution->LoadAppearanceModels(appearanceFolder.c_str(), nullptr)) return false;
  Say("appearance models ok.\n");
  Kro_AppearanceAll& appearance = evolution->appearance;
  SubVolume box;
  appearance.GetBox(box);
  appearance.SetWholeVolumeBox(box.x1 - box.x0 + 1, box.y1 - box.y0 + 1, box.z1 - box.z0 + 1);

  HeapMatrix3D<short> source;
  if (!ReadSource(path, source)) return false;
  if (!BoxInside(box, source)) {
    Say("The model box (%d, %d, %d)-(%d, %d, %d) does not lie inside %s of %d x %d x %d\n", box.x0, box.y0,
        box.z0, box.x1, box.y1, box.z1, path.c_str(), source.dim2(), source.dim1(), source.dim0());
    return false;
  }

  CRegionCompetition competition(kRoadEdgeWeight, kRoadIntensityWeight, kRoadSizeWeight);
  if (competition.Run(path, gAtlasPath, kModelIterations, nullptr, &box) != 0) return false;
  // The competition's labels become the volume that the atlas feature reads.
  evolution->LoadAppearanceModels(nullptr, &competition.labels);

  HeapMatrix3D<unsigned char> atlas;
  atlas.Load(gAtlasPath);
  HeapMatrix3D<short> templ;
  std::string templatePath = modelDir + "\\" + layout::kAppearanceFolder + "\\" + layout::kIntensityTemplate;
  LoadTemplate(templatePath, templ);
  HeapMatrix3D<short> labels16;
  std::string commonPath = modelDir + "\\" + layout::kAppearanceFolder + "\\" + layout::kIntensityCommon;
  LoadTemplate(commonPath, labels16);
  // The common labels give way to the competition's labelling of this volume.
  ConvertVolume(labels16, competition.labels);

  Normalize(appearance.IntensityType(), templ, source, box, labels16, atlas);
  Say("assigned_sd = %f\n", 0.0);
  Say("Intensity Normalization Complete!\n");

  HeapMatrix3D<unsigned char> full;
  ConvertVolume(full, source);
  HeapMatrix3D<unsigned char> crop;
  CropVolume(crop, full, box);
  const int d0 = full.dim0(), d1 = full.dim1(), d2 = full.dim2();
  templ.Release();
  labels16.Release();
  full.Release();

  if (!appearance.SetVolume(crop, nullptr, nullptr)) {
    Say("The model cannot label %s\n", path.c_str());
    return false;
  }
  Say("computing probability masks...");
  HeapMatrix3D<unsigned char> labels;
  if (!appearance.Segment(nullptr, labels, setting.smoothness, nullptr)) {
    Say("\nThe model cannot label %s\n", path.c_str());
    return false;
  }

  full.SetSize(d0, d1, d2);
  full.Fill(0);
  if (!PasteSubVolume(full, box.x0, box.y0, box.z0, labels)) {
    Say("The labels of %s do not fit its box\n", path.c_str());
    return false;
  }
  source.Release();
  atlas.Release();
  ReadLabelMapping(modelDir, full);

  Say("%s\n", output.c_str());
  return WriteOutput(output, full);
}

// Next whole number of the text at `pos`, as the "%d" of a pair reads it; false when
// there is none or it does not fit 32 bits.
bool NextWholeNumber(const std::string& text, size_t& pos, int& value) {
  const char* start = text.c_str() + pos;
  const char* end = start;
  int64_t v = 0;
  if (!ScanWholeNumber(end, v) || !FitsInt32(v)) return false;
  pos += static_cast<size_t>(end - start);
  value = static_cast<int>(v);
  return true;
}

}  // namespace

void ReadLabelMapping(const std::string& modelDir, HeapMatrix3D<unsigned char>& labels) {
  const std::string path = modelDir + "/" + layout::kAppearanceFolder + "/" + layout::kLabelMappingFile;
  std::FILE* file = OpenFile(path, "r");
  if (file == nullptr) return;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  ApplyLabelMapping(text, labels);
}

void ApplyLabelMapping(const std::string& text, HeapMatrix3D<unsigned char>& labels) {
  std::vector<int> entry(kMappingEntries, -1);
  size_t pos = 0;
  int value = 0, cls = 0;
  while (NextWholeNumber(text, pos, value) && NextWholeNumber(text, pos, cls)) {
    if (cls >= 0 && cls < kMappingEntries) entry[cls] = value;
  }

  if (labels.NumElements() == 0) return;
  for (int z = 0; z < labels.dim0(); ++z)
    for (int y = 0; y < labels.dim1(); ++y)
      for (int x = 0; x < labels.dim2(); ++x) {
        const int e = entry[labels(z, y, x)];
        if (e >= 0) labels(z, y, x) = LowByte(e);
      }
}

bool SegmentVolumes(const Kro_BrainSetting& setting, bool atlasGiven) {
  const std::string source = setting.source.str();
  std::vector<std::string> volumes;
  if (setting.singleFile == 1) {
    volumes.push_back(source);
  } else {
    std::vector<McString> listed;
    ListDirectory(source, ".3dm", listed);
    for (const McString& name : listed) volumes.push_back(name.str());
  }
  if (volumes.empty()) return true;

  if (atlasGiven) {
    std::string output = setting.target.str();
    ToBackslashes(output);
    if (!CheckOutputExtension(output) || !OutputSparesInputs(output, {volumes.front(), gAtlasPath}) ||
        !OutputSparesSubject(output, volumes.front()))
      return false;
    return RunAtlasCompetition(volumes.front(), output);
  }

  bool allWritten = true;
  for (const std::string& path : volumes) {
    std::string output = setting.singleFile == 1 ? setting.target.str()
                                                 : setting.target.str() + "/" + BaseName(path) + "_label.3dm";
    ToBackslashes(output);
    if (!OutputSparesModel(output, setting.modelDir.str()) || !CheckOutputExtension(output) ||
        !OutputSparesInputs(output, {path, gAtlasPath}) || !OutputSparesSubject(output, path) ||
        !SegmentOne(setting, path, output))
      allWritten = false;
  }
  return allWritten;
}
