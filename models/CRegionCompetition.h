#pragma once
// CRegionCompetition: refines an initial labelling of a 3-D intensity volume (in
// practice an atlas label volume) so that region borders follow intensities and edges.
//
// Voxels on a border between labels are offered the label of a face neighbour; a move
// is taken when its energy change is negative. The energy is made of an intensity term
// (a 3-component Gaussian mixture per label, refitted between iterations, against the
// intensity histogram of the voxel's 3 x 3 x 3 neighbourhood), the mean curvature of the
// initial labelling, a size term per label and the Canny edge map of the volume.
//
// Coordinates are (z, y, x) = (slice, row, column); a SubVolume box is (x0, y0, z0, x1,
// y1, z1) with inclusive bounds. After Run, `labels` holds the result with the extents
// of the box (the whole volume without a box).
//
// Random sequence: every RF construction takes one draw from the program-wide
// generator, and the number and order of them is part of the result of a training run
// (tree training draws afterwards). A Run that loads its inputs takes, in this order:
//   InitClasses: numLabels + 1 initial histograms, numLabels + 1 current histograms,
//                1 histogram of the labelled voxels;
//   SetUpFeatureSample: the draws of Edg3DSample::setVolume (its intensity range);
//   Evolve: numLabels + 1 delta histograms, 1 neighbourhood histogram, then 2 for every
//           evaluated voxel whose current label is still possible (two neighbourhood
//           histograms of CandidateEnergies; see there).
// A Run whose inputs do not load takes none.
//
// Console lines (standard output), in order: "Initializing Region Competition...",
// "Calculating Canny Edge...", "#ite = ..., edge = ..., intensity = ..., size = ...",
// "Region Competition...", per iteration "Complete iteration %d" and "Change %d voxels",
// then "Region Competition Complete!".
//
// Threads: the sweeps run on one thread and draw from the program-wide generator; only
// the curvature term of the initial labelling is precomputed on the workers.
#include <cstdint>
#include <string>
#include <vector>

#include "numerics/RF.h"
#include "numerics/SubVolume.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtFid.h"
#include "volume/HeapMatrix3D.h"

class CBrainGMM;
class Edg3DSample;

// The weights with which both roads run the region competition.
constexpr double kRoadEdgeWeight = 4.0;
constexpr double kRoadIntensityWeight = 0.3;
constexpr double kRoadSizeWeight = 1.4;

class CRegionCompetition {
 public:
  CRegionCompetition(double edgeWeight, double intensityWeight, double sizeWeight);
  virtual ~CRegionCompetition();
  CRegionCompetition(const CRegionCompetition&) = delete;
  CRegionCompetition& operator=(const CRegionCompetition&) = delete;

  // Runs the whole competition: loads the volume (".3dm", or an Analyze pair by ".img"
  // / ".hdr") and the initial labels, cropped to `box` (null: the whole volume), fits
  // the mixture, computes the edge map and evolves the labels for up to `iterations`
  // iterations (0 or below: 15). With an `outputPath` (may be null) ending in ".3dm" the
  // labels are saved as a volume file, ending in ".img" as a 16-bit Analyze pair; any
  // other extension (compared exactly) writes nothing.
  // Returns 0, or -1 with one line naming the file or the box when the source volume or
  // the labels cannot be read, the labels do not have the extents the box needs, or the
  // box is empty or not inside the volume. A second Run releases the first one's state.
  int Run(const std::string& volumePath, const std::string& labelPath, int iterations, const char* outputPath,
          const SubVolume* box);

  // The labelling; after Run the result.
  HeapMatrix3D<unsigned char> labels;

 protected:
  // ---- steps of Run (CRegionCompetition.cpp) ----
  // Reads `intensity` (cropped to the box) and `labels`. Label files with the
  // extension "img" are cut to the box unless they already have its extents; any
  // other label file is loaded whole and must have the box's extents. 0 or -1.
  int LoadInputs(const std::string& volumePath, const std::string& labelPath, const SubVolume* box);
  // Histograms, scaled intensity, size terms and the labelled mean from the loaded
  // volumes; voxels of intensity 0 become label 0.
  void InitClasses();
  // The voxel sample that evaluates the mean curvature of the labels as they are now.
  int SetUpFeatureSample();
  // Sampling step of the mixture fit: min(8, ceil(log2(numLabels) + 2)); numLabels >= 1.
  static int SamplingStep(int numLabels);
  // Fits the mixture when there is a label above 0 to fit (nothing for numLabels 0).
  void FitMixture();

  // ---- evolution (CRegionCompetition_evolve.cpp) ----
  // Forward then backward sweeps per iteration; returns the number of iterations done,
  // or -1 when the neighbourhood statistics fail.
  int Evolve();
  void UpdateSizeTerms();

