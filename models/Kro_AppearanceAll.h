#pragma once
// Kro_AppearanceAll: the one object through which segmentation reaches the appearance
// model of a model folder. It reads the folder's "setting.txt" (AppearanceSettings),
// sets the process-wide flags the tree reader and the feature pool depend on, creates
// and loads the discriminative model named there (or reads the generative per-label
// model), keeps the box the model works in, and forwards volumes and requests to the
// model it owns.
//
// Model types: 0 generative (records "%d.apr" beside "appearance.mod"),
// 1 Kro_AppearDiscrmModelVeskSepHippo, 2 Kro_AppearDiscrmModelVesk,
// 3 Kro_AppearDiscrmModelKro40. Flags set before the model's load:
//   type 1: gTreeLayoutFlag 0, gFeatureVersion 0
//   type 2: gTreeLayoutFlag 1, gFeatureVersion 0
//   type 3: gTreeLayoutFlag 1, gFeatureVersion 1, gClassifierVersion from the file.
//
// Load results: true when the settings were read and the model they name loaded.
// Otherwise false, LoadFailed() true and one line printed after the "setting file:"
// line, naming the file (and the value where one is at fault); no model is left:
//   - "setting.txt" missing, not a regular file, unreadable or empty ("Cannot read the
//     model settings <path>: ..."); a missing one still reads the generative model;
//   - a model type that cannot segment: 0 (the generative model, which is read) or
//     one outside 1..3 ("<path> names no model that can segment (ModelType <n>)");
//   - a class count outside 1..256, a radius outside 1..10 or a "Sub-volume" line of
//     fewer than six whole numbers ("invalid model settings in <path>");
//   - model files that do not load or do not fit each other (the model's own line:
//     a tree that does not read, names a feature outside the model's feature pool or
//     has another class count than NumberofClasses, a lift file with a factor that is
//     not finite and positive, a "known.3dm" that does not read whole or has other
//     extents than the box).
// Operations that need a model do nothing (or answer 0 or null) without one.
//
// The generative operations and the face terms are in Kro_AppearanceAll_generative.cpp.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "models/Kro_AppearDiscrmModel.h"
#include "models/Kro_AprncRegionLikelihood.h"
#include "numerics/SubVolume.h"
#include "numerics/VectorQo.h"
#include "volume/HeapMatrix3D.h"

struct AppearanceSettings;

class Kro_AppearanceAll {
 public:
  static constexpr int kLabels = 256;

  // No model, generative type; 256 likelihood records (512 draws of the program-wide
  // generator, two per record).
  Kro_AppearanceAll();
  virtual ~Kro_AppearanceAll();
  Kro_AppearanceAll(const Kro_AppearanceAll&) = delete;
  Kro_AppearanceAll& operator=(const Kro_AppearanceAll&) = delete;

  // Destroys the model (modelType stays as it was).
  virtual void DeleteModel();
  // With a folder: reads "<folder>\setting.txt" (printing "setting file: %s") and loads
  // the model it names (see above). Without a folder: when `labels` is given and a
  // model is loaded, the model's atlas volume becomes a copy of `labels`; returns false.
  virtual bool Load(const char* folder, const HeapMatrix3D<unsigned char>* labels);
  // Reads "<folder>/end/setting.txt" ("setting file for end points: %s") without
  // replacing the model: updates intensityType and classifierVersion and, for model
  // types 1 to 3, the box. No file: the generative model is read, false.
  virtual bool LoadEndPointSetting(const char* folder);
  // volume := a copy of `source`; with a model, the model's SetVolume on that copy
  // with the box (none when box.x1 < 0). False when the model rejects the volume or box.
  virtual bool SetVolume(const HeapMatrix3D<unsigned char>& source, const char* folder, const char* name);

