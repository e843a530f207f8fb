#include "pbt/PbtAdaBoost.h"

#include <cmath>
#include <memory>
#include <vector>

#include "numerics/RF.h"
#include "pbt/PbtAdaWeak.h"
#include "pbt/PbtClassifierFactory.h"
#include "pbt/PbtFlags.h"

namespace {

// The smallest typed member: type code, an empty cascade or booster (offset and
// count), alpha.
constexpr int kMinTypedMemberBytes = 1 + 8 + 4;
constexpr int kLegacyMemberBytes = PbtAdaWeak::kRecordSize + 4;

// How many boosters are being read inside each other right now (one thread only).
int gReadNesting = 0;

struct NestingGuard {
  NestingGuard() { ++gReadNesting; }
  ~NestingGuard() { --gReadNesting; }
};

}  // namespace

PbtAdaBoost& PbtAdaBoost::operator=(const PbtAdaBoost& other) {
  copyBoosterFrom(other);
  return *this;
}

PbtClassifier* PbtAdaBoost::clone() const {
  PbtAdaBoost* copy = new PbtAdaBoost();
  *copy = *this;
  return copy;
}

void PbtAdaBoost::write(BinaryWriter& out) const { writeRecord(out, gTypedClassifierFiles != 0); }

bool PbtAdaBoost::read(BinaryReader& in) { return readRecord(in, gTypedClassifierFiles != 0); }

void PbtAdaBoost::writeLegacy(BinaryWriter& out) const { writeRecord(out, false); }

bool PbtAdaBoost::readLegacy(BinaryReader& in) { return readRecord(in, false); }

void PbtAdaBoost::writeRecord(BinaryWriter& out, bool typed) const {
  // A null member has no record: it is left out together with its alpha.
  int32_t n = 0;
  for (const PbtClassifier* m : members) n += m != nullptr ? 1 : 0;
  out.f32(offset);
  out.i32(n);
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i] == nullptr) continue;
    if (typed) {
      PbtClassifierFactory::writeTypedMember(out, *members[i]);
    } else {
      members[i]->write(out);
    }
    out.f32(i < alphas.size() ? alphas[i] : 0.0f);
  }
}

bool PbtAdaBoost::readRecord(BinaryReader& in, bool typed) {
  NestingGuard guard;
  float off = 0.0f;
  int32_t n = 0;
  if (gReadNesting > kMaxNesting || !in.f32(off) || !in.i32(n) ||
      !in.fits(n, typed ? kMinTypedMemberBytes : kLegacyMemberBytes)) {
    in.fail();
    return false;
  }
  // Owned until the record is complete.
  std::vector<std::unique_ptr<PbtClassifier>> read;
  std::vector<float> weights;
  for (int32_t i = 0; i < n; ++i) {
    std::unique_ptr<PbtClassifier> m;
    if (typed) {
      m.reset(PbtClassifierFactory::readTypedMember(in));
    } else {
      m.reset(new PbtAdaWeak());  // deliberate: a legacy member is a stump (two draws)
      if (!m->read(in)) m.reset();
    }
    float alpha = 0.0f;
    if (m == nullptr || !in.f32(alpha)) {
      in.fail();
      return false;
    }
    read.push_back(std::move(m));
    weights.push_back(alpha);
  }
  clear();
  for (std::unique_ptr<PbtClassifier>& m : read) members.push_back(m.release());
  alphas = std::move(weights);
  offset = off;
  return true;
}

float PbtAdaBoost::ensembleScore(PbtSample* sample) {
  float s = 0.0f;
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i] == nullptr) continue;
    if (members[i]->response(sample) >= 0.0f) s += i < alphas.size() ? alphas[i] : 0.0f;
  }
  return s;
}

float PbtAdaBoost::probability(PbtSample* sample) {
  const float s = ensembleScore(sample);
  const float d = s - offset;
  return static_cast<float>(1.0 / (1.0 + std::exp(d * 2 * -2.0)));
}

void PbtAdaBoost::changeToHaveFalseNeg(PbtSampleSet* set, float target) {
  RF hist;  // deliberate: the score histogram takes one draw
  hist.Init(-50.0, 50.0, 0.01);
  set->reset();
  while (set->hasNext()) {
    if (set->next()) hist.Add(ensembleScore(set->current()), set->currentWeight());
  }
  hist.BuildSamplingTable(false);
  // Walk down from the top of the grid (in float) to the first value below which
  // less than `target` of the positive weight lies.
  const float width = static_cast<float>(hist.width);
  float t = static_cast<float>(hist.min + hist.bins * hist.width);
  while (t >= hist.min) {
    if (hist.Cdf(t) < target) break;
    t -= width;
  }
  offset = t;
}

void PbtAdaBoost::changeToHaveFalsePos(PbtSampleSet* set, float target) {
  RF hist;  // deliberate: the score histogram takes one draw
  hist.Init(-50.0, 50.0, 0.01);
  set->reset();
  while (set->hasNext()) {
    if (!set->next()) hist.Add(ensembleScore(set->current()), set->currentWeight());
  }
  hist.BuildSamplingTable(false);
  const float width = static_cast<float>(hist.width);
  const double end = hist.min + hist.bins * hist.width;
  float t = static_cast<float>(hist.min);
  while (t <= end) {
    if (1 - hist.Cdf(t) < target) break;
    t += width;
  }
  offset = t;
}
