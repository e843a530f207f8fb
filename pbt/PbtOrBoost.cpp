#include "pbt/PbtOrBoost.h"

#include "pbt/PbtAndBoost.h"

PbtOrBoost& PbtOrBoost::operator=(const PbtOrBoost& other) {
  copyBoosterFrom(other);
  return *this;
}

PbtClassifier* PbtOrBoost::clone() const {
  PbtOrBoost* copy = new PbtOrBoost();
  *copy = *this;
  return copy;
}

void PbtOrBoost::write(BinaryWriter& out) const { PbtAndBoost::writeStumpRecord(out, *this); }

bool PbtOrBoost::read(BinaryReader& in) { return PbtAndBoost::readStumpRecord(in, *this); }

float PbtOrBoost::classifyInSet(PbtSampleSet* set, int classFlag, int index) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->classifyInSet(set, classFlag, index) >= 0) return 1.0f;
  }
  return -1.0f;
}

float PbtOrBoost::ensembleScore(PbtSample* sample) {
  for (PbtClassifier* m : members) {
    if (m != nullptr && m->response(sample) >= 0) return 1.0f;
  }
  return -1.0f;
}

float PbtOrBoost::probability(PbtSample* sample) { return ensembleScore(sample) >= 0 ? 1.0f : 0.0f; }

void PbtOrBoost::markAccepted(PbtSampleSet* set, const PbtAdaWeak& stump, int featureIndex,
                              VectorQo<short>& posMarks, VectorQo<short>& negMarks) {
  const float* posRow = set->getFeatureTable(true)[featureIndex];
  const float* negRow = set->getFeatureTable(false)[featureIndex];
  for (int i = 0; i < posMarks.cols; ++i) {
    if (posMarks[i] <= 0 && stump.decide(posRow[i]) >= 0) posMarks[i] = 1;
  }
  for (int i = 0; i < negMarks.cols; ++i) {
    if (negMarks[i] <= 0 && stump.decide(negRow[i]) >= 0) negMarks[i] = 1;
  }
}

float PbtOrBoost::train(PbtSampleSet* set, PbtClassifierParams* params) {
  const VectorQo<double> savedPos = set->getWeights(true);
  const VectorQo<double> savedNeg = set->getWeights(false);
  VectorQo<short> posMarks(set->numSamples(true));
  VectorQo<short> negMarks(set->numSamples(false));
  PbtAndBoost::trainStumpCascade(
      *this, set, params, "PbtOrBoost", "or", posMarks,
      [&](PbtAdaWeak& stump, PbtAdaWeakParams* weak) { return stump.trainVariant1(set, weak, posMarks, negMarks); },
      [&](const PbtAdaWeak& stump, int index) { markAccepted(set, stump, index, posMarks, negMarks); });
  set->getWeights(true) = savedPos;
  set->getWeights(false) = savedNeg;
  float falsePos = 0.0f, falseNeg = 0.0f, error = 0.0f;
  evaluateError(set, &falsePos, &falseNeg, &error, true);
  return error;
}
