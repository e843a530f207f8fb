#include "app/PrepareTrainingData.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/IntensityNormalization.h"
#include "app/SettingsFile.h"
#include "models/CRegionCompetition.h"
#include "numerics/ListDirectory.h"
#include "numerics/TextFunctions.h"
#include "pbt/PbtLog.h"
#include "platform/Conversions.h"
#include "platform/NativePath.h"
#include "volume/AnalyzeVolume.h"
#include "volume/FolderLayout.h"

namespace {

// The largest label value the 8-bit case, label and output volumes can hold.
constexpr int kLargestLabel = 255;
// Region competition of every subject against the atlas.
constexpr int kCompetitionIterations = 15;
// Margin around the labelled voxels that the training box keeps.
constexpr int kBoxMargin = 20;

using layout::CaseFile;
using layout::InFolder;

bool SameExtents(const HeapMatrix3D<short>& a, const HeapMatrix3D<short>& b) {
  return a.dim0() == b.dim0() && a.dim1() == b.dim1() && a.dim2() == b.dim2();
}

std::string ExtentsText(const HeapMatrix3D<short>& v) {
  return FormatText("%d x %d x %d", v.dim0(), v.dim1(), v.dim2());
}

bool ReportWriteFailure(const std::string& name) {
  std::printf("Unable to write %s\n", name.c_str());
  return false;
}

bool SaveBytes(const HeapMatrix3D<unsigned char>& v, const std::string& name) {
  return v.Save(name) || ReportWriteFailure(name);
}

// Reads an Analyze pair; an unreadable voxel file is reported with the name.
bool ReadSubjectVolume(const std::string& name, HeapMatrix3D<short>& v) {
  if (ReadAnalyze(name, v)) return true;
  std::printf("Unable to read %s\n", name.c_str());
  return false;
}

// The class of a label value: its number in the table, or 0 for a value that is
// unnumbered, absent or outside the table (negative or above the first subject's
// largest value).
inline int ClassOf(const std::vector<int>& table, int v) {
  if (v < 0 || v >= static_cast<int>(table.size())) return 0;
  return table[static_cast<size_t>(v)] >= 0 ? table[static_cast<size_t>(v)] : 0;
}

// Values 0 .. 255 that occur in a label volume: its low bytes, or with
// `nonNegativeOnly` its values 0 .. 255 (the volume holds none above 255).
std::vector<bool> PresentValues(const HeapMatrix3D<short>& labels, bool nonNegativeOnly) {
  std::vector<bool> present(256, false);
  for (int z = 0; z < labels.dim0(); ++z)
    for (int y = 0; y < labels.dim1(); ++y)
      for (int x = 0; x < labels.dim2(); ++x) {
        const int v = labels[z][y][x];
        if (nonNegativeOnly && v < 0) continue;
        present[LowByte(v)] = true;
      }
  return present;
}

struct Subject {
  std::string volume;  // header path as listed
  std::string labels;  // "<source>/<name>.label.img"
};

// The checks that need every subject: extents, label range, normalisation and the box.
// The template's labels and volume are kept.
bool CheckSubjects(const std::vector<Subject>& subjects, const HeapMatrix3D<short>& firstLabels,
                   SubVolume* box) {
  // The normalisation of a subject compares, per label value of the first subject, the
  // template under the subject's labels with the subject under the first subject's
  // labels: the subject's (8-bit) labels must not exceed the first subject's largest
  // value; a value of the first subject that the subject lacks is left out of its fit.
  const std::vector<bool> firstValues = PresentValues(firstLabels, true);
  const int largestFirst = firstLabels.Max();
  *box = SubVolume(9999, 9999, 9999, -9999, -9999, -9999);
  for (size_t i = 0; i < subjects.size(); ++i) {
    const Subject& s = subjects[i];
    HeapMatrix3D<short> labels, volume;
    if (!ReadSubjectVolume(s.labels, labels) || !ReadSubjectVolume(s.volume, volume)) return false;
    if (!SameExtents(labels, firstLabels)) {
      std::printf("Label volume %s has extents %s, the first subject's labels %s\n", s.labels.c_str(),
                  ExtentsText(labels).c_str(), ExtentsText(firstLabels).c_str());
      return false;
    }
    if (!SameExtents(volume, firstLabels)) {
      std::printf("Subject volume %s has extents %s, the first subject's labels %s\n", s.volume.c_str(),
                  ExtentsText(volume).c_str(), ExtentsText(firstLabels).c_str());
      return false;
    }
    const int largest = labels.Max();
    if (largest > kLargestLabel) {
      std::printf("Label volume %s holds the label value %d, above %d\n", s.labels.c_str(), largest, kLargestLabel);
      return false;
    }
    if (i > 0) {
      const std::vector<bool> values = PresentValues(labels, false);
      std::string missing;
      for (int v = 0; v < 256; ++v) {
        if (values[static_cast<size_t>(v)] && v > largestFirst) {
          std::printf("Subject %s cannot be normalised: label %d is above the first subject's largest label %d\n",
                      s.volume.c_str(), v, largestFirst);
          return false;
        }
        if (firstValues[static_cast<size_t>(v)] && !values[static_cast<size_t>(v)]) missing += FormatText(" %d", v);
      }
      if (!missing.empty())
        std::printf("Subject %s lacks label values %s of the first subject; they are left out of its "
                    "normalisation\n",
                    s.volume.c_str(), missing.c_str() + 1);
    }
    for (int z = 0; z < labels.dim0(); ++z)
      for (int y = 0; y < labels.dim1(); ++y)
        for (int x = 0; x < labels.dim2(); ++x) {
          if (labels[z][y][x] <= 0) continue;
          box->x0 = std::min(box->x0, x);
          box->y0 = std::min(box->y0, y);
          box->z0 = std::min(box->z0, z);
          box->x1 = std::max(box->x1, x);
          box->y1 = std::max(box->y1, y);
          box->z1 = std::max(box->z1, z);
        }
  }
  if (box->x0 > box->x1) {
    std::printf("No labelled voxel (label above 0) in any subject; no training box\n");
    return false;
  }
  box->x0 = std::max(0, box->x0 - kBoxMargin);
  box->y0 = std::max(0, box->y0 - kBoxMargin);
  box->z0 = std::max(0, box->z0 - kBoxMargin);
  box->x1 = std::min(firstLabels.dim2() - 1, box->x1 + kBoxMargin);
  box->y1 = std::min(firstLabels.dim1() - 1, box->y1 + kBoxMargin);
  box->z1 = std::min(firstLabels.dim0() - 1, box->z1 + kBoxMargin);
  return true;
}

// out := the low byte of every voxel of `in`, at the same extents.
void ToLowBytes(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<short>& in) {
  out.SetSize(in.dim0(), in.dim1(), in.dim2());
  for (int z = 0; z < in.dim0(); ++z)
    for (int y = 0; y < in.dim1(); ++y)
      for (int x = 0; x < in.dim2(); ++x) out[z][y][x] = LowByte(in[z][y][x]);
}

// Box-sized 8-bit volume with the low byte of every voxel of a full-size 16-bit one.
void CropLowBytes(HeapMatrix3D<unsigned char>& out, const HeapMatrix3D<short>& in, const SubVolume& box) {
  HeapMatrix3D<short> cropped;
  CropToBox(cropped, in, box);
  ToLowBytes(out, cropped);
}

// The subjects of the source folder with their label files; false after reporting
// that there are none or that numStructures does not fit the 8-bit label volumes.
bool ListSubjects(const std::string& source, int numStructures, std::vector<Subject>& subjects) {
  std::vector<McString> subjectPaths, labelPaths;
  if (!LoadSubjectLabels(source, subjectPaths, labelPaths)) return false;
  if (subjectPaths.empty()) {
    std::printf("No training subjects (names ending .brain.hdr) in %s\n", source.c_str());
    return false;
  }
  // The consensus marker K + 1 of the 8-bit label volumes must not be a class.
  if (numStructures < 0 || numStructures > kLargestLabel - 2) {
    std::printf("The number of structures %d is outside 0 .. %d\n", numStructures, kLargestLabel - 2);
    return false;
  }
  for (size_t i = 0; i < subjectPaths.size(); ++i) subjects.push_back({subjectPaths[i].str(), labelPaths[i].str()});
  return true;
}

// The class table as the label mapping file: one line per value numbered below K.
bool WriteLabelMapping(const std::string& target, const std::vector<int>& table, int K) {
  const std::string mappingName = InFolder(target, layout::kLabelMappingFile);
  std::string text;
  for (size_t v = 0; v < table.size(); ++v) {
    if (table[v] >= 0 && table[v] < K) text += LabelMappingLine(static_cast<int>(v), table[v]);
  }
  std::FILE* f = OpenFile(mappingName, "wt");
  if (f == nullptr) return ReportWriteFailure(mappingName);
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written) return ReportWriteFailure(mappingName);
  return true;
}

