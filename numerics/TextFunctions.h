#pragma once
// Trimming, splitting and path-name functions. Only the space character counts
// as blank; tabs and line ends are kept.
#include <cstdint>
#include <string>

// Copies without leading / trailing / both leading and trailing spaces.
std::string TrimLeading(const std::string& text);
std::string TrimTrailing(const std::string& text);
std::string TrimBoth(const std::string& text);

// out := the trimmed text of inout before the first (last) `separator`, or the
// empty string when it does not occur. With moveAfter set and the separator
// found, inout becomes the text after it (untrimmed). Nothing happens when
// inout is empty.
void SplitAtFirst(std::string& out, std::string& inout, char separator, bool moveAfter);
void SplitAtLast(std::string& out, std::string& inout, char separator, bool moveAfter);

// The text before the last '.', or the whole path when that is empty or blanks
// alone. Not trimmed:
// blanks are part of a path's names. The last '.' may lie in a folder name:
// "old.data/file" gives "old".
std::string StripExtension(const std::string& path);

// The file name without folder and extension; the later of the last '/' and the
// last '\' wins. "/file.txt" gives "/file" (a leading separator alone is kept).
std::string BaseName(const std::string& path);

// Every '/' becomes '\', in place; returns the path for chaining.
std::string& ToBackslashes(std::string& path);

// Removes one trailing '/' or '\' in place.
void StripTrailingSlash(std::string& path);

// Reads a whole number at `p` as "%d" does: white space skipped, an optional sign,
// then at least one decimal digit; `p` moves past the last digit. False, `p` unchanged,
// when no digit follows. `value` is the number, held at 2^32 in magnitude when it is
// larger, so that a number outside the 32-bit range stays outside it.
bool ScanWholeNumber(const char*& p, int64_t& value);
// True when `value` fits a 32-bit signed integer.
inline bool FitsInt32(int64_t value) { return value >= INT32_MIN && value <= INT32_MAX; }

// Appends the text to "printf.txt" in the working folder; nothing when it does not open.
void LogToFile(const std::string& text);
