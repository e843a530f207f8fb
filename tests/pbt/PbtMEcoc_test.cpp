#include "pbt/PbtMEcoc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PbtMTestSets.h"
#include "PbtTestSets.h"
#include "numerics/UniformRandom.h"
#include "pbt/PbtAdaBoost.h"
#include "pbt/PbtFlags.h"
#include "platform/NativePath.h"
#include "tests/common/TestSupport.h"

namespace {

// A classifier with a fixed probability.
class ConstantClassifier : public PbtClassifier {
 public:
  explicit ConstantClassifier(float p) : p_(p) {}
  PbtClassifier* clone() const override { return new ConstantClassifier(p_); }
  PbtClassifier* create() const override { return new ConstantClassifier(0.5f); }
  void write(BinaryWriter&) const override {}
  bool read(BinaryReader&) override { return true; }
  float probability(PbtSample*) override { return p_; }
  void collectFeatures(std::vector<PbtFid>&) const override {}

 private:
  float p_;
};

class ScopedVersion {
 public:
  explicit ScopedVersion(int v) : saved_(gClassifierVersion) { gClassifierVersion = v; }
  ~ScopedVersion() { gClassifierVersion = saved_; }

 private:
  int saved_;
};

// Runs the test in a fresh working folder (the code table lives in the working folder).
class InTempFolder {
 public:
  InTempFolder() : saved_(std::filesystem::current_path()) { std::filesystem::current_path(tmp.path()); }
  ~InTempFolder() { std::filesystem::current_path(saved_); }
  TempFolder tmp;

 private:
  std::filesystem::path saved_;
};

std::vector<int> Column(const PbtMEcoc& e, int b) {
  std::vector<int> out;
  for (int r = 0; r < e.workCode.rows; ++r) out.push_back(e.workCode(r, b));
  return out;
}

std::vector<double> Values(const VectorQo<double>& v) {
  std::vector<double> out;
  for (int i = 0; i < v.rows * v.cols; ++i) out.push_back(v[i]);
  return out;
}

// K classes of `n` samples; feature k is high (10 + i) for class k and low (i / 10)
// otherwise, so every one-versus-all column is separable by one stump.
MVectorSampleSet* IndicatorSet(int K, int n) {
  MVectorSampleSet::Rows rows(static_cast<size_t>(K));
  for (int c = 0; c < K; ++c) {
    for (int i = 0; i < n; ++i) {
      std::vector<float> row;
      for (int k = 0; k < K; ++k) row.push_back(k == c ? 10.0f + i : i / 10.0f);
      rows[static_cast<size_t>(c)].push_back(row);
    }
  }
  return new MVectorSampleSet(rows);
}

PbtAdaBoostParams CodeParams(int mode, int codeBits, const std::string& log) {
  PbtAdaBoostParams p;
  p.codingMode = mode;
  p.codeBits = codeBits;
  p.numWeak = 3;
  p.verbose = 0;
  p.logName = log;
  return p;
}

// Two classes, one-versus-all code (rows 10 and 01) and boosters answering p0, p1.
void TwoClassCode(PbtMEcoc& e, float p0, float p1) {
  e.numClasses = 2;
  e.bits = 2;
  e.codewords = {2, 1};
  e.resetClassIndex();
  e.classifiers = {new ConstantClassifier(p0), new ConstantClassifier(p1)};
}

std::string Bytes(const PbtClassifier& c) { return RecordBytes(c); }

std::string HexOf(const PbtClassifier& c) {
  const std::string b = Bytes(c);
  return ToHex(std::vector<uint8_t>(b.begin(), b.end()));
}

bool ReadBytes(PbtClassifier& c, const std::string& bytes) {
  std::istringstream in(bytes);
  BinaryReader r(in);
  return c.read(r) && r.remaining() == 0;
}

}  // namespace

