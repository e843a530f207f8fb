// PbtMEcoc: structure, code bookkeeping, decoding and the record.
#include "pbt/PbtMEcoc.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtFlags.h"

PbtMEcoc::~PbtMEcoc() { deleteClassifiers(); }

PbtClassifier* PbtMEcoc::clone() const {
  PbtMEcoc* copy = new PbtMEcoc();
  for (const PbtClassifier* c : classifiers) copy->classifiers.push_back(c->clone());
  copy->labelCount = labelCount;
  copy->numClasses = numClasses;
  copy->code = code;
  copy->codewords = codewords;
  copy->workCode = workCode;
  copy->bits = bits;
  copy->codingMode = codingMode;
  copy->classIndex = classIndex;
  return copy;
}

void PbtMEcoc::deleteClassifiers() {
  for (PbtClassifier* c : classifiers) delete c;
  classifiers.clear();
}

void PbtMEcoc::collectFeatures(std::vector<PbtFid>& out) const {
  for (const PbtClassifier* c : classifiers) c->collectFeatures(out);
}

// ---- Code bookkeeping --------------------------------------------------------

void PbtMEcoc::allocateCode() {
  const int K = workCode.rows;
  code.SetSize(bits > 0 ? K : 0, bits);
  for (int r = 0; r < K && bits > 0; ++r) {
    for (int j = 0; j < bits; ++j) code(r, j) = workCode(r, j);
  }
  collectCodewords();
}

bool PbtMEcoc::addBit() {
  if (bits >= workCode.cols || bits >= kMaxBits) return false;
  ++bits;
  return true;
}

void PbtMEcoc::setCodeColumn(const VectorQo<unsigned char>& column) {
  if (bits < 1 || bits > workCode.cols) return;
  const int n = column.rows * column.cols;
  for (int i = 0; i < n && i < workCode.rows; ++i) workCode(i, bits - 1) = column[i];
}

float PbtMEcoc::setCodeColumn2(const VectorQo<unsigned char>& column) {
  setCodeColumn(column);
  return codeQuality();
}

float PbtMEcoc::codeQuality() const {
  const int K = workCode.rows;
  const int n = bits < workCode.cols ? bits : workCode.cols;
  if (n < 1 || K < 1) return 0.0f;
  bool constant = true;
  for (int i = 1; i < K && constant; ++i) constant = workCode(i, n - 1) == workCode(0, n - 1);
  if (constant) return 0.0f;
  // Columns against columns and against the complements of the others.
  int columnDistance = 9999;
  for (int a = 0; a < n; ++a) {
    for (int b = a + 1; b < n; ++b) {
      int differ = 0;
      for (int i = 0; i < K; ++i) differ += (workCode(i, a) != 0) != (workCode(i, b) != 0) ? 1 : 0;
      columnDistance = std::min(columnDistance, std::min(differ, K - differ));
    }
  }
  int rowDistance = 9999;
  for (int i = 0; i < K; ++i)
    for (int j = i + 1; j < K; ++j) rowDistance = std::min(rowDistance, hammingDistance(i, j));
  float quality = 1.0f;
  if (columnDistance != 9999) quality = std::min(quality, static_cast<float>(columnDistance) / K);
  if (rowDistance != 9999) quality = std::min(quality, static_cast<float>(rowDistance) / n);
  return quality;
}

int PbtMEcoc::hammingDistance(int r1, int r2) const {
  int d = 0;
  for (int j = 0; j < bits && j < workCode.cols; ++j) d += workCode(r1, j) != workCode(r2, j) ? 1 : 0;
  return d;
}

void PbtMEcoc::codeGroups(VectorQo<int>& out) const {
  const int K = workCode.rows;
  out.SetSize(K);
  int groups = 0;
  for (int i = 0; i < K; ++i) {
    out[i] = -1;
    for (int j = 0; j < i; ++j) {
      if (hammingDistance(i, j) == 0) {
        out[i] = out[j];
        break;
      }
    }
    if (out[i] < 0) out[i] = groups++;
  }
}

float PbtMEcoc::minRowDistance() const {
  const int K = workCode.rows;
  if (bits < 2) return 0.0f;
  int sum = 0;
  for (int i = 0; i < K; ++i) {
    int nearest = 9999;
    for (int j = 0; j < K; ++j) {
      if (j != i && hammingDistance(i, j) < nearest) nearest = hammingDistance(i, j);
    }
    sum += nearest;
  }
  return static_cast<float>(static_cast<double>(sum) / (bits * K));
}

float PbtMEcoc::codeDistance() const {
  const int K = workCode.rows;
  if (bits < 2 || K < 2) return 0.0f;
  int differ = 0;
  for (int i = 0; i < K; ++i) {
    for (int j = i + 1; j < K; ++j) differ += hammingDistance(i, j) > 0 ? 1 : 0;
  }
  return static_cast<float>(differ / (K * (K - 1) / 2.0));
}

