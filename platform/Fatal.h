#pragma once
// The one exit path for fatal failures: print, flush, exit with a non-zero status.
#include <cstdio>
#include <string>

// Prints `message` exactly as given (no line end is added) on `stream`, flushes both
// standard streams and ends the process with `status` (-1 is seen by the shell as 255).
[[noreturn]] void FatalExit(int status, const std::string& message, std::FILE* stream = stdout);
