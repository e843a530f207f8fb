#pragma once
// The one exit path for fatal failures and interrupts: print, flush, run the registered
// cleanups, end.
#include <cstdio>
#include <functional>
#include <string>

// Prints `message` exactly as given (no line end is added) on `stream`, flushes every
// output stream, runs the registered cleanups (see FatalCleanup) and ends the process
// with `status` (-1 is seen by the shell as 255).
//
// Safe on any thread, also on a worker of a parallel loop while the others still run:
// the process ends without running static destructors or exit handlers (which would
// run under live threads). When several threads fail at once, only the first prints and
// ends the process, with its own status; the others wait for that end. A fatal failure
// inside a cleanup ends the process at once with the first status.
//
// Before it prints, it waits until no other thread is inside a held step (see
// FatalExitHold). From then on the other threads stop at their next held step and at
// their next use of stdout or stderr, so the message is the last line printed and no
// file is made, renamed or removed behind the cleanups' backs. A step or a console line
// of another thread that does not end (a write to a pipe nobody reads) is waited for a
// few seconds only; the message is then left out of that stream, and the end goes on.
[[noreturn]] void FatalExit(int status, const std::string& message, std::FILE* stream = stdout);

// Registers work that FatalExit does before the process ends, for the life of this
// object. Cleanups run innermost (last registered) first, each at most once, on the
// failing thread. A cleanup must print nothing and may throw nothing it needs to report
// (an exception is swallowed). The state it reads must only change inside a held step
// (FatalExitHold), so that it never sees a half-made change.
class FatalCleanup {
 public:
  explicit FatalCleanup(std::function<void()> work);
  ~FatalCleanup();
  FatalCleanup(const FatalCleanup&) = delete;
  FatalCleanup& operator=(const FatalCleanup&) = delete;

 private:
  unsigned long long id_;
};

// A held step: while an object of this class lives, FatalExit on another thread waits
// before it prints and cleans up, so that a short step on files (making a file and
// recording it for its cleanup, renaming a pair into place) is never cut in half. A
// step that starts once the process is ending on another thread waits for that end and
// never runs. Holds nest; the thread that is ending the process is never held up by its
// own holds. Keep held steps short: no parallel loop, no wait on another thread.
class FatalExitHold {
 public:
  FatalExitHold();
  ~FatalExitHold();
  FatalExitHold(const FatalExitHold&) = delete;
  FatalExitHold& operator=(const FatalExitHold&) = delete;

 private:
  bool locked_ = false;
};
