#include "platform/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <thread>

#include "platform/Fatal.h"

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

void Watch(sigset_t signals) {
  int signal = 0;
  if (sigwait(&signals, &signal) != 0) return;
  std::lock_guard<std::mutex> hold(WatchLock());
  if (gWatchEnded) return;
  FatalExit(128 + signal, InterruptedLine(signal));
}

}  // namespace

const char* InterruptedLine(int signal) {
  switch (signal) {
    case SIGINT:
      return "Interrupted by SIGINT: the run stopped before finishing its job\n";
    case SIGTERM:
      return "Interrupted by SIGTERM: the run stopped before finishing its job\n";
    case SIGHUP:
      return "Interrupted by SIGHUP: the run stopped before finishing its job\n";
    default:
      return "Interrupted: the run stopped before finishing its job\n";
  }
}

void StartInterruptWatch() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kWatched) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
  }
  bool any = false;
  for (int signal : kWatched) any = any || sigismember(&signals, signal) == 1;
  if (!any) return;
  sigset_t before;
  if (pthread_sigmask(SIG_BLOCK, &signals, &before) != 0) return;
  try {
    std::thread(Watch, signals).detach();
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
}

void EndInterruptWatch() {
  std::lock_guard<std::mutex> hold(WatchLock());
  gWatchEnded = true;
}
