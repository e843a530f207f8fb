#pragma once
// A plain 1-D histogram of doubles with a mass below and a mass above its range.
//
// Bin i stands for min + i * width. The bins are owned by the histogram and
// zero-filled whenever a new block is made; copies are deep.
#include <cstdio>
#include <vector>

class MCMC_Histogram {
 public:
  MCMC_Histogram() = default;
  virtual ~MCMC_Histogram();

  // Text form: the count ("%d\n"), then min, width, below, above and every bin,
  // each with "%.14f\n".
  virtual void WriteText(std::FILE* f) const;
  // Reads the text form. Returns false, leaving the histogram as it was, when a
  // field is missing or malformed or the count is negative. A count of 0 reads the
  // four fields and keeps the bins (and count) as they were, as Resize does.
  virtual bool ReadText(std::FILE* f);
  // Stores min and width, sizes the histogram to floor((max - min) / width) + 1 bins
  // (kept as they were when that is below 1 or not a finite number) and zeroes it.
  virtual void SetRange(double min, double max, double width);
  // Divides every bin (and below and above, unless bareNormalize is set) by the total
  // of the bins (plus below and above unless bareNormalize is set); nothing when that
  // total is not positive.
  virtual void Normalize();
  // Every bin = value; below = above = 0.
  virtual void Fill(double value);
  // 8 for an empty histogram, else 2 * count + 8.
  virtual int SerializedSize() const;
  // k = 1: the mean sum x_i * bin_i (masses as they are). Otherwise the signed k-th
  // root of the k-th central moment about that mean: 2 gives the standard deviation.
  virtual double Moment(short k) const;

  // Sizes the histogram to n zeroed bins; nothing when n equals count or n < 1.
  // Always true.
  bool Resize(int n);
  // Frees the bins; count, min, width, below, above and spare become 0.
  void Release();
  // -(sum over bins with p > 0 of p ln p), not normalised first.
  double Entropy() const;
  // Adds mass to the bin floor((x - min) / width), or to below / above when x lies
  // outside the bins. With width 0 only x == min reaches bin 0. A NaN is ignored.
  void Add(double x, double mass = 1.0);

  std::vector<double> bins;  // count masses
  int count = 0;
  double min = 0.0;
  double width = 0.0;
  double below = 0.0;
  double above = 0.0;
  double spare = 0.0;     // kept for the sample sets; nothing here reads it
  int bareNormalize = 0;  // when non-zero, Normalize leaves below and above out
};