// The template: the first subject as read, saved as the intensity template; `volume`
// (the same subject) is then mapped onto its range.
bool PrepareTemplate(const Subject& s, const std::string& target, const SubVolume& box, HeapMatrix3D<short>& templ,
                     HeapMatrix3D<short>& volume) {
  templ = volume;
  const std::string templName = InFolder(target, layout::kIntensityTemplate);
  if (!templ.Save(templName)) return ReportWriteFailure(templName);
  if (!EstimateIntensityRange(templ, volume, box, target)) {
    std::printf("The template subject %s cannot be normalised\n", s.volume.c_str());
    return false;
  }
  return true;
}

// Another subject's volume normalised against the template over the whole volume, the
// template under the subject's labels, the subject under the first subject's labels.
bool NormaliseSubject(const Subject& s, const HeapMatrix3D<short>& templ, const HeapMatrix3D<short>& firstLabels,
                      HeapMatrix3D<short>& volume) {
  HeapMatrix3D<short> labels;
  if (!ReadSubjectVolume(s.labels, labels)) return false;
  HeapMatrix3D<unsigned char> labels8;
  ToLowBytes(labels8, labels);
  const SubVolume whole(0, 0, 0, volume.dim2() - 1, volume.dim1() - 1, volume.dim0() - 1);
  if (!NormalizeIntensity(templ, volume, whole, firstLabels, labels8, 0, nullptr, 1, std::string())) {
    std::printf("Subject %s cannot be normalised\n", s.volume.c_str());
    return false;
  }
  return true;
}

