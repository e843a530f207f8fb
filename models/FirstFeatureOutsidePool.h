#pragma once
// Whether the features a stored tree names are features of the sample that will
// evaluate them. A tree names a feature by the content of its PbtFid: kind, the six
// parameters, index, subtype and the three offsets (the description and the pool
// position are not read by the evaluators). A tree read from a file may name any
// values; only those the sample's pool enumerates have been trained and are safe to
// evaluate (list positions in range, bounded runs).
#include <string>
#include <vector>

#include "pbt/PbtFid.h"

// Position in `used` of the first feature that is no entry of `pool` (compared on
// the fields above); -1 when every one is.
int FirstFeatureOutsidePool(const std::vector<PbtFid>& used, const std::vector<PbtFid>& pool);

// The compared fields of a feature, for a one-line message: "kind 'D' (68), params
// 0 0 0 0 0 0, index 5, subtype 2, offset -2 0 2".
std::string DescribeFeatureFields(const PbtFid& fid);
