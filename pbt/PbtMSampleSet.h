#pragma once
// PbtMSampleSet: the abstract multi-class training set on which every multi-class
// learner trains (the boosting tree, the output codes, gentle boosting).
//
// Classes, slots and entries
//   Class labels run 0 .. K-1, K = the length of classCount. Per label the set keeps
//   a sample count, one weight per sample (weights[c], classCount[c] long), a mass
//   factor (classMass) and a mask flag (classMask). A class is active when its count
//   is at least gMinClassSamples; the active classes get slots 0, 1, ... in
//   increasing label order (classOfSlot, slotOfClass = -1 for an inactive label).
//   numClasses() is the number of active classes.
//   Indexed by label: classCount, classMass, classMask, weights, slotOfClass.
//   Indexed by active slot: classOfSlot, classSplit, the feature cache, the histograms.
//   Entry e stands for sample entryIndex[e] of class entryClass[e]; the entries fix
//   the order of iteration and may list a class's samples in any order (a derived set
//   sorts them). Entries of inactive classes stay; per-slot operations skip them.
//
// Samples
//   The set holds no samples: getSample(c, i) positions the one shared PbtSample on
//   sample i of class c (the derived set's business). The set owns the shared sample
//   only when ownsSample is set.
//
// Feature cache
//   calculateAllFeatures computes every pool feature of every sample of the active
//   classes into one float row per (slot, feature): cacheOfSlot(s)[poolIndex][i]
//   holds feature poolIndex of sample i of class classOfSlot[s]. The column is the
//   sample's index, whatever the entry order, so cached values, weights and a derived
//   set's per-sample records always pair by the same index. While cached, current()
//   hands out the shared sample in cache mode. Operations that change the counts or
//   the active classes free the cache first.
//
// Public fields: callers read them (and multiply single weights in place); counts,
// entries and the active classes change only through the operations below, which
// keep the invariants above.
//
// Failures: an access that needs a slot or a label the set does not have (an
// inactive class where a slot is needed, a child index or a per-class vector too
// short) ends the program with a one-line message naming the operation and the value
// (status 1). Out-of-memory while caching: "ERROR: out of memory (calculateAllFeatures)"
// on the error stream, status 1.
//
// Random sequence: buildHistograms, bestSplit, chooseClassSplit, resampleFrom,
// resampleToSizes, drawWithoutReplacement and childClassHistograms take draws from
// the program-wide generator; each says how many. Nothing else draws.
#include <cstdint>
#include <string>
#include <vector>

#include "numerics/RF.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtClassHistogram.h"
#include "pbt/PbtSample.h"
#include "pbt/PbtSampleSet.h"
#include "pbt/PbtSampleSetParams.h"

class PbtMSampleSet {
 public:
  PbtMSampleSet() = default;
  // clear(true); the shared sample is deleted when owned.
  virtual ~PbtMSampleSet();
  PbtMSampleSet(const PbtMSampleSet&) = delete;

  // Nothing on self-assignment. Otherwise clear(true) (an owned sample is deleted
  // unless it is the other set's), then copies classSplit, the sample (shared, not
  // owned), the feature count, the cursor, the entries, the slots, counts, mask,
  // masses, weights and featureMin / featureMax. The cache, the histograms, the text
  // and the saved weights are not copied.
  PbtMSampleSet& operator=(const PbtMSampleSet& other);

  // A new set of the derived class assigned from this one / a new empty set.
  virtual PbtMSampleSet* clone() const = 0;
  virtual PbtMSampleSet* create() const = 0;

  virtual const char* getText() { return text.c_str(); }

  // Numbers the sample's feature pool (poolIndex := position), takes its size as the
  // feature count and sets the text to the record's description followed by
  // " numFeatures=<n>\n".
  virtual void init(PbtSampleSetParams& params);

  // Creates "<folder>/<c>" for every class label c with the command
  // "mkdir       <folder>\<c>" (slashes turned into backslashes), then, for every
  // entry in order, lets the entry's sample draw itself into a fresh 8-bit image
  // (PbtSample::renderImage) and writes a non-empty one as a grey TIF at 300 dpi,
  // named by sampleImageName with a per-class count of the images written. Nothing
  // for a null folder. The samples of this system draw nothing.
  virtual void saveSamples(const char* folder);

