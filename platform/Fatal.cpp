#include "platform/Fatal.h"

#include <stdio.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Guards the held steps and the list of cleanups. The ending thread takes it and never
// gives it back, so every other thread stops at its next held step. Made once and never
// destroyed: a thread may still wait on it while the process ends.
std::recursive_timed_mutex& EndLock() {
  static std::recursive_timed_mutex* lock = new std::recursive_timed_mutex();
  return *lock;
}

// Held steps are short; one that has not ended by then is stuck (a write to a full
// pipe), and the end goes on without waiting for it any longer.
constexpr std::chrono::seconds kHeldStepWait{5};
// The same for the lock of a console stream: a thread that writes to a pipe nobody reads
// holds it for good.
constexpr std::chrono::seconds kStreamWait{2};

// Takes the lock of a stream, waiting at most kStreamWait; false when it stays taken.
bool LockStream(std::FILE* stream) {
  const auto until = std::chrono::steady_clock::now() + kStreamWait;
  while (ftrylockfile(stream) != 0) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Flushes every stream when both console streams are free, else only the free one:
// fflush(nullptr) would wait on the lock of the other.
void FlushFreeStreams(bool outLocked, bool errLocked) {
  if (outLocked && errLocked) {
    std::fflush(nullptr);
  } else if (outLocked) {
    std::fflush(stdout);
  } else if (errLocked) {
    std::fflush(stderr);
  }
}

struct Registered {
  unsigned long long id;
  std::function<void()> work;
};

// Guarded by EndLock.
std::vector<Registered>& Cleanups() {
  static std::vector<Registered>* cleanups = new std::vector<Registered>();
  return *cleanups;
}
unsigned long long gNextCleanup = 1;

// Set by the first thread that ends the run; later callers never print.
std::atomic<bool> gEnding{false};
std::atomic<int> gStatus{0};
thread_local bool tEnding = false;
thread_local int tHolds = 0;  // held steps of this thread that are open
thread_local bool tEndLockTaken = false;  // the ending thread holds EndLock

// Another thread is ending the process: give up this thread's holds and wait for the end.
[[noreturn]] void WaitForTheEnd() {
  while (tHolds > 0) {
    --tHolds;
    EndLock().unlock();
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

FatalExitHold::FatalExitHold() {
  // The ending thread that could not take the lock from a stuck step goes on without it.
  if (tEnding && !tEndLockTaken) return;
  EndLock().lock();
  locked_ = true;
  // Only the outermost hold may find the end begun: while a thread holds, no other
  // thread can get past the lock to begin it.
  if (tHolds++ == 0 && gEnding.load() && !tEnding) WaitForTheEnd();
}

FatalExitHold::~FatalExitHold() {
  if (!locked_) return;
  --tHolds;
  EndLock().unlock();
}

FatalCleanup::FatalCleanup(std::function<void()> work) {
  FatalExitHold hold;
  id_ = gNextCleanup++;
  Cleanups().push_back({id_, std::move(work)});
}

FatalCleanup::~FatalCleanup() {
  FatalExitHold hold;
  std::vector<Registered>& cleanups = Cleanups();
  for (auto it = cleanups.begin(); it != cleanups.end(); ++it) {
    if (it->id == id_) {
      cleanups.erase(it);
      break;
    }
  }
}

void FatalExit(int status, const std::string& message, std::FILE* stream) {
  if (gEnding.exchange(true)) {
    // A cleanup of this thread failed in turn: end with the first failure's status.
    if (tEnding) std::_Exit(gStatus.load());
    // Another thread is ending the process; it ends this thread with it.
    WaitForTheEnd();
  }
  tEnding = true;
  gStatus.store(status);
  // Wait for held steps of other threads to finish; the lock is never given back.
  tEndLockTaken = EndLock().try_lock_for(kHeldStepWait);
  // Other threads block at their next line; this thread's own locks nest. A stream whose
  // lock stays taken is left alone: writing to it would block this thread too.
  const bool outLocked = LockStream(stdout);
  const bool errLocked = LockStream(stderr);
  const bool streamFree = stream == stdout ? outLocked : stream == stderr ? errLocked : true;
  if (streamFree) std::fputs(message.c_str(), stream);
  FlushFreeStreams(outLocked, errLocked);
  std::vector<Registered> cleanups;
  cleanups.swap(Cleanups());
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) {
    try {
      if (it->work) it->work();
    } catch (...) {
    }
  }
  FlushFreeStreams(outLocked, errLocked);
  std::_Exit(status);
}
