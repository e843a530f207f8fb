#include "pbt/PbtBooster.h"

PbtBooster::~PbtBooster() {
  // Not virtual dispatch here: the derived parts are gone already.
  PbtBooster::clear();
}

void PbtBooster::collectFeatures(std::vector<PbtFid>& out) const {
  for (const PbtClassifier* m : members) {
    if (m != nullptr) m->collectFeatures(out);
  }
}

void PbtBooster::clear() {
  for (PbtClassifier* m : members) delete m;
  members.clear();
}

void PbtBooster::copyBoosterFrom(const PbtBooster& other) {
  if (this == &other) return;
  clear();
  for (const PbtClassifier* m : other.members) members.push_back(m != nullptr ? m->clone() : nullptr);
  offset = other.offset;
  alphas = other.alphas;
}