  // Deletes the non-null sets of `out`, empties it, then appends one clone per label
  // value: the values 0 .. n-1 when n >= 1, else every value that occurs in `labels`,
  // in increasing order. Clone m keeps exactly the entries e with labels[e] == m
  // (selectSamples). labels holds one value per entry; entries past its end belong
  // to no clone. The values name class labels: n above K, or (n < 1) a label outside
  // 0 .. K-1, ends the run with a message naming it (status 1).
  virtual void splitByLabels(std::vector<PbtMSampleSet*>& out, const std::vector<int>& labels, int n);

  // Keeps the samples whose selection factor sel[c][i] is > 0 (missing factors and
  // NaN count as not positive): the survivors of a class are renumbered 0, 1, ... in
  // sample-index order; a survivor's weight becomes factor x old weight; entries of
  // dropped samples are removed, the others keep their order with the new indices;
  // classMass[c] *= new count / old count (0.0 for an old count of 0). Then
  // normalizeWeights and buildActiveClasses. A derived set that keeps per-sample
  // records overrides this, calls it and compacts its records in index order.
  virtual void selectSamples(const std::vector<VectorQo<double>>& sel);

  // Releases the cache; the shared sample leaves cache mode.
  virtual void freeFeatures();

  // Chooses the two-class grouping of the active classes (classSplit). With oneVsRest
  // or at most two active classes: slot 0 negative, every other slot positive; no
  // feature is computed and nothing is drawn. Otherwise: calculateAllFeatures,
  // buildHistograms(classPrior), bestSplit of every feature (the smallest score wins,
  // the earlier feature on equal scores), then every class goes to the side of the
  // winning threshold T that holds more of its samples (values < T below; NaN above);
  // below == above is decided by a coin. If one side ends up empty, a class drawn
  // uniformly is moved over. Leaves the cache and the histograms freed.
  // Draws: those of buildHistograms and of every bestSplit, then one coin
  // (RF_uniform) plus one draw per tie, then one RF_uniform plus one draw for the
  // class that may move. The features are scored on the workers; the draws of their
  // searches (whose values reach no result here) are taken afterwards on the calling
  // thread, as many and in the same place in the sequence as one thread takes them.
  virtual void chooseClassSplit(const VectorQo<double>& classPrior, bool oneVsRest);