TEST(PbtMEcocTest, OneVsAllCodeRowsCodewordsAndDistances) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 2));
  PbtAdaBoostParams params = CodeParams(3, 9, tmp.file("log.txt"));
  PbtMEcoc e;
  std::string error;
  ResetUniformRandomForTesting();
  ASSERT_TRUE(e.buildCode(set.get(), &params, &error)) << error;
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 0);
  EXPECT_EQ(e.bits, 3);
  EXPECT_EQ(e.numClasses, 3);
  EXPECT_EQ(e.labelCount, 3);
  EXPECT_EQ(e.codewords, (std::vector<int>{4, 2, 1}));
  EXPECT_FLOAT_EQ(e.codeDistance(), 1.0f);
  EXPECT_FLOAT_EQ(e.minRowDistance(), 6.0f / 9);
  EXPECT_EQ(e.packBits2(2), 1);
  EXPECT_EQ(ReadFileText(tmp.file("log.txt")),
            "\nOneVsAll\n"
            "  0    1   0   0 \n"
            "  1    0   1   0 \n"
            "  2    0   0   1 \n");

  VectorQo<unsigned char> v(3);
  v[0] = 1;
  v[2] = 1;
  EXPECT_EQ(PbtMEcoc::packBits(v), 10);
  VectorQo<int> groups;
  e.codeGroups(groups);
  EXPECT_EQ(groups[2], 2);
  e.bits = 1;  // over the first column only, classes 1 and 2 share a group
  e.codeGroups(groups);
  EXPECT_EQ(groups[0], 0);
  EXPECT_EQ(groups[1], 1);
  EXPECT_EQ(groups[2], 1);
  EXPECT_EQ(e.codeDistance(), 0.0f);
}

TEST(PbtMEcocTest, CodeQualityMeasuresColumnAndRowSeparation) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 2));
  PbtAdaBoostParams params = CodeParams(3, 9, tmp.file("log.txt"));
  PbtMEcoc e;
  std::string error;
  ASSERT_TRUE(e.buildCode(set.get(), &params, &error)) << error;
  // One-vs-all over 3 classes: each column is one flip away from another's
  // complement (1 of 3 rows), rows lie 2 of 3 columns apart.
  EXPECT_FLOAT_EQ(e.codeQuality(), 1.0f / 3);
  e.bits = 1;  // one column and three rows 1, 0, 0: rows 1 and 2 coincide
  EXPECT_FLOAT_EQ(e.codeQuality(), 0.0f);
  e.bits = 2;
  VectorQo<unsigned char> constant(3);
  constant.Fill(1);
  EXPECT_EQ(e.setCodeColumn2(constant), 0.0f);  // a constant newest column separates nothing
  EXPECT_EQ(e.workCode(2, 1), 1);
}

TEST(PbtMEcocTest, FixedCodeTakesTheTableForTheClassesThereAre) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  for (int K : {10, 4, 12}) {
    std::unique_ptr<MVectorSampleSet> set(IndicatorSet(K, 1));
    PbtAdaBoostParams params = CodeParams(2, 9, tmp.file("log.txt"));
    PbtMEcoc e;
    std::string error;
    ASSERT_TRUE(e.buildCode(set.get(), &params, &error)) << error;
    EXPECT_EQ(e.bits, 15) << K;
    EXPECT_EQ(e.packBits2(0), 0x614D) << K;  // 110000101001101
    EXPECT_EQ(e.packBits2(3), 0x1B85) << K;  // 001101110000101
    if (K > 10) {
      EXPECT_EQ(e.packBits2(11), 0) << K;
    }
  }
}

