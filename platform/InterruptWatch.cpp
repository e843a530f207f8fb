#include "platform/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

#include "platform/Fatal.h"
#include "platform/SignalActions.h"

namespace {

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

// Taken by the watching thread for the end it runs, and by EndInterruptWatch: whichever
// comes first decides how the run ends. Never destroyed, as the watching thread may
// still wait on it while the process ends.
std::mutex& WatchLock() {
  static std::mutex* lock = new std::mutex();
  return *lock;
}
bool gWatchEnded = false;  // guarded by WatchLock

sigset_t gWaited;       // what the watching thread waits for
sigset_t gMaskBefore;   // the starting thread's mask before the watch
bool gStarted = false;
bool gPipeHandled = false;
pthread_t gWatcher;

// Made before any signal can come, so that the end allocates nothing for its line.
const char* Line(int signal) {
  switch (signal) {
    case SIGINT:
      return "Interrupted by SIGINT: the run stopped before finishing its job\n";
    case SIGTERM:
      return "Interrupted by SIGTERM: the run stopped before finishing its job\n";
    case SIGHUP:
      return "Interrupted by SIGHUP: the run stopped before finishing its job\n";
    default:
      return "Interrupted by SIGPIPE: the run stopped before finishing its job\n";
  }
}

// SIGPIPE comes to the thread whose write found the reader gone; the watching thread,
// which blocks it, takes it from there.
void OnBrokenPipe(int) { pthread_kill(gWatcher, SIGPIPE); }

void Watch() {
  for (;;) {
    int signal = 0;
    if (sigwait(&gWaited, &signal) != 0) continue;
    std::lock_guard<std::mutex> hold(WatchLock());
    // The run is over: nothing is left to clean up.
    if (gWatchEnded) EndBySignal(signal);
    if (FatalEndBegun()) {
      // The end ignores a console that is gone; any other signal cuts its waits short.
      if (signal != SIGPIPE) CutFatalEndShort(signal);
      continue;
    }
    FatalInterrupt(signal, Line(signal));
  }
}

}  // namespace

void StartInterruptWatch() {
  if (gStarted) return;
  SetSignalAction(SIGXFSZ, SIG_IGN);  // a write beyond the file-size limit fails as on a full disk
  sigset_t watched;
  sigemptyset(&watched);
  bool any = false;
  for (int signal : kWatched) {
    if (SignalIgnored(signal)) continue;
    sigaddset(&watched, signal);
    any = true;
  }
  const bool pipe = !SignalIgnored(SIGPIPE);
  if (!any && !pipe) return;
  gWaited = watched;
  if (pipe) sigaddset(&gWaited, SIGPIPE);
  // The watching thread starts with SIGPIPE blocked too; this thread takes it back below.
  if (pthread_sigmask(SIG_BLOCK, &gWaited, &gMaskBefore) != 0) return;
  try {
    std::thread watcher(Watch);
    gWatcher = watcher.native_handle();
    watcher.detach();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &gMaskBefore, nullptr);
    return;
  }
  gStarted = true;
  SetSignalsThatCutTheEndShort(watched);
  if (pipe) {
    MaskSignal(SIG_UNBLOCK, SIGPIPE);
    gPipeHandled = SetSignalAction(SIGPIPE, OnBrokenPipe, SA_RESTART);
  }
}

void EndInterruptWatch() {
  std::lock_guard<std::mutex> hold(WatchLock());
  gWatchEnded = true;
  if (!gStarted) return;
  if (gPipeHandled) SetSignalAction(SIGPIPE, SIG_DFL);
  pthread_sigmask(SIG_SETMASK, &gMaskBefore, nullptr);
}
