#pragma once
// Lists the files of a folder whose names end in a suffix.
#include <cstddef>
#include <string>
#include <vector>

#include "numerics/McString.h"

// The longest entry name that ListDirectory lists.
inline constexpr size_t kMaxListedName = 199;

// Empties `out`, then appends "folder/name" with every '/' turned into '\' for each
// entry matching "*<suffix>" whose last character equals the suffix's last
// character (any name when the suffix ends in '*' or '.'). Longer names (200
// characters or more) are skipped; with `tooLong`, the paths of those that match
// otherwise are put there (formatted as the listed ones), so that a caller can refuse
// them instead. Sorted by name; a missing folder gives nothing.
void ListDirectory(const std::string& folder, const std::string& suffix, std::vector<McString>& out,
                   std::vector<std::string>* tooLong = nullptr);