int PbtMEcoc::packBits(const VectorQo<unsigned char>& v) {
  uint32_t packed = 0;
  const int n = v.rows * v.cols;
  for (int i = 0; i < n; ++i) packed = (packed | v[i]) << 1;
  return static_cast<int>(packed);
}

int PbtMEcoc::packBits2(int r) const {
  uint32_t packed = 0;
  for (int j = 0; j < bits && j < code.cols; ++j) packed = (packed << 1) | (code(r, j) != 0 ? 1u : 0u);
  return static_cast<int>(packed);
}

void PbtMEcoc::collectCodewords() {
  codewords.clear();
  for (int r = 0; r < code.rows; ++r) {
    const int w = packBits2(r);
    bool seen = false;
    for (int c : codewords) seen = seen || c == w;
    if (!seen) codewords.push_back(w);
  }
}

void PbtMEcoc::getCodeColumn(VectorQo<unsigned char>& out, int b) const {
  const int K = classIndex.rows * classIndex.cols;
  out.SetSize(K);
  for (int i = 0; i < K; ++i) {
    const int r = classIndex[i];
    out[i] = r >= 0 && r < code.rows && b >= 0 && b < code.cols ? code(r, b) : 0;
  }
}

void PbtMEcoc::resetClassIndex() {
  classIndex.SetSize(numClasses);
  for (int i = 0; i < numClasses; ++i) classIndex[i] = i;
}

void PbtMEcoc::shuffleClassIndex() {
  std::vector<int> items, order;
  for (int i = 0; i < numClasses; ++i) items.push_back(i);
  PbtMSampleSet::drawWithoutReplacement(order, items, VectorQo<double>(numClasses, 1.0), numClasses);
  for (size_t i = 0; i < order.size(); ++i) classIndex[order[i]] = static_cast<int>(i);
}

// ---- Decoding ----------------------------------------------------------------

int PbtMEcoc::codeBit(int codeword, int j) const {
  const int shift = bits - 1 - j;
  if (shift < 0 || shift >= 31) return 0;
  return (static_cast<uint32_t>(codeword) >> shift) & 1u;
}

VectorQo<double> PbtMEcoc::boosterProbabilities(PbtSample* sample) {
  const int n = static_cast<int>(classifiers.size());
  VectorQo<double> q(n);
  for (int j = 0; j < n; ++j) q[j] = classifiers[static_cast<size_t>(j)]->probability(sample);
  return q;
}

void PbtMEcoc::classScores(const VectorQo<double>& q, VectorQo<double>& d) const {
  const int M = static_cast<int>(codewords.size());
  const int n = q.rows * q.cols;
  d.SetSize(M);
  for (int t = 0; t < M; ++t) {
    double p = 1.0;
    for (int j = 0; j < n; ++j) p *= codeBit(codewords[static_cast<size_t>(t)], j) ? q[j] : 1 - q[j];
    d[t] = p;
  }
  d.NormalizeSum();
}

int PbtMEcoc::decodeProduct(PbtSample* sample, VectorQo<double>& d) {
  classScores(boosterProbabilities(sample), d);
  return d.ArgMax();
}

int PbtMEcoc::decodeByLoss(PbtSample* sample, VectorQo<double>& d, double (*loss)(double q, double c)) {
  const VectorQo<double> q = boosterProbabilities(sample);
  const int M = static_cast<int>(codewords.size());
  const int n = q.rows * q.cols;
  d.SetSize(M);
  for (int t = 0; t < M; ++t) {
    double s = 0.0;
    for (int j = 0; j < n; ++j) s += loss(q[j], codeBit(codewords[static_cast<size_t>(t)], j) ? 1.0 : -1.0);
    d[t] = -s;
  }
  return d.ArgMax();
}

int PbtMEcoc::decodeHamming(PbtSample* sample, VectorQo<double>& d) {
  return decodeByLoss(sample, d, [](double q, double c) {
    const double h = q >= 0.5 ? 1.0 : -1.0;  // NaN: -1
    return 0.5 * (1 - c * h);
  });
}

int PbtMEcoc::decodeExpLoss(PbtSample* sample, VectorQo<double>& d) {
  return decodeByLoss(sample, d, [](double q, double c) {
    const double m = 2 * q - 1;
    return std::exp(-c * m);
  });
}

