#include "platform/Fatal.h"

#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ConsoleStreams.h"
#include "platform/SignalActions.h"

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
// Writing the last line and flushing the streams: a console that takes nothing for this
// long (a full pipe nobody reads, a stopped terminal) loses the rest.
constexpr std::chrono::seconds kLineWait{3};
// What is left of a wait once a signal has cut it short, and the time the line gets
// then: a step, a console line or a write under way ends well within it, so a signal
// that comes back to back with the first never costs the line, while one that is stuck
// is given up soon.
constexpr std::chrono::milliseconds kCutWait{100};
// Once that time is out, every later write is cut off this soon.
constexpr std::chrono::milliseconds kLaterWriteWait{20};
constexpr std::chrono::milliseconds kPoll{1};
// Enough for the cleanups' paths and listings.
constexpr size_t kReservedBytes = size_t{4} << 20;

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

void* gReserve = nullptr;

// The stages of the end; the watch of signals reads them to cut the end short.
enum Phase { kWorking, kWaiting, kCleaning, kWriting };

// Set by the first thread that ends the run; later callers never print.
std::atomic<bool> gEnding{false};
std::atomic<int> gPhase{kWorking};
std::atomic<int> gCutBy{0};   // the first signal that came while the end waited
std::atomic<int> gSeenBy{0};  // the first signal that came during the end, at any stage
// Once a wait is cut short, it ends at this time (steady clock, nanoseconds) at the latest.
std::atomic<long long> gCutUntil{0};
// What the end does, set by the ending thread before anything else reads it.
int gStatus = 0;
int gSignal = 0;  // the signal that ends the process after the end, 0 for none
const char* gMessage = "";
std::FILE* gStream = nullptr;
bool gOutFree = false;  // the ending thread holds the lock of stdout
bool gErrFree = false;  // the same for stderr

sigset_t gCutSignals;
bool gHaveCutSignals = false;
// The timer that bounds the ending thread's writes, while gDeadlineLive.
timer_t gDeadlineTimer{};
std::atomic<bool> gDeadlineLive{false};

thread_local bool tEnding = false;
thread_local int tHolds = 0;  // held steps of this thread that are open
thread_local bool tEndLockTaken = false;  // the ending thread holds EndLock

long long Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// True once a wait that would end at `until` is to end.
bool WaitIsOver(std::chrono::steady_clock::time_point until) {
  if (gCutBy.load() != 0 && Now() >= gCutUntil.load()) return true;
  return std::chrono::steady_clock::now() >= until;
}

void OnCutSignal(int signal) { CutFatalEndShort(signal); }

// Interrupts the ending thread's blocking write; the write then fails. A SIGALRM from
// outside meets the same handler from the first step of the end on, so that it cannot
// end the process before its cleanups.
void OnDeadline(int) {}

