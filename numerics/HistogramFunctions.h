#pragma once
// Free functions on histograms: the sign functions that the moments and the
// filters use, and the two peak searches over the masses of an RF.

class RF;

// -1 below zero, 1 above, 0 for a zero of either sign and for a NaN.
int Sign(double x);
int SignOfFloat(float x);

// The centre of the fullest bin: min + i * width + 0.5 * width, with i the first
// largest mass (-1 for an empty distribution, giving min - 0.5 * width).
double HistogramPeakValue(const RF& r);

// The centre of the uppermost significant peak. Bins are walked from the top one down
// to bin 1; a bin is a peak when its mass exceeds 0.01 and is strictly greater than
// both neighbours (the top bin is compared with itself and so never is one). The
// first peak is taken; a later peak replaces it only while it is strictly higher than
// the peak met before it and lies fewer than 8 bins from the one taken; the walk stops
// at the first peak that fails either test. Without a peak the result is bin 0's centre.
double FindTopHistogramPeak(const RF& h);
