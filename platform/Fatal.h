#pragma once
// The one exit path for fatal failures and interrupts: run the registered cleanups,
// print the line, end.
#include <signal.h>

#include <cstdio>
#include <functional>
#include <string>

// Ends the process with `status` (-1 is seen by the shell as 255) after the registered
// cleanups (see FatalCleanup), printing `message` exactly as given (no line end is
// added) on `stream`, on a line of its own: a line end goes first when the stream's
// console line is open (see ConsoleLineOpen).
//
// Safe on any thread, also on a worker of a parallel loop while the others still run:
// the process ends without running static destructors or exit handlers (which would
// run under live threads). When several threads fail at once, only the first prints and
// ends the process, with its own status; the others wait for that end. A fatal failure
// inside a cleanup ends the process at once, with the first failure's status and line.
//
// In order:
// 1. It waits until no other thread is inside a held step (see FatalExitHold), and takes
//    the console streams' locks. From then on the other threads stop at their next held
//    step and at their next use of stdout or stderr, so the message is the last line
//    printed and no file is made, renamed or removed behind the cleanups' backs. A step
//    or a console line of another thread that does not end (a write to a pipe nobody
//    reads) is waited for a few seconds only; the message is then left out of that
//    stream.
// 2. It runs the cleanups, before anything is written to the console, so that a console
//    that blocks or is gone cannot keep them from running.
// 3. It writes and flushes the pending console output, the message and every other
//    output stream, a few seconds at most: a console that takes no more (a full pipe
//    nobody reads) loses the rest. A console whose reader is gone (SIGPIPE) cannot end
//    the process here: the signal is ignored from step 1 on.
// From step 1 on, a SIGALRM (which bounds the writes of step 3) cannot end the process
// either. A memory reserve (ReserveMemoryForFatalEnd) is given back at the start, so
// that the cleanups find memory after an allocation failure.
[[noreturn]] void FatalExit(int status, const std::string& message, std::FILE* stream = stdout);
// The same for a message that is a C string (no allocation on the way).
[[noreturn]] void FatalExit(int status, const char* message, std::FILE* stream = stdout);

// Ends the run as FatalExit does with status 128 + `signal`, for an interrupt by that
// signal; the process then ends by the signal itself (see EndBySignal), so that a calling
// shell sees a death by the signal and stops a loop it runs. The message goes to stdout.
[[noreturn]] void FatalInterrupt(int signal, const char* message);

// The process ends at once by `signal`: its default action is restored, the signal is
// unblocked on this thread and raised. Where that does not end the process (a signal
// whose default is to be ignored), it ends with status 128 + `signal`.
[[noreturn]] void EndBySignal(int signal);

// True once a thread has begun the fatal end.
bool FatalEndBegun();

// A signal came while the fatal end is under way. The first such signal counts: after
// its cleanups the end dies by its own signal or, when it has none, by this one. What
// else it does depends on the step the end is in:
// - waiting (step 1): the waits end a short time (a tenth of a second) after the first
//   such signal at the latest, and the line then gets that short time too;
// - cleaning up (step 2): nothing; the cleanups run whole and the line keeps its time;
// - writing (step 3): the writes still go on, for that short time at most.
// Safe in a signal handler.
void CutFatalEndShort(int signal);

// The signals that also cut the end short when they come to the ending thread itself:
// while it waits and while it writes, that thread unblocks them with a handler that
// calls CutFatalEndShort (and restarts the call it interrupts).
// Set once by the interrupt watch before any other thread exists; none by default.
void SetSignalsThatCutTheEndShort(const sigset_t& signals);

// Sets memory aside for the cleanups of a fatal end: FatalExit gives it back before they
// run, so that an end after an allocation failure can still remove what it must. Call
// once at the start of the program.
void ReserveMemoryForFatalEnd();

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
// before it cleans up and prints, so that a short step on files (making a file and
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
