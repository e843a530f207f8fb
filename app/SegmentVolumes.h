#pragma once
// The segmentation road (training: PrepareTrainingData.h and TrainAutoContext.h).
//
// Sources are 16-bit volumes: a ".3dm" volume file of 16-bit voxels or an Analyze pair.
// Per source volume: the appearance model of "<model>\appearance" is loaded ("appearance
// models ok."), the volume read, a region competition run inside the model's box against
// the atlas (gAtlasPath), its labels handed to the model as the atlas feature's volume,
// the intensities normalised against the model's templates by the model's
// "IntensityType", the box labelled by the auto-context passes with the smoothness
// factor, pasted into a volume of the source's extents (0 outside the box), remapped
// through "label_mapping.txt" and written by the output's extension (".3dm", or an
// Analyze pair for ".img" / ".hdr").
//
// Console lines, in order: "appearance models ok.", "processing volume: <path>",
// "size: depth=.., height=.., width=..", the region competition's lines, the
// normalisation's lines, "assigned_sd = 0.000000", "Intensity Normalization Complete!",
// "computing probability masks..." and the model's lines, then the output path.
//
// A volume fails, with one line naming the file or value and nothing written for it,
// when: the output's extension is not ".3dm", ".img" or ".hdr"; the output lies inside
// the model folder (by its path as written or with links resolved) or inside a folder
// that a linked folder under it leads to, or a file of it (its ".img" or ".hdr", or the
// ".3dm") is a file the run reads, the source's, the atlas's or one of the model folder
// (linked folders entered), by any path; the output is named as a subject's volume
// ("<name>.brain" or "<name>.label" with ".hdr" or ".img") and its ".hdr" or ".img"
// exists in the folder that holds the source, by any path to that folder (links
// followed; such a target in another folder is replaced like any output) (these checked
// before any work; with "-a" only the source, the atlas and the subject's name); the
// appearance models do not load;
// the source cannot be read; the model's box does not lie inside the source; the region
// competition fails; the model cannot label the volume; the output cannot be written.
// The output is written under temporary names beside it and renamed into place when
// complete (WriteVolume), so a run that is stopped or fails leaves no output behind.
#include <string>

#include "volume/HeapMatrix3D.h"

class Kro_BrainSetting;

// Segments setting.source into setting.target with the model folder setting.modelDir
// (singleFile 1), or every ".3dm" volume of the folder setting.source into
// "<target>/<name>_label.3dm" (singleFile 0; a failing volume is reported and skipped).
// With atlasGiven, only the first volume's region competition against gAtlasPath (two
// iterations, no box) is written to the target; no model file is read. True when every
// volume was written (also for an empty folder, where nothing is done).
bool SegmentVolumes(const Kro_BrainSetting& setting, bool atlasGiven);

// Rewrites `labels` through "<modelDir>/appearance/label_mapping.txt": pairs "label class"
// (whitespace-separated whole numbers) map class (0 .. 499) back to its label value; a
// voxel v whose class has a mapping becomes the low 8 bits of that value. Reading stops
// at the first pair that does not read as two numbers. No file: nothing changes.
void ReadLabelMapping(const std::string& modelDir, HeapMatrix3D<unsigned char>& labels);
// The same on the text of such a file.
void ApplyLabelMapping(const std::string& text, HeapMatrix3D<unsigned char>& labels);
