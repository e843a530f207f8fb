#include "platform/Fatal.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace {

std::mutex gCleanupLock;
std::function<void()> gCleanup;

// Set by the first thread that ends the run; later callers never print.
std::atomic<bool> gEnding{false};
std::atomic<int> gStatus{0};
thread_local bool tEnding = false;

}  // namespace

void SetFatalCleanup(std::function<void()> cleanup) {
  std::lock_guard<std::mutex> hold(gCleanupLock);
  gCleanup = std::move(cleanup);
}

void FatalExit(int status, const std::string& message, std::FILE* stream) {
  if (gEnding.exchange(true)) {
    // The cleanup of this thread failed in turn: end with the first failure's status.
    if (tEnding) std::_Exit(gStatus.load());
    // Another thread is ending the process; it ends this thread with it.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  tEnding = true;
  gStatus.store(status);
  std::fputs(message.c_str(), stream);
  std::fflush(nullptr);
  std::function<void()> cleanup;
  {
    std::lock_guard<std::mutex> hold(gCleanupLock);
    cleanup.swap(gCleanup);
  }
  if (cleanup) {
    try {
      cleanup();
    } catch (...) {
    }
  }
  std::fflush(nullptr);
  std::_Exit(status);
}
