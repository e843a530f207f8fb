#include "PbtMTestSets.h"

#include <utility>

#include "pbt/PbtSampleSetParams.h"

MVectorSampleSet::MVectorSampleSet(Rows values, std::vector<float> classWeight) : rows(std::move(values)) {
  size_t features = 0;
  for (const auto& cls : rows) {
    if (!cls.empty()) {
      features = cls[0].size();
      break;
    }
  }
  setSample(new TableSample(static_cast<int>(features)));
  setOwnsSample(true);
  PbtSampleSetParams params;
  init(params);
  const int K = static_cast<int>(rows.size());
  VectorQo<int> counts(K);
  VectorQo<float> weight(K);
  for (int c = 0; c < K; ++c) {
    counts[c] = static_cast<int>(rows[static_cast<size_t>(c)].size());
    weight[c] = static_cast<size_t>(c) < classWeight.size() ? classWeight[static_cast<size_t>(c)] : 1.0f / K;
  }
  setClassCounts(counts, weight);
  buildEntries();
}

MVectorSampleSet* MVectorSampleSet::singleFeature(const std::vector<std::vector<float>>& values,
                                                  std::vector<float> classWeight) {
  Rows r(values.size());
  for (size_t c = 0; c < values.size(); ++c) {
    for (float v : values[c]) r[c].push_back({v});
  }
  return new MVectorSampleSet(std::move(r), std::move(classWeight));
}

MVectorSampleSet& MVectorSampleSet::operator=(const MVectorSampleSet& other) {
  if (this == &other) return *this;
  PbtMSampleSet::operator=(other);
  rows = other.rows;
  return *this;
}

PbtMSampleSet* MVectorSampleSet::clone() const {
  MVectorSampleSet* copy = new MVectorSampleSet();
  *copy = *this;
  return copy;
}

PbtSample* MVectorSampleSet::getSample(int c, int i) {
  TableSample* s = tableSample();
  s->setPosition(&rows[static_cast<size_t>(c)][static_cast<size_t>(i)]);
  return s;
}

void MVectorSampleSet::selectSamples(const std::vector<VectorQo<double>>& sel) {
  PbtMSampleSet::selectSamples(sel);
  for (size_t c = 0; c < rows.size(); ++c) {
    std::vector<std::vector<float>> kept;
    for (size_t i = 0; i < rows[c].size(); ++i) {
      const bool keep = c < sel.size() && static_cast<int>(i) < sel[c].rows * sel[c].cols &&
                        sel[c][static_cast<int>(i)] > 0.0;
      if (keep) kept.push_back(rows[c][i]);
    }
    rows[c].swap(kept);
  }
}

void MVectorSampleSet::resampleFrom(PbtSampleSet* target, int maxPositives, int maxNegatives) {
  PbtMSampleSet::resampleFrom(target, maxPositives, maxNegatives);
  VectorSampleSet* vs = dynamic_cast<VectorSampleSet*>(target);
  if (vs == nullptr) return;
  vs->posValues.clear();
  vs->negValues.clear();
  vs->reset();
  while (vs->hasNext()) {
    vs->next();
    int i = 0;
    uint16_t c = 0;
    vs->getCurrentEntry(i, c);
    if (!isActiveClass(c)) continue;
    const bool positive = isPositiveClass(c);
    auto& list = positive ? vs->posValues : vs->negValues;
    list.push_back(rows[c][static_cast<size_t>(i)]);
    vs->setCurrentEntry(static_cast<int>(list.size()) - 1, positive ? 1 : 0);
  }
}

MVectorSampleSet* TwoGroupSet() {
  MVectorSampleSet::Rows rows(4);
  for (int c = 0; c < 4; ++c) {
    for (int i = 0; i < 10; ++i) {
      const float low = static_cast<float>(i + c / 2);
      rows[static_cast<size_t>(c)].push_back({static_cast<float>((i * 4 + c) % 41), c % 2 ? 30 + low : low});
    }
  }
  return new MVectorSampleSet(rows);
}