TEST(PbtMEcocTest, RandomCodeHalvesGroupsAndWritesTheCodeTable) {
  ScopedMinClassSamples min(1);
  InTempFolder dir;
  // The shuffle of the class rows: one construction and one draw per class.
  PbtMEcoc shuffled;
  shuffled.numClasses = 5;
  shuffled.resetClassIndex();
  ResetUniformRandomForTesting();
  shuffled.shuffleClassIndex();
  EXPECT_EQ(UniformRandomDrawCountForTesting(), 6);

  struct Case {
    int K, codeBits, columns;
  };
  // A single class makes only constant columns: they are taken as they come.
  for (const Case& c : {Case{4, 9, 4}, Case{128, 9, 9}, Case{1, 9, 2}, Case{5, 3, 3}}) {
    std::unique_ptr<MVectorSampleSet> set(IndicatorSet(c.K, 1));
    PbtAdaBoostParams params = CodeParams(0, c.codeBits, dir.tmp.file("log.txt"));
    PbtMEcoc e;
    std::string error;
    testing::internal::CaptureStdout();
    ResetUniformRandomForTesting();
    ASSERT_TRUE(e.buildCode(set.get(), &params, &error)) << error;
    const long long draws = UniformRandomDrawCountForTesting();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "_num_current_bit = " + std::to_string(c.columns) + "\n");
    EXPECT_EQ(e.bits, c.columns) << c.K;
    // The shuffle (1 + K), then one coin per column plus one draw per lone class.
    EXPECT_GE(draws, 1 + c.K + c.columns) << c.K;
    if (c.K == 4) {
      // Halving: the first column splits the one group, the second each half.
      EXPECT_EQ(Column(e, 0), (std::vector<int>{0, 0, 1, 1}));
      EXPECT_EQ(Column(e, 1), (std::vector<int>{0, 1, 0, 1}));
      EXPECT_EQ(e.codewords.size(), 4u);  // distinct after two columns already
    }
    // classIndex is a permutation of the class rows.
    std::vector<int> order;
    for (int i = 0; i < c.K; ++i) order.push_back(e.classIndex[i]);
    std::sort(order.begin(), order.end());
    for (int i = 0; i < c.K; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);

    // The table read back gives the same columns.
    params.codeFromFile = 1;
    params.codeBits = c.columns;
    PbtMEcoc again;
    ASSERT_TRUE(again.buildCode(set.get(), &params, &error)) << error;
    ASSERT_EQ(again.bits, c.columns);
    for (int b = 0; b < c.columns; ++b) EXPECT_EQ(Column(again, b), Column(e, b)) << c.K << " column " << b;
  }
  std::istringstream table(ReadFileText("code.txt"));
  std::string line;
  std::getline(table, line);
  EXPECT_EQ(line.size(), 10u);  // "%d " for each of 5 classes
}

