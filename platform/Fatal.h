#pragma once
// The one exit path for fatal failures: print, flush, run the registered cleanup, end.
#include <cstdio>
#include <functional>
#include <string>

// Prints `message` exactly as given (no line end is added) on `stream`, flushes every
// output stream, runs the fatal cleanup (see SetFatalCleanup) and ends the process with
// `status` (-1 is seen by the shell as 255).
//
// Safe on any thread, also on a worker of a parallel loop while the others still run:
// the process ends without running static destructors or exit handlers (which would
// run under live threads). When several threads fail at once, only the first prints and
// ends the process, with its own status; the others wait for that end. A fatal failure
// inside the cleanup ends the process at once with the first status.
[[noreturn]] void FatalExit(int status, const std::string& message, std::FILE* stream = stdout);

// Registers the work that FatalExit does before the process ends (at most once, on the
// failing thread), replacing the one registered before; an empty function clears it.
// It must print nothing, take no lock that a loop body may hold, and may throw nothing
// it needs to report (an exception is swallowed).
void SetFatalCleanup(std::function<void()> cleanup);
