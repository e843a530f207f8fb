#pragma once
// RF: a one-dimensional distribution held as masses on a uniform grid of bins.
//
// Grid: bin i stands for the value min + i * width. The bin of a value x is
// (x - min) / width + 0.5 truncated toward zero, so bin 0 takes every x above
// min - 1.5 width and below min + 0.5 width (a negative index first arises when the
// quotient plus one half reaches -1). A NaN never falls into a bin. With width 0
// (the one-bin grid of a range whose ends are equal) only x == min falls into bin 0;
// every other value lies outside. LogPdf bins by (x - min) / width truncated, without
// the half bin.
//
// Random sequence: constructing an RF (or RF_uniform, RF_gaussian) takes exactly one
// draw from the program-wide generator (its RandomUniform member); copying and
// assigning take none. Draw takes one or two draws, DrawFromTable one; SetFromSubset
// constructs one RF_uniform and draws from it unless every bin is kept. Nothing else
// draws. RF(WithoutDraw) is the one construction without a draw: its caller takes the
// draw itself (see RandomUniform(WithoutDraw)).
//
// Derived members: cdf is filled only by BuildCdf and describes the masses as they
// were then; samplingTable and step only by BuildSamplingTable (which SetFromVector
// and the subclass Init call). Assignment copies everything but cdf.
//
// Invariant kept by every operation: bins never exceeds the number of masses held
// (Init, LoadText and the subclass Init make them equal).
#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

#include "numerics/UniformRandom.h"
#include "platform/BinaryReader.h"
#include "platform/BinaryWriter.h"
#include "numerics/VectorQo.h"

class RF {
 public:
  // Empty: 0 bins, min 0, width 1, step 1. Takes one draw.
  RF() = default;
  // Empty as above; takes no draw. Only for a distribution that is never drawn from
  // before it is thrown away (Draw and DrawFromTable draw afresh anyway, but copies
  // carry the held value), where the caller takes the construction's draw in its place
  // with a plain UniformRandom(&gUniformRandomSeed) on the drawing thread, at the
  // point of the sequence where the construction would have taken it.
  explicit RF(WithoutDraw noDraw) : random(noDraw) {}
  // Copies every member, cdf included; no draw.
  RF(const RF& other) = default;
  // Copies everything but cdf, which stays as it was; no draw. Self-assignment does nothing.
  RF& operator=(const RF& other);
  virtual ~RF() = default;