TEST(PbtMEcocTest, DataDrivenCodeStartsWithTheSplitOfTheSeparatingFeature) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  std::unique_ptr<MVectorSampleSet> set(TwoGroupSet());
  PbtAdaBoostParams params = CodeParams(1, 9, tmp.file("log.txt"));
  PbtMEcoc e;
  std::string error;
  ASSERT_TRUE(e.buildCode(set.get(), &params, &error)) << error;
  EXPECT_EQ(Column(e, 0), (std::vector<int>{0, 1, 0, 1}));
  // The same split keeps winning until no column would be left for the groups of two;
  // the last column then halves them.
  EXPECT_EQ(e.bits, 9);
  EXPECT_EQ(Column(e, 7), (std::vector<int>{0, 1, 0, 1}));
  EXPECT_EQ(Column(e, 8), (std::vector<int>{0, 0, 1, 1}));
  EXPECT_FALSE(set->featuresAreCached());
  EXPECT_NE(set->getSampleObject(), nullptr);
  EXPECT_EQ(ReadFileText(tmp.file("log.txt")).substr(0, 16), "\nData-Driven(9)\n");

  // No feature can score (every class mass 0): the columns all come from halving.
  for (auto& w : set->weights) w.Fill(0.0);
  PbtMEcoc halving;
  ASSERT_TRUE(halving.buildCode(set.get(), &params, &error)) << error;
  EXPECT_EQ(Column(halving, 0), (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(Column(halving, 1), (std::vector<int>{0, 1, 0, 1}));
}

TEST(PbtMEcocTest, CodesThatCannotBeBuiltFailWithOneLine) {
  ScopedMinClassSamples min(1);
  InTempFolder dir;
  struct Case {
    const char* name;
    int K, mode, codeBits;
    const char* table;  // null: no code table
    const char* message;
  };
  const Case cases[] = {
      {"missing table", 3, 0, 2, nullptr, "Unable to open the code table: code.txt"},
      {"short table", 3, 1, 2, "0 1 1\n1 0\n",
       "Code table too short or not of bits 0 and 1 (2 columns of 3 wanted): code.txt"},
      {"not a bit", 3, 0, 1, "0 2 1\n", "Code table too short or not of bits 0 and 1 (1 columns of 3 wanted): code.txt"},
      {"one-vs-all of 31 classes", 31, 3, 9, nullptr, "PbtMEcoc: a code of 31 columns does not fit (at most 30)"},
      {"table of 31 columns", 3, 0, 31, nullptr, "PbtMEcoc: a code of 31 columns does not fit (at most 30)"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove("code.txt");
    if (c.table != nullptr) WriteFileText("code.txt", c.table);
    std::unique_ptr<MVectorSampleSet> set(IndicatorSet(c.K, 1));
    PbtAdaBoostParams params = CodeParams(c.mode, c.codeBits, dir.tmp.file("log.txt"));
    params.codeFromFile = c.mode != 3;
    PbtMEcoc e;
    std::string error;
    ResetUniformRandomForTesting();
    EXPECT_FALSE(e.buildCode(set.get(), &params, &error)) << c.name;
    EXPECT_EQ(error, c.message) << c.name;
    EXPECT_EQ(e.bits, 0) << c.name;
    EXPECT_TRUE(e.codewords.empty()) << c.name;
  }
  EXPECT_FALSE(PathExists(dir.tmp.file("log.txt")));

  // Training on such a code ends the run with that line.
  std::filesystem::remove("code.txt");
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 1));
  PbtAdaBoostParams params = CodeParams(0, 2, "");
  params.codeFromFile = 1;
  VectorSampleSet twoClass;
  PbtMEcoc e;
  EXPECT_EXIT(e.trainColumns(set.get(), &twoClass, &params, 10), testing::ExitedWithCode(1),
              "^Unable to open the code table: code.txt\n$");
}

TEST(PbtMEcocTest, DecodersScoreEveryCodeword) {
  struct Case {
    const char* name;
    int mode;
    std::vector<double> expected;
  };
  const Case cases[] = {
      {"product", 0, {0.72 / 0.74, 0.02 / 0.74}},
      {"product (data-driven)", 1, {0.72 / 0.74, 0.02 / 0.74}},
      {"hamming", 2, {0.0, -2.0}},
      {"exponential loss", 3,
       {-(std::exp(-0.8) + std::exp(-0.6)), -(std::exp(0.8) + std::exp(0.6))}},
      {"unknown mode", 4, {}},
  };
  for (const Case& c : cases) {
    PbtMEcoc e;
    TwoClassCode(e, 0.9f, 0.2f);
    e.codingMode = c.mode;
    VectorQo<double> out;
    e.posterior(nullptr, out);
    const std::vector<double> got = Values(out);
    ASSERT_EQ(got.size(), c.expected.size()) << c.name;
    // The boosters answer in single precision.
    for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], c.expected[k], 1e-6) << c.name;
  }

  PbtMEcoc e;
  TwoClassCode(e, 0.9f, 0.2f);
  VectorQo<double> d;
  EXPECT_EQ(e.decodeProduct(nullptr, d), 0);
  EXPECT_NEAR(d[0], 0.973, 5e-4);
  EXPECT_NEAR(d[1], 0.027, 5e-4);

  // classIndex hands the scores out in class order.
  e.classIndex[0] = 1;
  e.classIndex[1] = 0;
  VectorQo<double> out;
  e.posterior(nullptr, out);
  EXPECT_NEAR(out[0], 0.02 / 0.74, 1e-6);

  // A row outside the scores drops only its own entry: nothing past the scores is
  // read, the valid entries stay in place.
  const struct {
    const char* name;
    std::vector<int> codewords;
    int row0, row1;
    std::vector<double> expected;
  } outside[] = {
      {"first row past the scores", {2, 1}, 5, 0, {0.0, d[0]}},
      {"negative row", {2, 1}, 1, -1, {d[1], 0.0}},
      {"two classes share one codeword", {2}, 1, 0, {0.0}},
  };
  for (const auto& c : outside) {
    e.codewords = c.codewords;
    e.classIndex[0] = c.row0;
    e.classIndex[1] = c.row1;
    e.posterior(nullptr, out);
    const std::vector<double> got = Values(out);
    ASSERT_EQ(got.size(), c.expected.size()) << c.name;
    for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], c.expected[k], 1e-6) << c.name;
  }
}