  // Fills the two-class set `target` from the active classes by classSplit (flag 1:
  // positive). Per side (negatives first): when fewer samples are available than
  // wanted, all are taken; otherwise `wanted` distinct samples are drawn uniformly
  // (weights play no part). The target is cleared and allocated; its weights are the
  // chosen samples' weights in the order of the class slots and indices, normalised
  // to a total of 1 when positive; its entries hold (index within the class, class
  // label in place of the positive flag) for the derived set to turn into its own
  // records; its masses are the sums of classMass over each side's classes; it gets
  // this set's sample without owning it. classSplit must have numClasses() flags.
  // Draws: per side that draws, one RF construction plus one draw per try.
  virtual void resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives);

  // classSplit of the class's slot; the class must be active.
  virtual bool isPositiveClass(int c);
  // Whether label c has a slot; a label outside 0 .. K-1 ends the run (status 1).
  virtual bool isActiveClass(int c);
  virtual void saveWeights() { savedWeights = weights; }
  // weights := the saved weights, which are then forgotten. The saved weights must
  // fit the current counts (they do when nothing changed the set in between).
  virtual void restoreWeights();
  // classMask := 1 for every class with fewer than n samples, else 0.
  virtual void maskRareClasses(int n);
  // classMask[c] != 0 (false beyond a shorter mask). A label outside both the class
  // labels and the mask (which clear keeps) ends the run (status 1).
  virtual bool isClassOn(int c);
  virtual VectorQo<unsigned char> getClassMask() { return classMask; }
  virtual void setClassMask(VectorQo<unsigned char> mask) { classMask = mask; }
  // Nothing here; a derived set writes its bootstrap data.
  virtual void saveBootstrap(PbtSampleSetParams& params);
  virtual void deleteHistograms() { std::vector<PbtClassHistogram>().swap(histograms); }

  // Scores the thresholds of feature f on the grid of the histograms built by
  // buildHistograms: for every grid value x, each class's cumulative share c below x
  // is weighed by its mass into two class distributions (below / above); the score
  // is their mass-weighted entropy + 0.25 x the mass-weighted density at x / total
  // mass + 0.65 x |classes mostly below - classes mostly above| / classes. The
  // smallest score (strictly) wins: *score, *massBelow, *massAbove and the grouping
  // (numClasses() bytes, 1 = the class lies mostly above; c = 0.5 is decided by a
  // coin) are those of that step, and the threshold x + width / 2.1 is returned.
  // With no scorable step (no bins, or all masses 0) *score stays 1e10, the masses
  // are 0, the grouping all 0 and the threshold is the grid minimum, so such a
  // feature never beats a scorable one. grouping may be null.
  // Draws: one coin (RF_uniform) plus one draw per class at c = 0.5; nothing when
  // there are no histograms for f. Runs on the calling thread.
  virtual double bestSplit(int f, double* score, double* massBelow, double* massAbove,
                           VectorQo<unsigned char>* grouping);
  // Whether buildHistograms made histograms for feature f (else bestSplit scores nothing).
  bool hasHistogramsFor(int f) const;

  // classSplit := one flag per element of v (v[i] != 0); v is indexed by active slot.
  virtual void setClassSplit(const VectorQo<unsigned char>& v);
  // classCount := counts; weights[c] = counts[c] elements of classWeight[c] / counts[c]
  // (the float weight widened to double); classMass = K x 1.0. Frees the cache.
  // Negative counts end the program.
  virtual void setClassCounts(const VectorQo<int>& counts, const VectorQo<float>& classWeight);
  // One entry per sample, class-major in index order; then buildActiveClasses.
  virtual void buildEntries();
  // The shared sample positioned on sample i of class c (in compute mode).
  virtual PbtSample* getSample(int c, int i) = 0;
  // Slots for the classes with at least gMinClassSamples samples. Frees the cache.
  virtual void buildActiveClasses();

  // freeFeatures; with deleteTheSample the sample is deleted when owned and forgotten
  // in any case; deleteHistograms; classSplit, the entries, slots, counts, masses and
  // weights emptied. The mask, featureMin / featureMax and the saved weights stay.
  virtual void clear(bool deleteTheSample);

  // Iteration: reset(), then while next(c, i): current(), currentWeight().
  void reset() { cursor = -1; }
  bool hasNext() const { return cursor + 1 < numEntries(); }
  // Advances; false at the end, else the entry's class label and index.
  bool next(int& c, int& i) {
    if (!hasNext()) return false;
    ++cursor;
    c = entryClass[static_cast<size_t>(cursor)];
    i = entryIndex[static_cast<size_t>(cursor)];
    return true;
  }
  // The sample of the current entry: in cache mode on the entry's column when the
  // features are cached and the class is active, else getSample(c, i). Only after a
  // next() that returned true.
  PbtSample* current();
  // The weight of the current entry (writable). Only after a next() that returned true.
  double& currentWeight() {
    const size_t e = static_cast<size_t>(cursor);
    return weights[static_cast<size_t>(entryClass[e])][entryIndex[e]];
  }

  double getClassMass(int c) const { return classMass[c]; }
  void setClassMass(int c, double v) { classMass[c] = v; }
  // Divides every weight by the total of all weights when it is > 0.
  void normalizeWeights();
  // out := K sums of the class weights, normalised to sum 1 (left as sums when 0).
  void classWeightMasses(VectorQo<double>& out) const;
  // Scales each class's weights to sum to target[c] (the current sum taken in single
  // precision); a class whose sum is not > 0 is left alone.
  void setClassTotals(const VectorQo<double>& target);
  // A new vector of v's shape, every element times s.
  static VectorQo<double> scaledCopy(const VectorQo<double>& v, double s);

  // Fills the cache (see above); featureMin / featureMax become the extremes of every
  // feature over the cached values (1e20 / -1e20 for a feature without values).
  // Nothing is cached when there is no active class.
  void calculateAllFeatures();
  // The cache rows of an active slot, [poolIndex][index]; null when not cached.
  float** cacheOfSlot(int s);
  // The weight vector of the class of an active slot.
  VectorQo<double>& weightsOfSlot(int s);
  // Deletes the shared sample when the set owns it, and forgets it then.
  void deleteSample();

  // Per-class histograms of every cached feature (the cache must be filled): per
  // feature one grid of 21 bins from the smallest to the largest value over the
  // active classes (one bin of width 0 when they are equal); each class histogram
  // counts its values (not weights); its mass is classPrior[its label]. Replaces the
  // previous histograms. Draws: numClasses() x numFeatures() RF constructions, on the
  // calling thread in slot order; the ranges and counts are formed on the workers.
  void buildHistograms(const VectorQo<double>& classPrior);

  // Keeps sizes[c] samples of every class c with sizes[c] < classCount[c], drawn by
  // weight without replacement, each with the new weight 1 (before normalising);
  // a class with sizes[c] >= classCount[c] stays whole with its weights; a class
  // past the end of sizes loses all samples. Then selectSamples (virtual).
  // Draws: per subsampled class those of drawWithoutReplacement.
  void resampleToSizes(const VectorQo<int>& sizes);

  // chosen := t positions drawn without replacement, each draw weighted by the
  // weights that remain (weights[k] belongs to positions[k], taken in single
  // precision; a missing weight counts as 0). Stops early when no weight remains,
  // so a position is never drawn twice. Draws: one RF construction, then one per
  // draw (two when the first lands on an emptied bin).
  static void drawWithoutReplacement(std::vector<int>& chosen, const std::vector<int>& positions,
                                     const VectorQo<double>& weights, int t);

  // hists := K fresh RF over the labels 0 .. K-1 (K draws); entry e adds its weight
  // to the bin of its label in hists[entryChild[e]]; every histogram is normalised.
  // Returns the number of entries per child (K counts). Every entry needs a child
  // index in 0 .. K-1.
  VectorQo<int> childClassHistograms(std::vector<RF>& hists, const std::vector<int>& entryChild);

  // The file name of the k-th image of class c in a sample dump: "<folder>/<c>/sample%06i.tif".
  static std::string sampleImageName(const char* folder, int c, int k);

  int numClasses() const { return static_cast<int>(classOfSlot.size()); }
  int numLabels() const { return classCount.rows * classCount.cols; }
  int numEntries() const { return static_cast<int>(entryClass.size()); }
  int numFeatures() const { return nFeatures; }
  PbtSample* getSampleObject() const { return sample; }
  // Replaces the shared sample (deleting the old one when owned); ownership unchanged.
  void setSample(PbtSample* s);
  void setOwnsSample(bool owns) { ownsSample = owns ? 1 : 0; }
  bool featuresAreCached() const { return featuresCached != 0; }
  const std::vector<PbtClassHistogram>& getHistograms() const { return histograms; }

  VectorQo<bool> classSplit;          // by slot: 1 = positive side of the grouping
  VectorQo<double> classMass;         // by label
  std::vector<int> entryClass;        // by entry: class label
  std::vector<int> entryIndex;        // by entry: index within the class
  std::vector<int> slotOfClass;       // by label: active slot or -1
  std::vector<int> classOfSlot;       // by slot: class label, increasing
  VectorQo<int> classCount;           // by label
  VectorQo<unsigned char> classMask;  // by label (maskRareClasses)
  VectorQo<double> featureMin;        // by feature, from calculateAllFeatures
  VectorQo<double> featureMax;
  std::vector<VectorQo<double>> weights;  // by label, classCount[c] long

 protected:
  // Ends the program: "PbtMSampleSet::<operation>: <what> <value> outside 0..<size-1>".
  [[noreturn]] static void outOfRange(const char* operation, const char* what, int value, int size);
  // The slot of an active class, or the end of the program.
  int slotOrFail(const char* operation, int c) const;

  uint8_t ownsSample = 0;
  PbtSample* sample = nullptr;
  int nFeatures = 0;
  std::string text;
  int cursor = -1;
  std::vector<PbtClassHistogram> histograms;  // by slot, from buildHistograms
  std::vector<VectorQo<double>> savedWeights;
  uint8_t featuresCached = 0;
  // cacheRows[slot][feature][index], and per slot the row pointers handed out.
  std::vector<std::vector<std::vector<float>>> cacheRows;
  std::vector<std::vector<float*>> cacheTables;
};
