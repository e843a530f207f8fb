#pragma once
// Kro_AppearDiscrmModel: a discriminative appearance model. It applies trained
// multi-class boosting trees to every voxel of a box of a volume through one voxel
// sample (the feature provider) and produces one probability volume per class
// (probability x 255, ProbabilityByte) and a labelling (LabelsFromProbabilities).
// Three kinds differ in the trees they load and in how the posterior of a voxel is
// formed: Kro_AppearDiscrmModelVeskSepHippo (model type 1), Kro_AppearDiscrmModelVesk
// (type 2), Kro_AppearDiscrmModelKro40 (type 3, the one training writes).
//
// Coordinates: every operation that takes or visits voxels uses volume coordinates
// (z, y, x) = (slice, row, column); the box offset is added before a posterior is
// asked for. Voxels outside `innerBox` (the box shrunk by the radius) get class 0.
//
// Ownership: the model owns its provider and the trees of passes 1 and later;
// `classifiers` (the pass order) points at `classifier` for pass 0 and at them.
// The source volume handed to SetVolume is not owned and must outlive the model's use.
//
// Evaluation (EvaluatePosterior, EdgeProbabilityWith) reads the model and writes only
// into the sample and the vectors passed to it: several workers may evaluate at once,
// each with its own voxel sample (set up like the provider) and vectors, provided
// PrepareEvaluation ran first. Nothing on that path opens a file or draws a random
// number.
//
// Lifecycle: constructed empty, loaded once (Load), then SetVolume before Segment,
// ProbabilityMaps, FastLabelMap and ComputeEdgeVolume; without a volume they do
// nothing (Segment returns false).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "numerics/SubVolume.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtMClassTree.h"
#include "volume/HeapMatrix3D.h"

class Object3DSample;

class Kro_AppearDiscrmModel {
 public:
  Kro_AppearDiscrmModel();
  virtual ~Kro_AppearDiscrmModel();
  Kro_AppearDiscrmModel(const Kro_AppearDiscrmModel&) = delete;
  Kro_AppearDiscrmModel& operator=(const Kro_AppearDiscrmModel&) = delete;

  // Loads the model's trees and files from `folder` for n classes and sample radius r,
  // and builds the provider (its feature pool follows gFeatureVersion, which the caller
  // has set). False, after one line naming the file or value, when the model cannot
  // be used. Call once, on a fresh model.
  virtual bool Load(const std::string& folder, int numClasses, int radius) = 0;
  // Takes the volume to segment and the box to work in (null: the whole volume). A box
  // reaching outside the volume is cut to it; an empty volume or an empty cut prints
  // one line and gives false (the model then has no volume). A name longer than one
  // character also reads the edge volume "<folder>/<base name>_edge.3dm".
  virtual bool SetVolume(const HeapMatrix3D<unsigned char>& volume, const char* folder, const char* name,
                         const SubVolume* box);
  // Half-resolution labelling of the box (largest component per label; with
  // secondComponent, labels 7 and 8 keep their second largest too), pasted into a
  // volume of the source volume's extent.
  virtual void FastLabelMap(HeapMatrix3D<unsigned char>& labels, bool secondComponent);
  // The auto-context passes over the box: pass k fills the probability volumes from
  // the tree of pass k and hands them to the provider as the next pass's context,
  // printing "context iteration <k+1>"; then the labelling with `weight`. `probs`
  // (numClasses volumes, resized to the box) or null for volumes of the call's own.
  // False without a volume.
  virtual bool Segment(const HeapMatrix3D<unsigned char>* volume, HeapMatrix3D<unsigned char>& labels,
                       float weight, HeapMatrix3D<unsigned char>* probs);
  // The class posterior (numClasses entries) at a voxel with the tree of pass k,
  // through the provider.
  virtual void Posterior(VectorQo<double>& out, int z, int y, int x, int k);
  // One pass (k = 0) without context into `probs` (numClasses volumes), no labelling.
  virtual void ProbabilityMaps(HeapMatrix3D<unsigned char>* probs);
  // Probability of an edge at a voxel, through the provider (EdgeProbabilityWith).
  virtual float EdgeProbability(int z, int y, int x);
  // The same with `sample` (the provider or a worker's copy); 0 in this base.
  virtual float EdgeProbabilityWith(Object3DSample& sample, int z, int y, int x) const;
  // edgeVolume := the edge probability byte of every voxel of the box, shared among
  // the workers (ParallelFor) with a copy of the provider each.
  virtual void ComputeEdgeVolume();
  // Reads edgeVolume from "<folder>/<base name of name>_edge.3dm"; false when it does
  // not read.
  virtual bool LoadEdgeVolume(const std::string& folder, const std::string& name);
  // lift := the factors of "<folder>\prob_lift.txt" for numClasses classes
  // (LiftFactors.h): 1.0 for the classes it does not name, all 1.0 without the file.
  // False, after one line naming the file and the value, for a factor that is not
  // finite and positive or a file that does not read as pairs (lift unchanged).
  virtual bool LoadProbLift(const std::string& folder);
  // LabelsFromProbabilities over this model's classes.
  virtual void LabelsFromProbabilities(const HeapMatrix3D<unsigned char>* probs, HeapMatrix3D<unsigned char>& labels,
                                       float weight);

