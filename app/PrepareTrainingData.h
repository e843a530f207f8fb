#pragma once
// Training-data preparation: turns a folder of labelled subjects (Analyze pairs named
// "<name>.brain.hdr" / ".img" with "<name>.label.img" beside them) into the training
// data set of a target folder:
//   label_mapping.txt, setting.txt, mri_intensity_common.3dm, mri_intensity_template.3dm,
//   "%d.img" (+ header) per normalised subject, "I%05i.3dm" / "I%05i_label.3dm" per
//   case (cropped to the training box), atlas.3dm, known.3dm, and "I%05i_atlas.img"
//   (+ header), the region competition of each subject against the atlas.
//
// Subjects: the listing of "*.brain.hdr" sorted by name, the subject whose name before
// the first '.' is "0" moved to the front; the first subject is the template and fixes
// the class table (label values numbered from 0 upward, at most numStructures + 1
// classes).
//
// Every input is checked before anything is written: a missing label file, subject
// volumes or label volumes of other extents than the first subject's labels, a label
// value above 255, no labelled voxel at all (no box), a first subject with fewer than
// numStructures + 1 label values, too many structures for the 8-bit class volumes, and
// subjects whose labels the normalisation cannot use. Each is reported in one line on
// standard output naming the subject or the value, and the result is false. A file
// that cannot be written is reported ("Unable to write <name>") and ends the
// preparation with false.
//
// Random sequence: only the region competitions draw (after everything else).
#include <string>
#include <vector>

#include "numerics/McString.h"
#include "numerics/SubVolume.h"
#include "volume/HeapMatrix3D.h"

// BuildTrainingSet with no preferred label values.
bool PrepareTrainingData(const std::string& source, const std::string& target, int numStructures);

// Prepares the data set; `preferred` label values are numbered right after value 0.
bool BuildTrainingSet(const std::string& source, const std::string& target, int numStructures,
                      const std::vector<int>& preferred);

// Fills the subject list (header paths as listed, backslashes) and the parallel list of
// label files "<source>/<name>.label.img". A label file that does not open prints
// "corresponding label file <path> doesn't exist" and gives false; so does a subject
// whose file name is too long for the listing (200 characters or more), naming it.
bool LoadSubjectLabels(const std::string& source, std::vector<McString>& subjects, std::vector<McString>& labelFiles);

// out := in[z0..z1][y0..y1][x0..x1]; the box must lie inside `in`.
void CropToBox(HeapMatrix3D<short>& out, const HeapMatrix3D<short>& in, const SubVolume& box);

// The class table of a label volume: entry v is -2 for a value that does not occur,
// else its class; values are numbered 0 first, then the preferred ones, then upward
// while the class counter is at most numStructures (later values stay -1). *numClasses
// receives the number of classes given. Negative values are not in the table.
std::vector<int> NumberLabelValues(const HeapMatrix3D<short>& labels, int numStructures,
                                   const std::vector<int>& preferred, int* numClasses);
