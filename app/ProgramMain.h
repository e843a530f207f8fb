#pragma once
// The program body: prints the usage text or runs the road the options choose.

// The usage text, exactly as printed.
extern const char* const kUsageText;

// Returns the exit status: 1 after the usage text or when the road could not do
// its job, 0 when it did (or when the mode selects no road).
int ProgramMain(int argc, const char* const* argv);