TEST(PbtMEcocTest, EvaluateMultiCountsTheWeightOfMisdecodedEntries) {
  ScopedMinClassSamples min(1);
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 2));
  set->weights[2][1] = 0.0;  // class 2 weighs 1/6
  PbtMEcoc e;
  e.numClasses = 3;
  e.bits = 3;
  e.codewords = {4, 2, 1};
  e.resetClassIndex();
  e.classifiers = {new ConstantClassifier(0.9f), new ConstantClassifier(0.1f), new ConstantClassifier(0.1f)};
  VectorQo<double> classError;
  const double total = e.evaluateMulti(set.get(), classError);
  EXPECT_NEAR(total, 1.0 / 3 + 1.0 / 6, 1e-7);  // class weights in single precision
  EXPECT_EQ(Values(classError), (std::vector<double>{0.0, 1.0, 1.0}));
}

TEST(PbtMEcocTest, TrainedColumnsDecodeTheirTrainingClasses) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 6));
  PbtAdaBoostParams params = CodeParams(3, 9, tmp.file("log.txt"));
  VectorSampleSet twoClass;
  PbtMEcoc e;
  EXPECT_EQ(e.trainColumns(set.get(), &twoClass, &params, 100), 0.0f);
  ASSERT_EQ(e.classifiers.size(), 3u);
  EXPECT_EQ(e.codingMode, 0);
  VectorQo<double> classError;
  EXPECT_EQ(e.evaluateMulti(set.get(), classError), 0.0);
  // The last column's two-class set: class 2 against the others, all samples.
  EXPECT_EQ(twoClass.numSamples(true), 6);
  EXPECT_EQ(twoClass.numSamples(false), 12);

  std::vector<PbtFid> features;
  e.collectFeatures(features);
  EXPECT_GE(features.size(), 3u);

  std::unique_ptr<PbtClassifier> copy(e.clone());
  VectorQo<double> a, b;
  int c = 0, i = 0;
  set->reset();
  while (set->next(c, i)) {
    e.posterior(set->current(), a);
    copy->posterior(set->current(), b);
    EXPECT_EQ(Values(a), Values(b));
    EXPECT_EQ(a.ArgMax(), c);
  }
}

