#pragma once
// Intensity normalisation against a template volume: five methods that rewrite a
// 16-bit volume in place onto the template's scale and then onto 0 .. 255. The
// segmentation road chooses one by the model's "IntensityType" (0 EstimateIntensityRange,
// 1 FitIntensityMapping, 2 MatchIntensityHistograms, 3 RefineIntensityMapping,
// 4 NormalizeIntensity); training uses EstimateIntensityRange for the template subject
// and NormalizeIntensity for every other one.
//
// Boxes are inclusive (x the column, y the row, z the slice). Every conversion of a
// floating result to a voxel truncates toward zero after clamping, so it is defined for
// every value. Degenerate input (no positive voxel, a flat template, a label volume
// larger than a volume, a box outside a volume, a label absent from one side) is
// reported in one line on standard output; the volume is then left as it was, except
// where noted. A `settingsFolder` that is empty writes no settings.
#include <string>

#include "numerics/SubVolume.h"
#include "volume/HeapMatrix3D.h"

// Maps the volume so that the top histogram peaks of volume and template (over the
// box) meet: v -> (v - minV) * ratio * 255 / (maxT - minT), clamped to 0 .. 255. With a
// settings folder, appends "IntensityRange:%d %d" (minT, maxT), "IntensityType: 4" and
// "ClassifierVersion: %d" to its settings file, also when the mapping was refused.
// A histogram none of whose bins holds 0.05 of the mass is not trimmed: its top stays at
// the highest positive voxel. True when the volume was mapped. Constructs two
// distributions (two draws), also when it refuses.
bool EstimateIntensityRange(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume, const SubVolume& box,
                            const std::string& settingsFolder);

// Per-label mean and spread fit of the volume to the template. labels16 is the
// volume's label volume (box-sized, offset by the box into the volume); labels8 the
// template's. `unused` is ignored; `deviation`, when given, receives the assigned
// deviation; `spread` selects the spread mapping. Falls back to EstimateIntensityRange
// (with settingsFolder) when fewer than two labels can be used, before a flat template
// is refused (the fallback does not divide by the template's range). A label of the
// volume's side without voxels on the template's side is left out of the fits. True when
// the volume was mapped; false after a message, the volume then holding at most the
// halving of values above 32767.
bool NormalizeIntensity(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume, const SubVolume& box,
                        const HeapMatrix3D<short>& labels16, const HeapMatrix3D<unsigned char>& labels8, int unused,
                        double* deviation, int spread, const std::string& settingsFolder);

// Linear fit with intercept of per-label template means on volume means (same indices,
// no box; the label volume no larger than either volume), then a fixed map to 0 .. 255
// chosen by `offset`.
void FitIntensityMapping(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                         const HeapMatrix3D<short>& labels16, int offset);

// Scales the volume by the ratio of the template's and the volume's histogram modes
// over the box. The label volume is not read.
void MatchIntensityHistograms(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                              const HeapMatrix3D<short>& labels16, const SubVolume& box);

// Fit without intercept of per-label template means (labels above 0) on volume means.
void RefineIntensityMapping(const HeapMatrix3D<short>& templ, HeapMatrix3D<short>& volume,
                            const HeapMatrix3D<short>& labels16);