// Every subject normalised, saved whole ("%d.img") and as its case volume (the low
// bytes of the training box).
bool WriteNormalisedCases(const std::vector<Subject>& subjects, const HeapMatrix3D<short>& firstLabels,
                          const std::string& target, const SubVolume& box) {
  HeapMatrix3D<short> templ;
  for (size_t i = 0; i < subjects.size(); ++i) {
    HeapMatrix3D<short> volume;
    if (!ReadSubjectVolume(subjects[i].volume, volume)) return false;
    if (i == 0 ? !PrepareTemplate(subjects[i], target, box, templ, volume)
               : !NormaliseSubject(subjects[i], templ, firstLabels, volume))
      return false;
    const std::string subjectName = InFolder(target, FormatText(layout::kSubjectAnalyze, static_cast<int>(i)));
    if (WriteAnalyze16(subjectName, volume) != 1) return ReportWriteFailure(subjectName);
    HeapMatrix3D<unsigned char> caseVolume;
    CropLowBytes(caseVolume, volume, box);
    if (!SaveBytes(caseVolume, CaseFile(target, static_cast<int>(i), layout::kCaseVolumeEnding))) return false;
  }
  return true;
}

// The classes the subjects give each voxel of the training box.
struct ClassVotes {
  std::vector<HeapMatrix3D<int>> counts;  // per class, the subjects giving it (32-bit: any number counts exactly)
  HeapMatrix3D<short> consensus;          // the class all subjects give, else -1
};

bool CountClassVotes(const std::vector<Subject>& subjects, const std::vector<int>& table, int K, const SubVolume& box,
                     ClassVotes& votes) {
  const int bz = box.z1 - box.z0 + 1, by = box.y1 - box.y0 + 1, bx = box.x1 - box.x0 + 1;
  votes.counts.resize(static_cast<size_t>(K));
  for (HeapMatrix3D<int>& c : votes.counts) c.SetSize(bz, by, bx);
  votes.consensus.SetSize(bz, by, bx);
  votes.consensus.Fill(-1);
  for (size_t i = 0; i < subjects.size(); ++i) {
    HeapMatrix3D<short> labels;
    if (!ReadSubjectVolume(subjects[i].labels, labels)) return false;
    for (int z = 0; z < bz; ++z)
      for (int y = 0; y < by; ++y)
        for (int x = 0; x < bx; ++x) {
          const int c = ClassOf(table, labels[z + box.z0][y + box.y0][x + box.x0]);
          ++votes.counts[static_cast<size_t>(c)][z][y][x];
          short& agreed = votes.consensus[z][y][x];
          if (i == 0) {
            agreed = static_cast<short>(c);
          } else if (agreed != -1 && agreed != c) {
            agreed = -1;
          }
        }
  }
  return true;
}

