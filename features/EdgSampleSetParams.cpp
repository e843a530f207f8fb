#include "features/EdgSampleSetParams.h"

#include "pbt/PbtLog.h"

namespace {

const char* OrNull(const char* s) { return s != nullptr ? s : "(null)"; }

}  // namespace

const char* EdgSampleSetParams::describe() {
  // Composed in a fresh string: the folders may be any length.
  std::string t = "EdgSampleSetParams:\n";
  AppendFormat(t, " dirTrainData=%s\n", OrNull(dirTrainData));
  AppendFormat(t, " dirTestData=%s\n", OrNull(dirTestData));
  AppendFormat(t, " numTrain=%i\n", numTrain);
  AppendFormat(t, " num training samples=%i\n", numTrainingSamples);
  AppendFormat(t, " radius=%i\n", radius);
  text = t;
  return text.c_str();
}