// While it lives, the signals that cut the end short reach this thread. Their handler
// restarts what it interrupts: a write that the console takes is never broken off by
// them (the write deadline cuts off one that blocks).
class CutSignalsOpen {
 public:
  CutSignalsOpen() {
    if (!gHaveCutSignals) return;
    for (int signal = 1; signal < NSIG; ++signal)
      if (sigismember(&gCutSignals, signal) == 1) SetSignalAction(signal, OnCutSignal, SA_RESTART);
    open_ = pthread_sigmask(SIG_UNBLOCK, &gCutSignals, &before_) == 0;
  }
  ~CutSignalsOpen() {
    if (open_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  CutSignalsOpen(const CutSignalsOpen&) = delete;
  CutSignalsOpen& operator=(const CutSignalsOpen&) = delete;

 private:
  sigset_t before_;
  bool open_ = false;
};

// While it lives, a write of this thread that blocks is interrupted once `wait` is out,
// and every kLaterWriteWait after that (a timer that signals this thread only). Without
// the timer the writes are not bounded.
class WriteDeadline {
 public:
  explicit WriteDeadline(std::chrono::nanoseconds wait) {
    MaskSignal(SIG_UNBLOCK, SIGALRM);
    struct sigevent event {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event._sigev_un._tid = gettid();  // the C library names no field for it
    if (timer_create(CLOCK_MONOTONIC, &event, &gDeadlineTimer) != 0) return;
    made_ = true;
    struct itimerspec when {};
    when.it_value.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    when.it_interval.tv_nsec = std::chrono::nanoseconds(kLaterWriteWait).count();
    timer_settime(gDeadlineTimer, 0, &when, nullptr);
    gDeadlineLive.store(true);
  }
  ~WriteDeadline() {
    if (!made_) return;
    gDeadlineLive.store(false);
    timer_delete(gDeadlineTimer);
  }
  WriteDeadline(const WriteDeadline&) = delete;
  WriteDeadline& operator=(const WriteDeadline&) = delete;

 private:
  bool made_ = false;
};

// A signal came during the writes: what is left of them gets kCutWait at most. Safe in
// a signal handler (timer_gettime and timer_settime are).
void ShortenWriteDeadline() {
  if (!gDeadlineLive.load()) return;
  struct itimerspec left {};
  if (timer_gettime(gDeadlineTimer, &left) != 0) return;
  const long long leftNs = static_cast<long long>(left.it_value.tv_sec) * 1000000000 + left.it_value.tv_nsec;
  const long long cutNs = std::chrono::nanoseconds(kCutWait).count();
  if (leftNs <= cutNs) return;  // due sooner anyway, or past due
  struct itimerspec when = left;
  when.it_value.tv_sec = 0;
  when.it_value.tv_nsec = static_cast<long>(cutNs);
  timer_settime(gDeadlineTimer, 0, &when, nullptr);
}

// Takes the lock of a stream, waiting at most kStreamWait; false when it stays taken or
// the end is cut short.
bool LockStream(std::FILE* stream) {
  const auto until = std::chrono::steady_clock::now() + kStreamWait;
  while (ftrylockfile(stream) != 0) {
    if (WaitIsOver(until)) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

// Waits for the held steps of other threads, at most kHeldStepWait; the lock is never
// given back.
bool TakeEndLock() {
  const auto until = std::chrono::steady_clock::now() + kHeldStepWait;
  while (!EndLock().try_lock_for(kPoll)) {
    if (WaitIsOver(until)) return false;
  }
  return true;
}

void RunCleanups() {
  std::vector<Registered> cleanups;
  cleanups.swap(Cleanups());
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it) {
    try {
      if (it->work) it->work();
    } catch (...) {
    }
  }
}

// Writes what the console still holds and the message, within the write deadline, and
// ends the process. Nothing here allocates.
[[noreturn]] void FinishTheEnd() {
  {
    // Only a cut wait shortens the time the line gets; a signal that came during the
    // cleanups is the end's own, as is one that comes during the writes (which then get
    // kCutWait at most).
    WriteDeadline deadline(gCutBy.load() != 0 ? std::chrono::nanoseconds(kCutWait) : kLineWait);
    // The signals that came during the cleanups wait, blocked, for this: they reach the
    // handler while the stage still says so.
    CutSignalsOpen open;
    gPhase.store(kWriting);
    const bool streamFree = gStream == stdout ? gOutFree : gStream == stderr ? gErrFree : true;
    if (gOutFree) std::fflush(stdout);
    if (gErrFree) std::fflush(stderr);
    if (gStream != nullptr && streamFree && gMessage[0] != '\0') {
      if (ConsoleLineOpen(gStream)) std::fputc('\n', gStream);
      std::fputs(gMessage, gStream);
      std::fflush(gStream);
    }
    // fflush(nullptr) would wait on the lock of a console stream another thread holds.
    if (gOutFree && gErrFree) std::fflush(nullptr);
  }
  const int signal = gSignal != 0 ? gSignal : gSeenBy.load();
  if (signal != 0) EndBySignal(signal);
  std::_Exit(gStatus);
}

// Another thread is ending the process: give up this thread's holds and wait for the end.
[[noreturn]] void WaitForTheEnd() {
  while (tHolds > 0) {
    --tHolds;
    EndLock().unlock();
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

[[noreturn]] void EndRun(int status, int signal, const char* message, std::FILE* stream) {
  if (gEnding.exchange(true)) {
    // A cleanup of this thread failed in turn: the first failure's line and status.
    if (tEnding) FinishTheEnd();
    // An interrupt that met an end begun on another thread cuts it short.
    if (signal != 0) CutFatalEndShort(signal);
    WaitForTheEnd();
  }
  tEnding = true;
  SetSignalAction(SIGALRM, OnDeadline);  // no SA_RESTART: the deadline breaks off a write
  gStatus = status;
  gSignal = signal;
  gMessage = message == nullptr ? "" : message;
  gStream = stream;
  std::free(gReserve);
  gReserve = nullptr;
  SetSignalAction(SIGPIPE, SIG_IGN);
  gPhase.store(kWaiting);
  {
    CutSignalsOpen open;
    tEndLockTaken = TakeEndLock();
    // Other threads block at their next line; this thread's own locks nest. A stream
    // whose lock stays taken is left alone: writing to it would block this thread too.
    gOutFree = LockStream(stdout);
    gErrFree = LockStream(stderr);
  }
  gPhase.store(kCleaning);
  RunCleanups();
  FinishTheEnd();
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
  EndRun(status, 0, message.c_str(), stream);
}

void FatalExit(int status, const char* message, std::FILE* stream) { EndRun(status, 0, message, stream); }

void FatalInterrupt(int signal, const char* message) { EndRun(128 + signal, signal, message, stdout); }

void EndBySignal(int signal) {
  SetSignalAction(signal, SIG_DFL);
  MaskSignal(SIG_UNBLOCK, signal);
  raise(signal);
  std::_Exit(128 + signal);
}

bool FatalEndBegun() { return gEnding.load(); }

void CutFatalEndShort(int signal) {
  int none = 0;
  gSeenBy.compare_exchange_strong(none, signal);
  switch (gPhase.load()) {
    case kWaiting: {
      // The wait ends kCutWait after the first cut at the latest.
      none = 0;
      if (gCutBy.load() == 0) gCutUntil.store(Now() + std::chrono::nanoseconds(kCutWait).count());
      gCutBy.compare_exchange_strong(none, signal);
      break;
    }
    case kWriting:
      ShortenWriteDeadline();
      break;
    default:
      break;  // the cleanups run whole
  }
}

void SetSignalsThatCutTheEndShort(const sigset_t& signals) {
  gCutSignals = signals;
  gHaveCutSignals = true;
}

void ReserveMemoryForFatalEnd() {
  if (gReserve == nullptr) gReserve = std::malloc(kReservedBytes);
}
