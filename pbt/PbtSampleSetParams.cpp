#include "pbt/PbtSampleSetParams.h"

#include <cstdint>

#include "pbt/PbtLog.h"
#include "pbt/PbtSample.h"

std::string InitSampleSet(PbtSampleSetParams& params, PbtSample* sample, int* nFeatures) {
  *nFeatures = sample != nullptr ? sample->numFeatures() : 0;
  if (sample != nullptr) {
    for (size_t i = 0; i < sample->featurePool.size(); ++i) {
      sample->featurePool[i].poolIndex = static_cast<int32_t>(i);
    }
  }
  // Composed apart from the set's text: the record's description may be its source.
  std::string t = params.describe();
  AppendFormat(t, " numFeatures=%i\n", *nFeatures);
  return t;
}