  // The posterior at a volume voxel with the tree of pass k, evaluated with `sample`
  // (the provider or a worker's copy of it); `scratch` is the tree's raw output.
  virtual void EvaluatePosterior(Object3DSample& sample, VectorQo<double>& scratch, VectorQo<double>& out, int z,
                                 int y, int x, int k) const = 0;
  // Loads, on this thread, what evaluation would otherwise load lazily (the atlas of
  // the atlas feature), so that evaluation opens no file.
  void PrepareEvaluation();

  int NumClasses() const { return numClasses; }
  int Radius() const { return radius; }
  int NumPasses() const { return static_cast<int>(classifiers.size()); }
  const SubVolume& Box() const { return box; }
  const SubVolume& InnerBox() const { return innerBox; }
  bool HasVolume() const { return sourceVolume != nullptr; }
  Object3DSample* Provider() { return provider.get(); }
  HeapMatrix3D<unsigned char>& EdgeVolumeRef() { return edgeVolume; }
  const VectorQo<double>& Lift() const { return lift; }

 protected:
  // Loads one tree file into `tree` (fresh); false after printing a line naming it.
  static bool LoadTree(PbtMClassTree& tree, const std::string& path);
  // False, after one line naming the file and both counts, when the tree's class count
  // differs from numClasses (the lifts and probability volumes are indexed by class).
  bool CheckClassCount(const PbtMClassTree& tree, const std::string& path) const;
  // False, after one line naming the file and the feature, when the tree names a
  // feature that is no entry of the provider's pool (FirstFeatureOutsidePool.h). Needs
  // the provider.
  bool CheckTreeFeatures(const PbtMClassTree& tree, const std::string& path) const;
  // The tree's posterior, padded with 0 or cut to numClasses entries.
  void TreePosterior(const PbtMClassTree& tree, Object3DSample& sample, VectorQo<double>& scratch,
                     VectorQo<double>& out) const;
  // The tree's posterior at a volume voxel; outside the inner box the background class
  // one-hot instead, and false.
  bool InnerTreePosterior(const PbtMClassTree& tree, Object3DSample& sample, VectorQo<double>& scratch,
                          VectorQo<double>& out, int z, int y, int x) const;
  // Positions the sample at a volume voxel (relative to the box, case -1).
  void Position(Object3DSample& sample, int z, int y, int x) const;
  bool InsideInner(int z, int y, int x) const;
  // out := numClasses zeros with 1.0 at class c.
  void OneHot(VectorQo<double>& out, int c) const;
  // Every entry times its lift factor, then divided by the sum when it is not 0.
  void ApplyLift(VectorQo<double>& out) const;
  // Builds the provider and stores n and r (both already checked by the caller).
  void BuildProvider(int n, int r);
  // Remembers whether any pass tree uses the atlas feature.
  void NoteFeatures();

  HeapMatrix3D<unsigned char> edgeVolume;
  const HeapMatrix3D<unsigned char>* sourceVolume = nullptr;
  PbtMClassTree classifier;
  PbtMClassTree edgeClassifier;
  std::unique_ptr<Object3DSample> provider;
  SubVolume box;
  SubVolume innerBox;
  int16_t radius = 0;
  int16_t numClasses = 0;
  VectorQo<double> lift;
  std::vector<PbtMClassTree*> classifiers;                  // pass order; [0] = &classifier
  std::vector<std::unique_ptr<PbtMClassTree>> extraTrees;  // owned trees of passes 1 ..
  bool usesAtlas = false;

 private:
  // Copies of the provider for workers 1 .. of a loop over `items` (worker 0 uses the
  // provider itself); no draw, no file.
  std::vector<std::unique_ptr<Object3DSample>> WorkerSamples(int items) const;
  // ParallelFor over the rows when there is a sample for every worker, else in order
  // on this thread with worker 0.
  static void ForEachRow(int rows, size_t copies, const std::function<void(int row, int worker)>& body);
  // Fills the probability volumes for passes first .. last - 1 (context between),
  // one row of the box per ParallelFor item.
  void RunPasses(HeapMatrix3D<unsigned char>* probs, int passes, bool withContext);
};