  // Generative model and face terms (Kro_AppearanceAll_generative.cpp).
  virtual bool WriteGenerative(const char* folder);
  virtual bool ReadGenerative(const char* folder);
  virtual bool EstimateGenerative(const HeapMatrix3D<short>& intensities, const HeapMatrix3D<short>& labels,
                                  const char* folder, int first, int last, int offset);
  virtual double VoxelLikelihood(int16_t label, uint8_t axis, int z, int y, int x);
  virtual double ComputeEdgeTerms(int16_t label, uint8_t axis, int z, int y, int x);

  // The model's posterior with the first tree; nothing without a model.
  virtual void Posterior(VectorQo<double>& out, int z, int y, int x);
  // The model's half-resolution labelling (second components of labels 7 and 8 for
  // model types 1 and 2).
  virtual void FastLabelMap(HeapMatrix3D<unsigned char>& labels);
  // The model's auto-context segmentation; false without a model or volume.
  virtual bool Segment(const HeapMatrix3D<unsigned char>* volume, HeapMatrix3D<unsigned char>& labels, float weight,
                       HeapMatrix3D<unsigned char>* probs);
  virtual void GetBox(SubVolume& out) const { out = box; }
  // box := (0, 0, 0, xSize - 1, ySize - 1, zSize - 1).
  virtual void SetWholeVolumeBox(int xSize, int ySize, int zSize);
  // The model's class count; 0 without a model.
  virtual int NumClasses() const;
  virtual void ProbabilityMaps(HeapMatrix3D<unsigned char>* probs);
  // The model's edge volume after ComputeEdgeVolume; null without a model.
  virtual HeapMatrix3D<unsigned char>* EdgeVolume();
  // The voxel pair (p, q) across the face of voxel q = (z, y, x) toward lower
  // coordinates on `axis` (0 z, 1 y, 2 x; other: p = q); true when both lie inside the
  // label volume.
  virtual bool NeighbourBox(int& p0, int& p1, int& p2, int& q0, int& q1, int& q2, uint8_t axis, int z, int y,
                            int x) const;
  virtual float RegionLikelihood(int16_t label, uint8_t axis, int z, int y, int x);
  virtual double PosteriorLikelihood(int16_t label, uint8_t axis, int z, int y, int x);

  bool HasModel() const { return model != nullptr && modelType >= 1 && modelType <= 3; }
  bool LoadFailed() const { return loadFailed; }
  Kro_AppearDiscrmModel* Model() { return model.get(); }
  int ModelType() const { return modelType; }
  uint8_t IntensityType() const { return intensityType; }
  int ClassifierVersion() const { return classifierVersion; }
  const Kro_AprncRegionLikelihood& Likelihood(int label) const { return likelihoods[label]; }
  bool Present(int label) const { return present[label]; }
  // The current labelling read by the face terms (not owned).
  void SetLabelVolume(HeapMatrix3D<unsigned char>* labels) { labelVolume = labels; }
  const HeapMatrix3D<unsigned char>& Volume() const { return volume; }

 private:
  // The pair across a face, with A the side holding `label` and B the other.
  bool FaceSides(int16_t label, uint8_t axis, int z, int y, int x, int a[3], int b[3]) const;
  // Reads the settings file at `path` and keeps its intensity type and classifier version;
  // without a file there it loads the folder's generative model. False (with *error)
  // when the file does not read.
  bool ReadSettingsOrGenerative(const char* folder, const std::string& path, AppearanceSettings& settings,
                                std::string* error);
  // Prints `line`, drops the model and marks the load failed; returns false.
  bool Refuse(const std::string& line);

  std::unique_ptr<Kro_AppearDiscrmModel> model;
  HeapMatrix3D<unsigned char> volume;
  HeapMatrix3D<unsigned char>* labelVolume = nullptr;
  std::vector<Kro_AprncRegionLikelihood> likelihoods;
  VectorQo<bool> present;
  int32_t modelType = 0;
  SubVolume box;
  uint8_t intensityType = 1;
  int32_t classifierVersion = 0;
  bool loadFailed = false;
};