// Case label volumes: classes 1 .. K-1, 0 for the rest, K + 1 where all subjects agree.
bool WriteCaseLabels(const std::vector<Subject>& subjects, const std::vector<int>& table, int K, const SubVolume& box,
                     const HeapMatrix3D<short>& consensus, const std::string& target) {
  const int bz = box.z1 - box.z0 + 1, by = box.y1 - box.y0 + 1, bx = box.x1 - box.x0 + 1;
  const unsigned char marker = LowByte(K + 1);
  for (size_t i = 0; i < subjects.size(); ++i) {
    HeapMatrix3D<short> labels;
    if (!ReadSubjectVolume(subjects[i].labels, labels)) return false;
    HeapMatrix3D<unsigned char> out;
    out.SetSize(bz, by, bx);
    for (int z = 0; z < bz; ++z)
      for (int y = 0; y < by; ++y)
        for (int x = 0; x < bx; ++x) {
          const int c = ClassOf(table, labels[z + box.z0][y + box.y0][x + box.x0]);
          out[z][y][x] = consensus[z][y][x] >= 0 ? marker : static_cast<unsigned char>(c > 0 && c < K ? c : 0);
        }
    if (!SaveBytes(out, CaseFile(target, static_cast<int>(i), layout::kCaseLabelsEnding))) return false;
  }
  return true;
}

// The majority atlas (the lowest class wins a tie) and the known classes: the atlas
// class where all subjects agree, K + 1 elsewhere.
bool WriteAtlasAndKnown(const ClassVotes& votes, int K, const std::string& target) {
  const HeapMatrix3D<short>& consensus = votes.consensus;
  const int bz = consensus.dim0(), by = consensus.dim1(), bx = consensus.dim2();
  HeapMatrix3D<unsigned char> atlas, known;
  atlas.SetSize(bz, by, bx);
  known.SetSize(bz, by, bx);
  known.Fill(LowByte(K + 1));
  for (int z = 0; z < bz; ++z)
    for (int y = 0; y < by; ++y)
      for (int x = 0; x < bx; ++x) {
        int best = 0;
        for (int c = 1; c < K; ++c) {
          if (votes.counts[static_cast<size_t>(c)][z][y][x] > votes.counts[static_cast<size_t>(best)][z][y][x]) best = c;
        }
        atlas[z][y][x] = static_cast<unsigned char>(best);
        if (consensus[z][y][x] >= 0) known[z][y][x] = atlas[z][y][x];
      }
  if (!SaveBytes(atlas, InFolder(target, layout::kAtlas))) return false;
  return SaveBytes(known, InFolder(target, layout::kKnown));
}

// The region competition of every subject against the atlas, "I%05i_atlas.img".
bool RunRegionCompetitions(const std::vector<Subject>& subjects, const std::string& target, const SubVolume& box) {
  for (size_t i = 0; i < subjects.size(); ++i) {
    std::string atlasPath = InFolder(target, layout::kAtlas);
    std::string outputPath = CaseFile(target, static_cast<int>(i), layout::kCaseAtlasImageEnding);
    ToBackslashes(atlasPath);
    ToBackslashes(outputPath);
    CRegionCompetition competition(kRoadEdgeWeight, kRoadIntensityWeight, kRoadSizeWeight);
    if (competition.Run(subjects[i].volume, atlasPath, kCompetitionIterations, outputPath.c_str(), &box) != 0) {
      std::printf("Region competition of %s failed\n", subjects[i].volume.c_str());
      return false;
    }
  }
  return true;
}

}  // namespace

void CropToBox(HeapMatrix3D<short>& out, const HeapMatrix3D<short>& in, const SubVolume& box) {
  out.SetSize(box.z1 - box.z0 + 1, box.y1 - box.y0 + 1, box.x1 - box.x0 + 1);
  for (int z = box.z0; z <= box.z1; ++z)
    for (int y = box.y0; y <= box.y1; ++y)
      for (int x = box.x0; x <= box.x1; ++x) out[z - box.z0][y - box.y0][x - box.x0] = in[z][y][x];
}

