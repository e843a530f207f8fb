#pragma once
// Brain3DSampleSet: the multi-class training set of the auto-context training, whose
// samples are voxels of the training cases.
//
// Samples
//   samples[c][j] is the position record of sample j of class c. The base set's
//   entries, weights, masses and feature cache pair with these records by index.
//   getSample positions the one shared Object3DSample (owned by the set, created by
//   the first init or applyClassifier) on the record; the sample loads a case's
//   volumes when the case number changes, so the entries are kept ordered by case.
//
// Files (every name formatted with "/" separators, volume files by extension):
//   data folder:   "I%05i.3dm" case volume, "I%05i_label.3dm" label volume,
//                  "known.3dm", "I%05i_%d_prob.3dm" probability maps (context)
//   labels folder: the iteration's class volumes "I%05i_label.3dm" and case copies
//   out folder:    bootstrap masks "I%05i_bstp.3dm", probability maps
//
// Random sequence: constructing a set constructs acceptDraw and positionDraw (two
// draws); setupDraws constructs a fresh pair (two draws); reservoirAdd draws once
// (or twice, when the draw lands on an empty bin) for every voxel offered to a full
// class, and once more when it replaces a record. clone constructs a new set. Nothing
// else here draws but the shared sample: moving it onto a case it does not hold
// (getSample, setSamplePosition, applyClassifier) loads that case, one draw (see
// Edg3DSample). The base operations say what they draw.
//
// Size checks: a label volume, bootstrap mask or "known.3dm" whose extents differ
// from those of the case it belongs to is reported in one line and the case is
// skipped (no samples, no maps).
#include <cstdint>
#include <string>
#include <vector>

#include "features/EdgSampleSetParams.h"
#include "features/VoxelSampleRecord.h"
#include "numerics/RF.h"
#include "numerics/RF_uniform.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtMSampleSet.h"
#include "volume/HeapMatrix3D.h"

class Object3DSample;

class Brain3DSampleSet : public PbtMSampleSet {
 public:
  // Empty; constructs acceptDraw and positionDraw (one draw each).
  Brain3DSampleSet() = default;
  ~Brain3DSampleSet() override;
  Brain3DSampleSet(const Brain3DSampleSet&) = delete;
  // clear(true), the base part (as PbtMSampleSet assigns it), then the record
  // lists. The two distributions are not copied.
  Brain3DSampleSet& operator=(const Brain3DSampleSet& other);

  PbtMSampleSet* clone() const override;
  PbtMSampleSet* create() const override;

  // Draws the samples of every class from the training cases (reservoir sampling of
  // numTrainingSamples records per class), restricted to the voxels that reach the
  // current tree node when params.classifier is set (bootstrap masks), and sets the
  // counts, weights, masses and entries. params must be an EdgSampleSetParams;
  // anything else ends the run.
  void init(PbtSampleSetParams& params) override;
  // The base selection, then the record lists follow; then sortSamples.
  void selectSamples(const std::vector<VectorQo<double>>& sel) override;
  // The base resampling into the two-class target (an Edg3DSampleSet), then the
  // target's positive and negative record lists are built and its entries renumbered
  // into them; finally the target orders its entries by case.
  void resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives) override;
  // Copies the parent folder's bootstrap masks into params.outFolder (created first).
  void saveBootstrap(PbtSampleSetParams& params) override;
  // The shared sample positioned on samples[c][i]. c and i are not checked.
  PbtSample* getSample(int c, int i) override;
  // The base clear, then every record list and the list of lists emptied.
  void clear(bool deleteTheSample) override;

  // params.loaded := 0; the set is not touched.
  void resetLoaded(EdgSampleSetParams& params) { params.loaded = 0; }

  // Prepares the iteration's labels folder: removes and recreates it, writes the
  // class volume and a copy of the case volume of every case, sets the class
  // frequencies and params.loaded. An unreadable case or label volume ends the run
  // with "Unable to load training volume <name>" / "Unable to load training label
  // <name>" (status 1); a class volume or case copy that cannot be written ends it
  // with "Unable to write <name>" (status 1).
  void prepareTrainingData(EdgSampleSetParams& params);

  // Applies params.classifier to every case. With params.loaded 1 (bootstrap mode)
  // it writes one mask "I%05i<suffix>" per case into params.outFolder: 1 where the
  // voxel reaches the node (probability > 0), else 0. With params.loaded 0 (map mode)
  // it writes the K class-probability maps "I%05i_%d_prob.3dm" of every case, on
  // every second voxel from the border on, into params.outFolder and into the data
  // folder (plus "I%05i_prob.3dm" for K = 2). Nothing without a classifier or cases.
  void applyClassifier(EdgSampleSetParams& params, const char* suffix);

  // The shared sample positioned by the two words of a record
  // (word 0 = case | slice << 16, word 1 = row | column << 16).
  PbtSample* setSamplePosition(uint32_t word0, uint32_t word1);
  // The entries reordered by the case number of their records (min-heap order).
  void sortSamples();

  // The lift factor of a class from the probability histograms of the class (a) and
  // of the rest (b); both are normalised in place. 1.0 when no threshold below 0.5
  // scores best (and when the best threshold is 0).
  static double liftFactor(RF& a, RF& b);

  // The class volume of a label volume for the labels folder: size of the label
  // volume, K + 1 (low byte) everywhere but in the interior (border `border`), where
  // a label l < K stays l and counts[l] grows by one. counts holds K elements.
  static void BuildLabelVolume(HeapMatrix3D<unsigned char>& out, int K, const HeapMatrix3D<unsigned char>& labels,
                               int border, std::vector<int64_t>& counts);

  // The 16-bit class volume of the sampling: -1 everywhere but at interior voxels
  // whose label l has a selected count (and, with a mask, a mask voxel > 0), which
  // get l. Totals count every interior voxel of a label with a total count, selected
  // counts the voxels that got their label (both vectors of K elements). The mask,
  // when given, must have the label volume's extents.
  static void buildClassVolume(const HeapMatrix3D<unsigned char>& labels, const HeapMatrix3D<unsigned char>* mask,
                               int border, std::vector<int64_t>& totals, std::vector<int64_t>& selected,
                               HeapMatrix3D<short>& classes);

  // Offers the record to class c's reservoir of capacity n; `seen` is the number of
  // class-c voxels offered before this one. Draws as the header says.
  void reservoirAdd(int c, int n, int seen, const VoxelSampleRecord& record);
  // acceptDraw := a fresh two-bin RF over {0, 1}; positionDraw := a fresh uniform
  // distribution over 0 .. capacity - 1. Two draws.
  void setupDraws(int capacity);

  std::vector<std::vector<VoxelSampleRecord>> samples;  // by class, then sample index
  RF acceptDraw;           // construction takes one draw
  RF_uniform positionDraw;  // construction takes one draw

 private:
  // The two modes of applyClassifier over cases 0 .. count - 1, each case's voxels
  // visited in steps of `step` (Brain3DSampleSet_masks.cpp, Brain3DSampleSet_maps.cpp).
  void writeBootstrapMasks(EdgSampleSetParams& params, const char* suffix, int count, int step);
  void writeProbabilityMaps(EdgSampleSetParams& params, int count, int step);

  // The set's sample, created (with K context maps and the radius) and owned on
  // first use; its folder := params.dataFolder.
  Object3DSample* ensureSample(EdgSampleSetParams& params);
  static EdgSampleSetParams& voxelParams(PbtSampleSetParams& params, const char* operation);
};
