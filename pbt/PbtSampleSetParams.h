#pragma once
// PbtSampleSetParams: the parameter record every sample set is driven by. The
// training driver fills it, the sample sets read and update it, tree training
// stores the classifier being trained and the node's folder in it. Derived records
// (the voxel training record) add fields and rebuild the text in `describe`.
#include <string>

#include "numerics/VectorQo.h"

class PbtClassifier;
class PbtSample;

class PbtSampleSetParams {
 public:
  PbtSampleSetParams() = default;
  virtual ~PbtSampleSetParams() = default;
  PbtSampleSetParams(const PbtSampleSetParams&) = default;
  PbtSampleSetParams& operator=(const PbtSampleSetParams&) = default;

  // The description text; the base returns it unchanged ("SampleSet Parameters\n").
  // The pointer stays valid until the record changes or is destroyed.
  virtual const char* describe() { return text.c_str(); }

  PbtClassifier* classifier = nullptr;  // trained classifier to apply (or null); not owned
  const char* outFolder = nullptr;      // folder of the current iteration or node; not owned
  int numClasses = 0;                   // number of classes K
  float edgeFraction = 0.0f;            // mean edge value over the interior voxels
  VectorQo<float> classFrequencies;     // voxel frequency of each class
  VectorQo<double> meanClassVoxels;     // selectable voxels per class and case

 protected:
  std::string text = "SampleSet Parameters\n";
};

// The init step both sample sets share: numbers the feature pool of `sample` (each
// fid's poolIndex := its position; nothing for a null sample), sets *nFeatures to the
// pool's size (0 without a sample) and returns the set's text: the record's
// description followed by " numFeatures=<n>\n".
std::string InitSampleSet(PbtSampleSetParams& params, PbtSample* sample, int* nFeatures);