  // Init(0, n - 1, 1), Set(i, v[i]) for every i, BuildSamplingTable(false), all
  // through the virtual table. An empty v keeps the old masses (Init makes no bins).
  virtual void SetFromVector(const VectorQo<int>& v);
  virtual void SetFromVector(const VectorQo<float>& v);
  // Stores min and width; bins = 1 when max == min, else floor((max - min) / width
  // + 0.5) + 1. When bins > 0 the masses are resized to bins and zeroed; otherwise
  // (and when the count is not a finite number, then bins = 0) they stay as they were.
  // max is not kept; the sampling table is not rebuilt.
  virtual void Init(double min, double max, double width);
  // d = (b - a) / n; d == 0: Init(a, b, 1); else Init(a - d, b + d, (b - a) / (n + 2)):
  // the range widened by one n-th on each side.
  virtual void InitWithBins(double a, double b, int n);
  // Mass of the bin of x = value / += value; nothing when x lies outside the bins.
  virtual void Set(double x, double value);
  virtual void Add(double x, double value);
  // Sum of the masses of bins 0 .. min(bin of x, bins - 1); 0 when that bin is negative.
  virtual double Cdf(double x) const;
  // ln of the mass of bin trunc((x - min) / width); -1e99 outside or for a mass <= 0.
  virtual double LogPdf(double x) const;
  // exp(LogPdf(x) / t).
  virtual double TemperedPdf(double x, double t) const;
  // Forward difference of LogPdf over one bin; the backward one when LogPdf(x + width)
  // is -1e99.
  virtual double LogPdfSlope(double x) const;
  // Text file: min, width, bins, then every mass, each on its own line with six
  // significant digits. Load returns false, changing nothing, when the file does not
  // open or a field is missing, malformed or (bins) negative; cdf, samplingTable and
  // step are not touched. Save returns false when the file does not open or a write fails.
  virtual bool LoadText(const char* path);
  virtual bool SaveText(const char* path) const;
  // Normalises the masses and builds samplingTable: step = 0.001 / bins when fine, else
  // 0.01 / bins (0.1 / bins from 10000 bins on); 1 + trunc(1 / step) entries, entry k
  // the first bin whose running mass exceeds k * step (the last bin reached after that).
  virtual void BuildSamplingTable(bool fine);
  // Normalises, draws u and returns min + i * width for the first bin i whose running
  // mass reaches u (the last bin when none does). When that bin is empty, draws once
  // more and returns the second scan's bin without a further test. An empty
  // distribution gives min - width.
  virtual double Draw();
  // Draw() + 0.5 truncated toward zero.
  virtual int DrawRounded();
  // Divides every mass by their sum when it is > 0 (true); otherwise false, unchanged.
  virtual bool Normalize();
  virtual void Fill(double value);
  // sum over i < bins of x_i * mass_i, x_0 = min, x_(i+1) = x_i + width; not normalised.
  virtual double Mean() const;
  // Convolves the masses with the kernel (centred, zero border) on the same grid and
  // normalises them.
  virtual void Smooth(const VectorQo<double>& kernel);
  // This = source; the masses of the bins not in kept are replaced by masses drawn
  // uniformly on a 0.001 grid from what the kept bins leave of 1, in index order,
  // until no more than 0.001 remains; then normalised. Takes draws (one local
  // RF_uniform, then each Draw) unless every bin is kept. Indices outside the bins
  // are ignored.
  virtual void SetFromSubset(const RF& source, const std::vector<int>& kept);
  // cdf = running sums of the masses.
  virtual void BuildCdf();
  // cdf[min(bin of x, bins - 1)]; 0 below the grid, 1 when that index is beyond cdf.
  virtual double CdfLookup(double x) const;
  // The value of probability u by the sampling table, placed linearly inside its bin
  // with cdf (build it with BuildCdf after the last change of the masses). 0 when u is
  // negative, u / step lies beyond the table, or cdf or the masses are too short.
  virtual double InverseCdf(double u) const;
  // Whether the bin of x lies in [0, bins).
  virtual bool InRange(double x) const;
  // -(sum over masses p > 0 of p log10 p) / log10 2, in bits; not normalised first.
  virtual double Entropy() const;

  // The mass of the bin of x; 0 outside.
  double Pdf(double x) const;
  // One draw u, i = trunc(u / step); min + width * samplingTable[i] when i lies within
  // the table, else -1.
  double DrawFromTable();

  // Binary record, little-endian, 8n + 28 bytes (it also stands inside classifier
  // records, hence the BinaryReader / BinaryWriter forms):
  //   offset  size  field
  //   0       4     rows    int32: 1, or 0 for a distribution without masses
  //   4       4     cols    int32: number of masses n (0 without masses)
  //   8       8n    masses  float64 each (present only when rows and cols are both >= 1)
  //   8+8n    4     bins    int32, 0..n
  //   12+8n   8     min     float64, the value of bin 0
  //   20+8n   8     width   float64
  // Reading rejects (false / failbit, this RF unchanged) a record that does not fit in
  // the bytes left, negative extents, more than one row and a bins field outside 0..n.
  // It keeps the extents as read (an empty record writes back the same bytes) and
  // rebuilds neither cdf nor samplingTable, leaving step as it was.
  void WriteBinary(BinaryWriter& out) const;
  bool ReadBinary(BinaryReader& in);
  std::ostream& WriteBinary(std::ostream& out) const;
  std::istream& ReadBinary(std::istream& in);

  // Number of masses held (rows * cols of pdf).
  int Count() const { return pdf.rows * pdf.cols; }
  // The bin of x by the rule above; -1 stands for every index outside the grid's
  // non-negative range.
  int BinOf(double x) const;
  // A bin count computed in double, truncated toward zero; 0 for a count that is not
  // a finite number (a zero width over a non-empty range), so no grid is sized from it.
  static int BinCountOf(double n);

  VectorQo<double> pdf;
  int bins = 0;
  double min = 0.0;
  double width = 1.0;
  VectorQo<double> cdf;
  VectorQo<int32_t> samplingTable;
  double step = 1.0;
  RandomUniform random;  // takes the construction's draw
};
