// PbtMEcoc: building the code and training the column boosters.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

#include "numerics/RF_uniform.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtLog.h"
#include "pbt/PbtMEcoc.h"
#include "platform/Conversions.h"
#include "platform/Fatal.h"
#include "platform/NativePath.h"

namespace {

// ceil(log2 n), exact for powers of two; 0 for n <= 1.
int CeilLog2(int n) {
  int k = 0;
  while (k < 31 && (int64_t{1} << k) < n) ++k;
  return k;
}

// The fixed code: 15 columns over 10 class rows.
const unsigned char kFixedCode[10][15] = {
    {1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 1}, {0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0},
    {1, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1}, {0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1},
    {1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1}, {0, 1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 0, 0, 1},
    {1, 0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1}, {0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 1, 0, 0, 1},
    {1, 1, 0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1}, {0, 1, 1, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 1},
};

// Columns of the random code: ceil(log2 K) + 2 when that is less than codeBits.
int RandomColumns(int K, int codeBits) {
  const int t = CeilLog2(K) + 2;
  return t < codeBits ? t : codeBits;
}

// Columns of the data-driven code: ceil(log2 K) + (codeBits - ceil(log2 labels)) + 2
// when that is less than codeBits.
int DataDrivenColumns(int K, int labels, int codeBits) {
  const int t = CeilLog2(K) + (codeBits - CeilLog2(labels)) + 2;
  return t < codeBits ? t : codeBits;
}

bool TooManyColumns(int columns, std::string* error) {
  *error = FormatText("PbtMEcoc: a code of %d columns does not fit (at most %d)", columns, PbtMEcoc::kMaxBits);
  return false;
}

}  // namespace

bool PbtMEcoc::buildCode(PbtMSampleSet* set, PbtAdaBoostParams* params, std::string* error) {
  deleteClassifiers();
  numClasses = set->numClasses();
  labelCount = set->numLabels();
  workCode.SetSize(numClasses, kMaxBits);
  workCode.Fill(0);
  resetBits();
  resetClassIndex();

  // The columns the mode asks for, checked before anything is drawn or written.
  const int mode = params->codingMode;
  int columns = 0;
  if (mode == 0 || mode == 1) {
    columns = params->codeFromFile ? params->codeBits
              : mode == 0          ? RandomColumns(numClasses, params->codeBits)
                                   : DataDrivenColumns(numClasses, labelCount, params->codeBits);
  } else if (mode == 2) {
    columns = 15;
  } else if (mode == 3) {
    columns = numClasses;
  }
  if (columns > kMaxBits) {
    allocateCode();
    return TooManyColumns(columns, error);
  }

  std::string title;
  bool built = true;
  switch (mode) {
    case 1:
      built = makeDataDrivenCode(set, params, error);
      title = FormatText("\nData-Driven(%d)\n", params->codeBits);
      break;
    case 0:
      shuffleClassIndex();
      built = makeRandomCode(params, error);
      title = "\nRandom\n";
      break;
    case 2:
      makeFixedCode();
      title = "\nFixed\n";
      break;
    case 3:
      makeOneVsAllCode();
      title = "\nOneVsAll\n";
      break;
    default:
      allocateCode();  // no code and no title; the class lines are still logged
      break;
  }
  if (!built) {
    resetBits();
    allocateCode();
    return false;
  }

  std::string text = title;
  for (int i = 0; i < numClasses; ++i) {
    AppendFormat(text, "%3d  ", set->classOfSlot[static_cast<size_t>(i)]);
    for (int j = 0; j < bits; ++j) AppendFormat(text, "%3d ", code(classIndex[i], j));
    text += "\n";
  }
  WriteLog(params->logName, text);
  return true;
}

void PbtMEcoc::makeOneVsAllCode() {
  resetBits();
  VectorQo<unsigned char> column(numClasses);
  for (int k = 0; k < numClasses; ++k) {
    column.Fill(0);
    column[k] = 1;
    addBit();
    setCodeColumn(column);
  }
  allocateCode();
}

void PbtMEcoc::makeFixedCode() {
  resetBits();
  // The table is made for 10 classes: other rows get 0, missing rows are left out.
  VectorQo<unsigned char> column(numClasses);
  for (int j = 0; j < 15; ++j) {
    column.Fill(0);
    for (int i = 0; i < numClasses && i < 10; ++i) column[i] = kFixedCode[i][j];
    addBit();
    setCodeColumn(column);
  }
  allocateCode();
}

bool PbtMEcoc::appendHalvingColumn() {
  const int K = numClasses;
  // Deliberate construction: the coin of the classes alone in their group (one draw).
  RF_uniform coin;
  coin.Init(0.0, 1.0, 1.0);
  VectorQo<int> group;
  codeGroups(group);
  std::vector<int> size(static_cast<size_t>(K), 0), seen(static_cast<size_t>(K), 0);
  for (int i = 0; i < K; ++i) ++size[static_cast<size_t>(group[i])];

  VectorQo<unsigned char> column(K);
  for (;;) {
    // The seen counters carry over into a retry.
    for (int i = 0; i < K; ++i) {
      const size_t g = static_cast<size_t>(group[i]);
      if (size[g] > 1) {
        column[i] = seen[g] < size[g] / 2 ? 0 : 1;
      } else {
        column[i] = TruncToInt32(coin.Draw()) != 0 ? 1 : 0;
      }
      ++seen[g];
    }
    bool constant = true;
    for (int i = 1; i < K; ++i) constant = constant && column[i] == column[0];
    // With fewer than two classes every column is constant: take it as it is.
    if (!constant || K < 2) break;
  }
  if (!addBit()) return false;
  setCodeColumn(column);
  return true;
}

