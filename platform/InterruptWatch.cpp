#include "platform/InterruptWatch.h"

#include <pthread.h>
#include <signal.h>

#include <mutex>
#include <string>
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

const char* SignalName(int signal) {
  return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
}

void Watch(sigset_t signals) {
  int signal = 0;
  if (sigwait(&signals, &signal) != 0) return;
  std::lock_guard<std::mutex> hold(WatchLock());
  if (gWatchEnded) return;
  FatalExit(128 + signal,
            std::string("Interrupted by ") + SignalName(signal) + ": the run stopped before finishing its job\n");
}

}  // namespace

void StartInterruptWatch() {
  sigset_t signals;
  sigemptyset(&signals);
  bool any = false;
  for (int signal : kWatched) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
    any = true;
  }
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