void PbtMEcoc::posterior(PbtSample* sample, VectorQo<double>& out) {
  VectorQo<double> d;
  switch (codingMode) {
    case 0:
    case 1:
      decodeProduct(sample, d);
      break;
    case 2:
      decodeHamming(sample, d);
      break;
    case 3:
      decodeExpLoss(sample, d);
      break;
    default:
      break;
  }
  // One entry per decoded score. A class position whose row lies outside the scores
  // (classes sharing a codeword) or beyond classIndex keeps 0: nothing past the
  // scores is read and the other entries stay where they belong.
  const int M = d.rows * d.cols;
  const int indexed = classIndex.rows * classIndex.cols;
  out.SetSize(M);
  out.Fill(0.0);
  for (int i = 0; i < M && i < indexed; ++i) {
    const int row = classIndex[i];
    if (row >= 0 && row < M) out[i] = d[row];
  }
}

double PbtMEcoc::evaluateMulti(PbtMSampleSet* set, VectorQo<double>& classError) {
  const int K = set->numClasses();
  classError.SetSize(K);
  classError.Fill(0.0);
  std::vector<double> mass(static_cast<size_t>(K), 0.0);
  double total = 0.0;
  VectorQo<double> post;
  int c = 0, i = 0;
  set->reset();
  while (set->next(c, i)) {
    if (!set->isActiveClass(c)) continue;
    const int t = set->slotOfClass[static_cast<size_t>(c)];
    const double w = set->currentWeight();
    mass[static_cast<size_t>(t)] += w;
    posterior(set->current(), post);
    if (post.ArgMax() != t) {
      classError[t] += w;
      total += w;
    }
  }
  for (int t = 0; t < K; ++t) {
    if (mass[static_cast<size_t>(t)] > 0.0) classError[t] /= mass[static_cast<size_t>(t)];
  }
  return total;
}

// ---- Record ------------------------------------------------------------------

void PbtMEcoc::write(BinaryWriter& out) const {
  const bool versioned = gClassifierVersion != 0;
  if (versioned) out.u8(1);
  out.i32(static_cast<int32_t>(classifiers.size()));
  for (const PbtClassifier* c : classifiers) {
    out.u8(0);
    c->write(out);
  }
  out.i32(static_cast<int32_t>(codewords.size()));
  for (int w : codewords) out.i32(w);
  out.i32(numClasses);
  out.i32(labelCount);
  out.i32(bits);
  if (!versioned) return;
  out.i32(codingMode);
  out.i32(classIndex.rows);
  out.i32(classIndex.cols);
  const int n = classIndex.data != nullptr ? classIndex.rows * classIndex.cols : 0;
  for (int k = 0; k < n; ++k) out.i32(classIndex[k]);
}

bool PbtMEcoc::read(BinaryReader& in) {
  // Parsed into locals and committed at the end, so a failed read changes nothing.
  const bool versioned = gClassifierVersion != 0;
  uint8_t mark = 0;
  if (versioned && !in.u8(mark)) return false;
  int32_t n = 0;
  // The smallest booster record is its offset and member count, after the type byte.
  if (!in.i32(n) || !in.fits(n, 9)) return false;
  std::vector<std::unique_ptr<PbtClassifier>> boosters;
  for (int32_t k = 0; k < n; ++k) {
    uint8_t type = 0;
    if (!in.u8(type)) return false;
    // Every booster of this record is a PbtAdaBoost, whatever the byte says.
    std::unique_ptr<PbtClassifier> b(new PbtAdaBoost());
    if (!b->read(in)) return false;
    boosters.push_back(std::move(b));
  }
  int32_t m = 0;
  if (!in.i32(m) || !in.fits(m, 4)) return false;
  std::vector<int> words(static_cast<size_t>(m));
  for (int32_t& w : words) {
    if (!in.i32(w)) return false;
  }
  int32_t classes = 0, labels = 0, nBits = 0;
  if (!in.i32(classes) || !in.i32(labels) || !in.i32(nBits)) return false;
  if (classes < 0 || classes > kMaxClasses || labels < 0 || labels > kMaxClasses || nBits < 0 || nBits > kMaxBits) {
    return false;
  }
  int32_t mode = codingMode;
  VectorQo<int> index;
  if (versioned) {
    int32_t rows = 0, cols = 0;
    if (!in.i32(mode) || !in.i32(rows) || !in.i32(cols) || rows < 0 || cols < 0) return false;
    if (rows >= 1 && cols >= 1) {
      if (!in.fits(static_cast<int64_t>(rows) * cols, 4)) return false;
      index.SetSize(rows, cols);
      for (int k = 0; k < rows * cols; ++k) {
        if (!in.i32(index[k])) return false;
      }
    }
  } else {
    index.SetSize(classes);
    for (int k = 0; k < classes; ++k) index[k] = k;
  }

  deleteClassifiers();
  for (auto& b : boosters) classifiers.push_back(b.release());
  codewords.swap(words);
  numClasses = classes;
  labelCount = labels;
  bits = nBits;
  codingMode = mode;
  classIndex = index;
  return true;
}