TEST(PbtMEcocTest, RecordsRoundTripByteForByteInBothVersions) {
  ScopedMinClassSamples min(1);
  TempFolder tmp;
  std::unique_ptr<MVectorSampleSet> set(IndicatorSet(3, 4));
  PbtAdaBoostParams params = CodeParams(3, 9, tmp.file("log.txt"));
  VectorSampleSet twoClass;
  PbtMEcoc trained;
  trained.trainColumns(set.get(), &twoClass, &params, 100);
  trained.codingMode = 2;
  trained.classIndex[0] = 2;
  trained.classIndex[2] = 0;

  for (int version : {0, 1}) {
    ScopedVersion v(version);
    const std::string bytes = Bytes(trained);
    PbtMEcoc back;
    back.codingMode = 3;
    ASSERT_TRUE(ReadBytes(back, bytes)) << version;
    EXPECT_EQ(Bytes(back), bytes) << version;
    EXPECT_EQ(back.classifiers.size(), 3u);
    EXPECT_EQ(back.codewords, trained.codewords);
    if (version == 0) {
      // Not stored: the identity order and the mode the object had.
      EXPECT_EQ(back.classIndex[0], 0);
      EXPECT_EQ(back.codingMode, 3);
    } else {
      EXPECT_EQ(back.classIndex[0], 2);
      EXPECT_EQ(back.codingMode, 2);
    }
  }
}

TEST(PbtMEcocTest, RecordLayoutOfBothVersions) {
  PbtMEcoc e;
  e.codewords = {2, 1};
  e.numClasses = 2;
  e.labelCount = 3;
  e.bits = 2;
  e.codingMode = 3;
  e.classIndex.SetSize(2);
  e.classIndex[0] = 1;
  {
    ScopedVersion v(0);
    EXPECT_EQ(HexOf(e),
              ToHex(HexBytes("00000000 02000000 02000000 01000000 02000000 03000000 02000000")));
    EXPECT_EQ(Bytes(PbtMEcoc()).size(), 4u + 4 + 12);
  }
  {
    ScopedVersion v(1);
    EXPECT_EQ(HexOf(e),
              ToHex(HexBytes("01 00000000 02000000 02000000 01000000 02000000 03000000 02000000"
                             " 03000000 01000000 02000000 01000000 00000000")));
    EXPECT_EQ(Bytes(PbtMEcoc()).size(), 1u + 4 + 4 + 12 + 4 + 8);
  }
}

TEST(PbtMEcocTest, DamagedRecordsAreRejectedAndLeaveTheObjectAlone) {
  ScopedVersion v(1);
  PbtMEcoc e;
  e.codewords = {2, 1};
  e.numClasses = 2;
  e.labelCount = 2;
  e.bits = 2;
  e.resetClassIndex();
  e.classifiers = {new PbtAdaBoost()};
  const std::string good = Bytes(e);
  ASSERT_EQ(good.size(), 1u + 4 + (1 + 8) + 4 + 8 + 12 + 4 + 8 + 8);

  auto withInt = [&](size_t offset, int32_t value) {
    std::string s = good;
    for (int k = 0; k < 4; ++k) s[offset + static_cast<size_t>(k)] = static_cast<char>((value >> (8 * k)) & 0xFF);
    return s;
  };
  struct Case {
    const char* name;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"cut in the booster", good.substr(0, 8)},
      {"cut in the codewords", good.substr(0, 22)},
      {"cut in the class index", good.substr(0, good.size() - 2)},
      {"negative booster count", withInt(1, -1)},
      {"booster count beyond the bytes", withInt(1, 1000)},
      {"codeword count beyond the bytes", withInt(14, 1 << 28)},
      {"negative class count", withInt(26, -2)},
      {"too many labels", withInt(30, PbtMEcoc::kMaxClasses + 1)},
      {"31 bits", withInt(34, 31)},
      {"class index beyond the bytes", withInt(46, 1 << 20)},
      {"negative class index rows", withInt(42, -1)},
  };
  for (const Case& c : cases) {
    PbtMEcoc target;
    target.codewords = {7};
    target.bits = 1;
    std::istringstream in(c.bytes);
    BinaryReader r(in);
    EXPECT_FALSE(target.read(r)) << c.name;
    EXPECT_EQ(target.codewords, (std::vector<int>{7})) << c.name;
    EXPECT_EQ(target.bits, 1) << c.name;
    EXPECT_TRUE(target.classifiers.empty()) << c.name;
  }
}