bool PbtMEcoc::readCodeFile(int columns, std::string* error) {
  std::ifstream in;
  if (!OpenInputStream(in, kCodeFile, std::ios::in)) {
    *error = std::string("Unable to open the code table: ") + kCodeFile;
    return false;
  }
  resetBits();
  VectorQo<unsigned char> column(numClasses);
  for (int b = 0; b < columns; ++b) {
    for (int i = 0; i < numClasses; ++i) {
      int v = 0;
      if (!(in >> v) || (v != 0 && v != 1)) {
        *error = FormatText("Code table too short or not of bits 0 and 1 (%d columns of %d wanted): %s", columns,
                            numClasses, kCodeFile);
        return false;
      }
      column[i] = static_cast<unsigned char>(v);
    }
    if (!addBit()) return TooManyColumns(columns, error);
    setCodeColumn(column);
  }
  return true;
}

bool PbtMEcoc::writeCodeFile() const {
  std::FILE* f = OpenFile(kCodeFile, "w");
  if (f == nullptr) return false;
  for (int b = 0; b < bits; ++b) {
    for (int i = 0; i < workCode.rows; ++i) std::fprintf(f, "%d ", workCode(i, b));
    std::fprintf(f, "\n");
  }
  const bool ok = std::ferror(f) == 0;
  return std::fclose(f) == 0 && ok;
}

bool PbtMEcoc::makeRandomCode(PbtAdaBoostParams* params, std::string* error) {
  if (params->codeFromFile) {
    if (!readCodeFile(params->codeBits, error)) return false;
    allocateCode();
    return true;
  }
  resetBits();
  const int columns = RandomColumns(numClasses, params->codeBits);
  for (int b = 0; b < columns; ++b) {
    if (!appendHalvingColumn()) return TooManyColumns(columns, error);
  }
  std::printf("_num_current_bit = %d\n", bits);
  // The table is kept for a later run that reads it; a failed write loses only that.
  writeCodeFile();
  allocateCode();
  return true;
}

// Data-driven columns: for each new column every feature's best split of the active
// classes is scored (bestSplit over histograms weighed by the class weight masses)
// and the grouping of the best-scoring feature (the first on equal scores) becomes
// the column. The phase ends early, dropping the column just added, when that score
// exceeds 5000 (no feature scores) or when the columns still allowed after it are
// fewer than log2 of the largest group of classes that share a codeword; the rest
// of the columns then come from group halving.
bool PbtMEcoc::makeDataDrivenCode(PbtMSampleSet* set, PbtAdaBoostParams* params, std::string* error) {
  if (params->codeFromFile) {
    if (!readCodeFile(params->codeBits, error)) return false;
    allocateCode();
    return true;
  }
  set->calculateAllFeatures();
  VectorQo<double> masses;
  set->classWeightMasses(masses);
  set->buildHistograms(masses);
  const int columns = DataDrivenColumns(numClasses, labelCount, params->codeBits);

  resetBits();
  bool endedEarly = false;
  VectorQo<unsigned char> grouping, best;
  for (int taken = 0; taken < columns; ++taken) {
    if (!addBit()) return TooManyColumns(columns, error);
    double bestScore = 1e10;
    best = VectorQo<unsigned char>(numClasses);
    for (int f = 0; f < set->numFeatures(); ++f) {
      double score = 0.0, below = 0.0, above = 0.0;
      set->bestSplit(f, &score, &below, &above, &grouping);
      if (f == 0 || score < bestScore) {
        bestScore = score;
        best = grouping;
      }
    }
    setCodeColumn(best);
    VectorQo<int> group;
    codeGroups(group);
    std::vector<int> size(static_cast<size_t>(numClasses), 0);
    int largest = 0;
    for (int i = 0; i < numClasses; ++i) {
      const int s = ++size[static_cast<size_t>(group[i])];
      if (s > largest) largest = s;
    }
    const int allowed = columns - 1 - taken;
    if (bestScore > 5000.0 || (largest > 0 && allowed < std::log2(static_cast<double>(largest)))) {
      removeBit();
      endedEarly = true;
      break;
    }
  }
  if (endedEarly) {
    while (bits < columns) {
      if (!appendHalvingColumn()) return TooManyColumns(columns, error);
    }
  }
  // The set keeps its sample: the columns are trained on it next.
  set->deleteHistograms();
  set->freeFeatures();
  allocateCode();
  return true;
}

float PbtMEcoc::trainColumns(PbtMSampleSet* set, PbtSampleSet* twoClass, PbtAdaBoostParams* params, int n) {
  std::string error;
  if (!buildCode(set, params, &error)) FatalExit(1, error + "\n", stderr);
  VectorQo<unsigned char> column;
  for (int b = 0; b < bits; ++b) {
    getCodeColumn(column, b);
    set->setClassSplit(column);
    set->resampleFrom(twoClass, n, n);
    twoClass->setSample(set->getSampleObject());
    twoClass->balanceWeights(0.5f);
    PbtAdaBoost* booster = new PbtAdaBoost();
    classifiers.push_back(booster);
    booster->train(twoClass, params);
  }
  return 0.0f;
}
