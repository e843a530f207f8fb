#include "pbt/PbtClassifier.h"

#include <cstdio>
#include <fstream>

#include "platform/Fatal.h"
#include "platform/NativePath.h"

float PbtClassifier::train(PbtSampleSet*, PbtClassifierParams*) { return 0.0f; }

float PbtClassifier::probabilityInSet(PbtSampleSet*, int, int) { return 0.5f; }

void PbtClassifier::changeToHaveFalseNeg(PbtSampleSet*, float) {
  FatalExit(1, "changeToHaveFalseNeg: Not implemented!\n", stderr);
}

void PbtClassifier::changeToHaveFalsePos(PbtSampleSet*, float) {
  FatalExit(1, "changeToHaveFalseNeg: Not implemented!\n", stderr);
}

float PbtClassifier::classifyInSet(PbtSampleSet*, int, int) { return 1.0f; }

void PbtClassifier::posterior(PbtSample* sample, VectorQo<double>& out) {
  out.SetSize(2);
  const float p = probability(sample);
  out[0] = 1.0 - p;
  out[1] = p;
}

float PbtClassifier::score(PbtSample*) { return 0.0f; }

float PbtClassifier::response(PbtSample* sample) {
  const double p = probability(sample);
  return static_cast<float>((p - 0.5) * 2);
}

bool PbtClassifier::save(const char* fileName, std::string* error) const {
  std::ofstream out;
  if (!OpenOutputStream(out, fileName)) {
    if (error != nullptr) *error = std::string("Unable to write classifier file: ") + fileName;
    return false;
  }
  BinaryWriter writer(out);
  write(writer);
  out.close();
  if (!writer.ok() || out.fail()) {
    std::remove(NativePath(fileName).c_str());
    if (error != nullptr) *error = std::string("Unable to write classifier file: ") + fileName;
    return false;
  }
  return true;
}

bool PbtClassifier::load(const char* fileName, std::string* error) {
  std::ifstream in;
  if (!OpenInputStream(in, fileName)) {
    if (error != nullptr) *error = std::string("Unable to open classifier file: ") + fileName;
    return false;
  }
  BinaryReader reader(in);
  if (!read(reader)) {
    if (error != nullptr) *error = std::string("Truncated or corrupt classifier file: ") + fileName;
    return false;
  }
  // Nothing follows a record: trailing bytes mean the file holds something else.
  if (reader.remaining() > 0) {
    if (error != nullptr) *error = std::string("Unexpected bytes after the classifier record: ") + fileName;
    return false;
  }
  return true;
}

void PbtClassifier::evaluateError(PbtSampleSet* set, float* falsePos, float* falseNeg,
                                  float* total, bool weighted) {
  const int nPos = set->numSamples(true);
  const int nNeg = set->numSamples(false);
  *falsePos = 0.0f;
  *falseNeg = 0.0f;
  set->reset();
  while (set->hasNext()) {
    const bool positive = set->next();
    const float p = probability(set->current());
    const float w = weighted ? static_cast<float>(set->currentWeight()) : 1.0f;
    if (!positive && p >= 0.5f) *falsePos += w;
    if (positive && p < 0.5f) *falseNeg += w;
  }
  if (weighted) {
    *total = *falsePos + *falseNeg;
    float posSum = 0.0f, negSum = 0.0f;
    const VectorQo<double>& pw = set->getWeights(true);
    const VectorQo<double>& nw = set->getWeights(false);
    double s = 0.0;
    for (int i = 0; pw.data != nullptr && i < pw.rows * pw.cols; ++i) s += pw[i];
    posSum = static_cast<float>(s);
    s = 0.0;
    for (int i = 0; nw.data != nullptr && i < nw.rows * nw.cols; ++i) s += nw[i];
    negSum = static_cast<float>(s);
    *falseNeg /= posSum;
    *falsePos /= negSum;
  } else {
    *total = (*falsePos + *falseNeg) / static_cast<float>(nPos + nNeg);
    *falseNeg /= static_cast<float>(nPos);
    *falsePos /= static_cast<float>(nNeg);
  }
}
