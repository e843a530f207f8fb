#pragma once
// Lists the files of a folder whose names end in a suffix.
#include <string>
#include <vector>

#include "numerics/McString.h"

// Empties `out`, then appends "folder/name" with every '/' turned into '\' for each
// entry matching "*<suffix>" whose last character equals the suffix's last
// character (any name when the suffix ends in '*' or '.'). Names of 200
// characters or more are skipped. Sorted by name; a missing folder gives nothing.
void ListDirectory(const std::string& folder, const std::string& suffix, std::vector<McString>& out);
