#pragma once
// PbtMEcoc: error-correcting output codes, the multi-class node classifier of the
// boosting tree's last level.
//
// Every active class of the training set (class position k = its active slot) gets a
// binary codeword; one PbtAdaBoost per code column separates the classes whose bit
// is 1 from those whose bit is 0; a sample is decoded by comparing the boosters'
// answers with the codewords. The code is built by the coding mode of the booster
// parameters: 0 random (group halving after a shuffle of the class rows), 1
// data-driven (columns from the set's split search, then group halving), 2 a fixed
// 15-column table for 10 classes, 3 one-versus-all; 0 and 1 may read their columns
// from "code.txt" instead.
//
// Code matrices: workCode is K x 30 (the columns built so far, `bits` of them); code
// is its first `bits` columns; row r is the codeword of code row r and class
// position k uses row classIndex[k] (the identity unless the random code shuffled
// it). codewords lists the distinct rows, packed first column highest, in order of
// first appearance. Only the codewords, the boosters and classIndex are stored.
//
// Decoding (posterior) by codingMode: 0 and 1 products of the booster probabilities
// (normalised), 2 negated Hamming distances, 3 negated exponential losses; one score
// per codeword, handed out in class order through classIndex. Training leaves
// codingMode at 0; only a versioned record carries another mode.
//
// Record, little-endian, no padding; the layout is chosen by gClassifierVersion when
// writing and when reading (the record does not tell them apart):
//
//   version != 0 only   u8     1 (read and ignored)
//                       int32  n, number of boosters
//   n times             u8     0 (a type byte, read and ignored)
//                       ...    PbtAdaBoost record (typed or legacy by gTypedClassifierFiles)
//                       int32  m, number of codewords
//   m times             int32  codeword
//                       int32  numClasses (K)
//                       int32  labelCount
//                       int32  bits
//   version != 0 only   int32  codingMode
//                       int32  rows, int32 cols, rows x cols int32: classIndex
//
// read() rejects (returning false, the object unchanged) a record that does not fit
// in the bytes left, negative counts, n or m that cannot fit in the bytes left, a
// booster record that does not read, numClasses or labelCount outside
// 0 .. kMaxClasses and bits outside 0 .. kMaxBits. A version-0 record leaves
// codingMode as it was and sets classIndex to the identity over numClasses.
//
// Random sequence: the random code takes one draw per class for the shuffle plus one
// (its construction); every group-halving column constructs one RF_uniform (one draw)
// and draws once per class that is alone in its group, again on each retry of a
// constant column; the data-driven code takes the draws of buildHistograms and of
// bestSplit per column and feature; the boosters take their own. Decoding draws
// nothing.
#include <string>
#include <vector>

#include "numerics/Matrix.h"
#include "numerics/VectorQo.h"
#include "pbt/PbtClassifier.h"
#include "pbt/PbtClassifierParams.h"
#include "pbt/PbtMSampleSet.h"
#include "pbt/PbtSampleSet.h"

class PbtMEcoc : public PbtClassifier {
 public:
  // Columns of the work matrix: no code holds more.
  static constexpr int kMaxBits = 30;
  // Classes and labels a record may announce.
  static constexpr int kMaxClasses = 65536;
  // The code table that the random and data-driven codes write or read, in the
  // working folder.
  static constexpr const char* kCodeFile = "code.txt";

  PbtMEcoc() = default;
  ~PbtMEcoc() override;

  // A deep copy: every booster cloned, the code, codewords, bits, mode and classIndex.
  PbtClassifier* clone() const override;
  PbtClassifier* create() const override { return new PbtMEcoc(); }
  void write(BinaryWriter& out) const override;
  bool read(BinaryReader& in) override;
  // out := one score per codeword, out[i] = d[classIndex[i]] (see above). Empty for a
  // coding mode outside 0..3. An entry whose classIndex row lies outside the M scores
  // (a code in which classes share codewords, or a damaged record) stays 0, the
  // others keep their scores: never a read past the scores.
  void posterior(PbtSample* sample, VectorQo<double>& out) override;
  float probability(PbtSample*) override { return 0.0f; }
  // The features of every booster in order.
  void collectFeatures(std::vector<PbtFid>& out) const override;
  const char* getName() const override { return "MEcoc"; }

  // Builds the code (buildCode) and trains one PbtAdaBoost per column on `twoClass`,
  // filled by the set's resampleFrom(twoClass, n, n) with the column as classSplit,
  // given the set's sample and balanced to 0.5. Returns 0. A code that cannot be built
  // (a missing or short code table, more than kMaxBits columns) ends the run with one
  // line naming the file or the value (status 1).
  float trainColumns(PbtMSampleSet* set, PbtSampleSet* twoClass, PbtAdaBoostParams* params, int n);
  // For every entry of an active class (position t): its weight is added to the mass
  // of t and, when the first largest posterior entry is not t, to classError[t] and
  // to the total returned; classError[t] is then divided by the mass of t (when > 0).
  double evaluateMulti(PbtMSampleSet* set, VectorQo<double>& classError);