bool LoadSubjectLabels(const std::string& source, std::vector<McString>& subjects, std::vector<McString>& labelFiles) {
  subjects.clear();
  labelFiles.clear();
  std::vector<McString> listed;
  std::vector<std::string> tooLong;
  ListDirectory(source, layout::kSubjectVolumeEnding, listed, &tooLong);
  // A subject the listing cannot take would be left out of the training unseen.
  if (!tooLong.empty()) {
    std::printf("The subject file %s has a name of %zu characters or more, which the listing cannot take\n",
                tooLong.front().c_str(), kMaxListedName + 1);
    return false;
  }
  for (const McString& path : listed) {
    std::string name = path.str();
    const size_t sep = name.find_last_of("/\\");
    if (sep != std::string::npos) name = name.substr(sep + 1);
    std::string first;
    SplitAtFirst(first, name, '.', false);
    if (first == "0") {
      subjects.insert(subjects.begin(), path);
    } else {
      subjects.push_back(path);
    }
  }
  for (const McString& subject : subjects) {
    // "<name>.brain.hdr" without folder and its last two extensions.
    const std::string name = StripExtension(BaseName(subject.str()));
    const std::string labelPath = FormatText(layout::kSubjectLabels, source.c_str(), name.c_str());
    std::FILE* f = OpenFile(labelPath, "rb");
    if (f == nullptr) {
      std::printf("corresponding label file %s doesn't exist\n", labelPath.c_str());
      return false;
    }
    std::fclose(f);
    labelFiles.push_back(McString(labelPath));
  }
  return true;
}

std::vector<int> NumberLabelValues(const HeapMatrix3D<short>& labels, int numStructures,
                                   const std::vector<int>& preferred, int* numClasses) {
  const int largest = labels.NumElements() > 0 ? labels.Max() : -1;
  std::vector<int> table(static_cast<size_t>(largest + 1), -2);
  for (int z = 0; z < labels.dim0(); ++z)
    for (int y = 0; y < labels.dim1(); ++y)
      for (int x = 0; x < labels.dim2(); ++x) {
        const int v = labels[z][y][x];
        if (v >= 0) table[static_cast<size_t>(v)] = -1;
      }
  int k = 0;
  if (!table.empty() && table[0] == -1) table[0] = k++;
  for (int v : preferred) {
    if (v >= 0 && v < static_cast<int>(table.size()) && table[static_cast<size_t>(v)] == -1) {
      table[static_cast<size_t>(v)] = k++;
    }
  }
  for (size_t v = 0; v < table.size(); ++v) {
    if (table[v] != -1) continue;
    if (k > numStructures) break;
    table[v] = k++;
  }
  *numClasses = k;
  return table;
}

bool PrepareTrainingData(const std::string& source, const std::string& target, int numStructures) {
  return BuildTrainingSet(source, target, numStructures, std::vector<int>());
}

bool BuildTrainingSet(const std::string& source, const std::string& target, int numStructures,
                      const std::vector<int>& preferred) {
  std::vector<Subject> subjects;
  if (!ListSubjects(source, numStructures, subjects)) return false;
  HeapMatrix3D<short> firstLabels;
  if (!ReadSubjectVolume(subjects[0].labels, firstLabels)) return false;
  int K = 0;
  const std::vector<int> table = NumberLabelValues(firstLabels, numStructures, preferred, &K);
  SubVolume box;
  if (!CheckSubjects(subjects, firstLabels, &box)) return false;
  if (K < numStructures + 1) {
    std::printf("The first subject's labels %s hold %d label values; %d structures need %d\n",
                subjects[0].labels.c_str(), K, numStructures, numStructures + 1);
    return false;
  }

  if (!WriteLabelMapping(target, table, K)) return false;
  const std::string commonName = InFolder(target, layout::kIntensityCommon);
  if (!firstLabels.Save(commonName)) return ReportWriteFailure(commonName);
  if (!WriteModelSettings(target, 3, numStructures + 1, box)) {
    return ReportWriteFailure(InFolder(target, layout::kSettingsFile));
  }
  if (!WriteNormalisedCases(subjects, firstLabels, target, box)) return false;

  ClassVotes votes;
  if (!CountClassVotes(subjects, table, K, box, votes)) return false;
  if (!WriteCaseLabels(subjects, table, K, box, votes.consensus, target)) return false;
  if (!WriteAtlasAndKnown(votes, K, target)) return false;
  return RunRegionCompetitions(subjects, target, box);
}
