#pragma once
// The lift factors "prob_lift.txt" of a model folder: per-class factors by which the
// discriminative models multiply a voxel's posterior before normalising it.
//
// Text of whitespace-separated pairs "class factor", read as "%d %f" would read them
// (a class is an optional sign and digits, a factor any decimal or hexadecimal
// floating-point form, "nan" and "inf" included), at most `numClasses` pairs; what
// follows them is not read. A class outside 0 .. numClasses - 1 (or beyond 32 bits)
// is ignored; a class named twice keeps its last factor; classes no pair names keep
// 1.0, so a file may name only the classes it lifts.
//
// Refused, with one line naming the file: a factor that is not finite and positive
// (NaN, infinite, 0 or negative, also on an ignored class), and a pair that does not
// read whole (a class without a factor after it, or text that is not a number where
// a pair starts: a cut or foreign file). Files above kMaxLiftFileBytes and anything
// but a regular file are refused too.
#include <string>

#include "numerics/VectorQo.h"

constexpr long kMaxLiftFileBytes = 1 << 20;

// Parses the text of the file at `path` (used in the message only). On success
// `lift` holds numClasses factors; on failure it is left as it was and *error (when
// given) holds the line.
bool ParseLiftFactors(const std::string& text, int numClasses, const std::string& path, VectorQo<double>& lift,
                      std::string* error);

// Reads the file at `path` (the program's spelling) and parses it. A missing file
// gives numClasses factors 1.0 and true.
bool ReadLiftFactors(const std::string& path, int numClasses, VectorQo<double>& lift, std::string* error);
