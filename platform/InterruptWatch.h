#pragma once
// Ends a run that is interrupted (SIGINT, SIGTERM, SIGHUP) through the fatal exit, so
// that it cleans up as a failed run does instead of dying where it stands.

// Blocks the three signals on the calling thread, and so on every thread it starts
// later, and starts a thread that waits for them. The first that arrives ends the run
// through FatalExit with status 128 + the signal number and the line
// "Interrupted by <SIGNAME>: the run stopped before finishing its job", after the
// registered cleanups (FatalCleanup). A signal that is ignored when the watch starts
// (as under nohup, or for a background job of a script) stays ignored.
// Call once at the start of the program, before any other thread exists. Where no
// thread can be started, the signals keep their default effect.
void StartInterruptWatch();

// The run has ended on its own: a signal that comes later no longer ends it. A signal
// that is being handled already ends the process inside this call.
void EndInterruptWatch();