  // Drops the boosters, takes K = set->numClasses() and the label count, sizes
  // workCode, resets classIndex and builds the code by params->codingMode (no code
  // for another mode), then logs the title and the code rows to params->logName.
  // False, with one line in *error, when the code cannot be built; bits is then 0.
  bool buildCode(PbtMSampleSet* set, PbtAdaBoostParams* params, std::string* error);
  void makeOneVsAllCode();
  void makeFixedCode();
  // The random code: T = ceil(log2 K) + 2 columns (codeBits when that is not less)
  // by group halving; prints "_num_current_bit = <bits>" and writes the code table.
  // With params->codeFromFile the codeBits columns are read from the table instead.
  bool makeRandomCode(PbtAdaBoostParams* params, std::string* error);
  // The data-driven code (see the source for the column rule).
  bool makeDataDrivenCode(PbtMSampleSet* set, PbtAdaBoostParams* params, std::string* error);
  // Appends one column by the group-halving rule (draws: see above).
  bool appendHalvingColumn();
  // Reads `columns` columns of K values (0 or 1) from the code table.
  bool readCodeFile(int columns, std::string* error);
  // Writes every column as one line of K values "%d " and a line end; false when the
  // file cannot be written (the code stays as built).
  bool writeCodeFile() const;

  // code := the first bits columns of workCode, then collectCodewords.
  void allocateCode();
  void resetBits() { bits = 0; }
  // bits + 1; false (nothing changes) when workCode has no column left.
  bool addBit();
  void removeBit() {
    if (bits > 0) --bits;
  }
  // workCode[i][bits - 1] := column[i] for the first K entries of the column.
  void setCodeColumn(const VectorQo<unsigned char>& column);
  // setCodeColumn, then codeQuality().
  float setCodeColumn2(const VectorQo<unsigned char>& column);
  // Separation of the work code's first bits columns, in [0, 1]: 0 when the newest
  // column is constant; otherwise the smaller of (a) the smallest Hamming distance
  // between two columns or between a column and another's complement, divided by K,
  // and (b) the smallest distance between two rows, divided by bits. A measure with
  // no pair to compare (one column, one row) is left out; 1 when neither has one.
  float codeQuality() const;
  // out[c] := the group of class row c; rows identical over the bits columns share a
  // group, numbered in order of first appearance.
  void codeGroups(VectorQo<int>& out) const;
  void deleteClassifiers();
  // Mean distance of every row to its nearest other row, per column: the sum over the
  // rows of the smallest Hamming distance (from 9999), / (bits x K); 0 when bits < 2.
  float minRowDistance() const;
  // The share of row pairs that differ in at least one column; 0 when bits < 2 or K < 2.
  float codeDistance() const;
  void collectCodewords();
  // v = (v | e) * 2 over the elements (the result ends in a 0 bit).
  static int packBits(const VectorQo<unsigned char>& v);
  // Row r of code packed over the bits columns, first column highest.
  int packBits2(int r) const;
  // out[i] := code[classIndex[i]][b] for every class position i.
  void getCodeColumn(VectorQo<unsigned char>& out, int b) const;
  // The columns of the first bits in which rows r1 and r2 of workCode differ.
  int hammingDistance(int r1, int r2) const;
  // The decoders: d := one score per codeword; each returns the first largest index
  // (-1 without codewords).
  int decodeProduct(PbtSample* sample, VectorQo<double>& d);
  int decodeHamming(PbtSample* sample, VectorQo<double>& d);
  int decodeExpLoss(PbtSample* sample, VectorQo<double>& d);
  // d[t] := the product over the columns of q[j] (bit 1) or 1 - q[j] (bit 0), normalised.
  void classScores(const VectorQo<double>& q, VectorQo<double>& d) const;
  void resetClassIndex();
  // classIndex := a random order of the K class rows (equal-weight draws without
  // replacement: one construction plus K draws).
  void shuffleClassIndex();

  int codingMode = 0;
  std::vector<PbtClassifier*> classifiers;  // one PbtAdaBoost per column, owned, never null
  int labelCount = 0;
  int numClasses = 0;
  Matrix<unsigned char> code;
  std::vector<int> codewords;
  Matrix<unsigned char> workCode;
  int bits = 0;
  VectorQo<int> classIndex;

 private:
  // Bit j (column j, from the highest bit) of a codeword; 0 outside the bits columns.
  int codeBit(int codeword, int j) const;
  // Probabilities of every booster for the sample.
  VectorQo<double> boosterProbabilities(PbtSample* sample);
  // The Hamming and exponential-loss decoders: d[t] := minus the sum over the bits j
  // of loss(q[j], c), with q the booster probabilities and c = +1 / -1 the bit of
  // codeword t; returns d.ArgMax().
  int decodeByLoss(PbtSample* sample, VectorQo<double>& d, double (*loss)(double q, double c));
};
