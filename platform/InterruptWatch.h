#pragma once
// Ends a run that is interrupted (SIGINT, SIGTERM, SIGHUP) or whose console reader is
// gone (SIGPIPE) through the fatal exit, so that it cleans up as a failed run does
// instead of dying where it stands, and then dies of that same signal, as a shell and a
// calling loop expect.

// Blocks SIGINT, SIGTERM and SIGHUP on the calling thread, and so on every thread it
// starts later, and starts a thread that waits for them. The first that arrives ends the
// run through FatalInterrupt: the registered cleanups (FatalCleanup), the line
// "Interrupted by <SIGNAME>: the run stopped before finishing its job", and the end by
// that signal (a shell sees 128 + the signal number). A second one while the end waits
// cuts the waiting short (CutFatalEndShort).
// A write to a pipe whose reader is gone (SIGPIPE, which comes to the writing thread)
// is handed to the watching thread and ends the run the same way.
// SIGXFSZ is ignored, so that a write beyond the file-size limit fails as on a full disk.
// A signal that is ignored when the watch starts (as under nohup, or for a background
// job of a script) stays ignored.
// Call once at the start of the program, before any other thread exists. Where no
// thread can be started, the signals keep their default effect.
void StartInterruptWatch();

// The run has ended on its own: the signals get their default effect back (a signal that
// comes later ends the process by that signal at once, with nothing left to clean up).
// A signal that is being handled already ends the process inside this call.
void EndInterruptWatch();
