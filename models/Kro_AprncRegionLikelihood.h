#pragma once
// Kro_AprncRegionLikelihood: the intensity model of one label of the generative
// appearance model: `histogram`, the label's intensity distribution (bins of width 5
// from 0 to 255, 52 bins, smoothed and normalised), and `cost`, its negative
// logarithm on the same grid extended by one bin (-ln of the mass where it is above
// 0, else 1000.0).
//
// Record file "%d.apr" (one per label), little-endian, no padding: the histogram's
// distribution record, then the cost's, each as RF::WriteBinary writes it:
//   int32 rows (1), int32 cols n, n x float64 masses, int32 bins, float64 min,
//   float64 width.
// A reader rejects (false, the object unchanged): a file that does not open, a record
// that does not fit in the bytes left, bytes after the second record, a histogram
// without masses, with a bin count other than its mass count or above kMaxBins, a
// min or width that is not finite or a width not above 0, and a cost record whose
// grid is not the histogram's grid extended by one bin.
//
// Constructing a record constructs two RF, taking two draws of the program-wide
// generator; reading, writing and copying take none.
#include <string>

#include "numerics/RF.h"

class Kro_AprncRegionLikelihood {
 public:
  static constexpr int kMaxBins = 1 << 20;

  Kro_AprncRegionLikelihood() = default;  // two draws (two RF)
  Kro_AprncRegionLikelihood(const Kro_AprncRegionLikelihood& other) = default;
  Kro_AprncRegionLikelihood& operator=(const Kro_AprncRegionLikelihood& other) = default;
  virtual ~Kro_AprncRegionLikelihood() = default;

  // Writes both records; false when the file does not open or a write fails (a
  // partial file is removed). `error`, when given, then holds one line naming the file.
  virtual bool Write(const std::string& fileName, std::string* error = nullptr) const;
  // Reads both records; false (object unchanged, one line in `error`) as listed above.
  virtual bool Read(const std::string& fileName, std::string* error = nullptr);
  // cost := -ln(histogram) on the histogram's grid plus one bin (1000.0 where the
  // mass is not above 0).
  virtual void Likelihood();

  RF histogram;
  RF cost;
};