  // ---- energy terms (CRegionCompetition_energy.cpp) ----
  // The voxel has a neighbour of another label; n <= 6: faces, 7..25: and edges,
  // 26 and above: and corners. Neighbours are clamped into the volume.
  static bool IsBoundaryVoxel(const HeapMatrix3D<unsigned char>& labelVolume, int z, int y, int x, int n);
  // Fills `hist` with the intensities of the size^3 block around (z, y, x) (offsets
  // stepping by `step`, positions clamped). label >= 0: every bin starts at 1 and only
  // positions inside the volume whose label is `label` count. -1 for a null hist, a
  // step below 1, or label >= 0 without a label volume.
  static int NeighbourStatistics(const HeapMatrix3D<short>& volume, int z, int y, int x, unsigned char size,
                                 int step, RF* hist, int label, const HeapMatrix3D<unsigned char>* labelVolume);
  // Geometric mean per counted voxel of the likelihood of `hist` under `label`; mode 1
  // uses the label's mixture, mode 0 the reference histogram (null: the label's current
  // histogram). A histogram without counts gives 0.
  double ClassLikelihood(const RF& hist, int16_t label, const RF* reference, int mode);
  // Chooses the candidate label among the first `numNeighbours` neighbours and returns
  // the intensity energy (DBL_MAX: no move; -DBL_MAX: the current label is impossible).
  // `candidate` is set to the neighbour's label and `edge` to the edge map there only
  // when a candidate is found.
  double CandidateEnergies(const RF& hist, int z, int y, int x, int16_t current, int numNeighbours,
                           int16_t& candidate, double& edge);
  // Mean curvature of the initial labelling at the voxel; 0 on a face of the volume.
  // Answered from the memo where PrecomputeFeatureTerms (or an earlier call) filled it.
  double FeatureTerm(int z, int y, int x);
  // Fills the FeatureTerm memo, on the workers (each with a copy of the voxel sample),
  // for the voxels a first sweep evaluates: inside the sweep margin `margin`, of
  // non-zero intensity, on a label border. The term depends on the initial labelling
  // only, so the memo holds exactly what FeatureTerm computes. Draws nothing.
  void PrecomputeFeatureTerms(int margin);
  // Energy change of leaving label `current`; the move is taken when it is below 0.
  double MoveEnergy(double feature, double energy, double edge, int current, int iteration) const;

  // Releases everything a Run builds (volumes, histograms, mixture, voxel sample).
  void ReleaseRunState();
  // A histogram on the common intensity grid, every bin 0. Takes the construction's draw.
  RF* NewGridHistogram() const;
  // Drops the memoised mixture likelihoods (after a fit).
  void ForgetMixtureTerms();
  // The draws of the two neighbourhood histograms of one CandidateEnergies call.
  void TakeNeighbourHistogramDraws();
  // p_b * e^(-g_b) / sqrt(2 pi) of a label's mixture at the value xb of bin b; memoised
  // per fit when the bin lies on the common grid.
  double MixtureBinTerm(int label, int bin, double xb, bool onGrid);
  // g_b: 0 down to 1.6 spreads below the labelled mean, then 1 + (z + 1.6)^2 / 1.6.
  double LowIntensityPenalty(double xb) const;

  HeapMatrix3D<short> intensity;
  double intensityWeight;
  double sizeWeight;
  double edgeWeight;
  double binCount = 32.0;
  int neighbourhoodSize = 3;
  CBrainGMM* mixture = nullptr;
  int maxIterations = 15;
  std::vector<RF*> initialHistograms;  // numLabels + 1, never changed after InitClasses
  std::vector<RF*> currentHistograms;  // numLabels + 1, updated after every iteration
  RF* labelledHistogram = nullptr;
  VectorQo<double> sizeTerms;
  int numLabels = 0;
  HeapMatrix3D<unsigned char> edgeMap;
  HeapMatrix3D<unsigned char> scaledIntensity;
  Edg3DSample* featureSample = nullptr;
  double labelledMean = 0.0;
  double labelledSpread = 0.0;
  double minIntensity = 0.0;
  double maxIntensity = 0.0;
  int changeThreshold = 0;
  int nonEmptyLabels = 0;

  // The two neighbourhood histograms of CandidateEnergies: built (two draws) by its
  // first call of a Run and reused afterwards, each later call still taking the two
  // draws that building them would take.
  RF* currentLabelHistogram = nullptr;
  RF* candidateLabelHistogram = nullptr;
  // The mean-curvature feature ("C", index 15) that FeatureTerm evaluates.
  PbtFid meanCurvatureFid;
  // Memo of MixtureBinTerm: (numLabels + 1) x bins, NaN where not computed yet.
  std::vector<double> mixtureTerms;
  // Memo of MixtureBinTerm raised to a count c of 1 .. kMaxMemoCount: (numLabels + 1) x
  // bins x kMaxMemoCount, NaN where not computed yet.
  static constexpr int kMaxMemoCount = 27;
  std::vector<double> mixturePowers;
  // FeatureTerm per voxel (z, y, x) in labels' layout, and whether it is filled yet.
  std::vector<float> featureTerms;
  std::vector<uint8_t> featureTermKnown;
  // e^(-g_b) of every bin of the common grid (fixed from InitClasses on).
  std::vector<double> penaltyFactors;
  // Test-only: number of CandidateEnergies calls that took their two histogram draws.
  int64_t histogramPairsDrawn = 0;
};
