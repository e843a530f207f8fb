#include "pbt/PbtClassifierParams.h"

#include "pbt/PbtLog.h"

const char* PbtClassTreeParams::describe() {
  std::string t = "BoostedTreeParams:\n";
  AppendFormat(t, " numToTrain=%i\n", numToTrain);
  AppendFormat(t, " deepestDepth=%i\n", deepestDepth);
  AppendFormat(t, " cascaseLevels=%i\n", cascaseLevels);
  AppendFormat(t, " samplesToSave=%i\n", samplesToSave);
  AppendFormat(t, " epsilon=%f\n", static_cast<double>(epsilon));
  AppendFormat(t, " relErrorToStop=%f\n", static_cast<double>(relErrorToStop));
  AppendFormat(t, " fracToStop=%f\n", static_cast<double>(fracToStop));
  if (twoClassClassifier == 0) t += " TwoClassClassifier: AdaBoost\n";
  if (twoClassClassifier == 1) t += " TwoClassClassifier: RealBoost\n";
  // Composed apart from `text`: the learner record's text is appended as it stands.
  if (learnerParams != nullptr) t += learnerParams->describe();
  text = t;
  return text.c_str();
}

const char* PbtAdaBoostParams::describe() {
  std::string t = "AdaBoostParams:\n";
  AppendFormat(t, " numWeak=%i\n", numWeak);
  AppendFormat(t, " coding mode=%i\n", codingMode);
  text = t;
  return text.c_str();
}
