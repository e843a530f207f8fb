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
// The same once a signal has cut the end short: the line still goes out where the
// console takes it at once.
constexpr std::chrono::milliseconds kCutLineWait{100};
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
std::atomic<int> gCutBy{0};  // the first signal that came during the end
std::atomic<bool> gEnderKnown{false};
pthread_t gEnder;  // the ending thread, once gEnderKnown
// What the end does, set by the ending thread before anything else reads it.
int gStatus = 0;
int gSignal = 0;  // the signal that ends the process after the end, 0 for none
const char* gMessage = "";
std::FILE* gStream = nullptr;
bool gOutFree = false;  // the ending thread holds the lock of stdout
bool gErrFree = false;  // the same for stderr

sigset_t gCutSignals;
bool gHaveCutSignals = false;
std::atomic<bool> gDeadlineHandled{false};  // SIGALRM interrupts the ending thread's writes

thread_local bool tEnding = false;
thread_local int tHolds = 0;  // held steps of this thread that are open
thread_local bool tEndLockTaken = false;  // the ending thread holds EndLock

bool CutShort() { return gCutBy.load() != 0; }

void OnCutSignal(int signal) { CutFatalEndShort(signal); }

// Interrupts the ending thread's blocking write; the write then fails.
void OnDeadline(int) {}

// While it lives, the signals that cut the end short reach this thread, which waits.
class CutSignalsOpen {
 public:
  CutSignalsOpen() {
    if (!gHaveCutSignals) return;
    for (int signal = 1; signal < NSIG; ++signal)
      if (sigismember(&gCutSignals, signal) == 1) SetSignalAction(signal, OnCutSignal);
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
    if (!SetSignalAction(SIGALRM, OnDeadline)) return;  // no SA_RESTART: the write fails with EINTR
    gDeadlineHandled.store(true);
    MaskSignal(SIG_UNBLOCK, SIGALRM);
    struct sigevent event {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event._sigev_un._tid = gettid();  // the C library names no field for it
    if (timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return;
    made_ = true;
    struct itimerspec when {};
    when.it_value.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(wait.count() % 1000000000);
    when.it_interval.tv_nsec = std::chrono::nanoseconds(kLaterWriteWait).count();
    timer_settime(timer_, 0, &when, nullptr);
  }
  ~WriteDeadline() {
    if (made_) timer_delete(timer_);
  }
  WriteDeadline(const WriteDeadline&) = delete;
  WriteDeadline& operator=(const WriteDeadline&) = delete;

 private:
  timer_t timer_{};
  bool made_ = false;
};

// Takes the lock of a stream, waiting at most kStreamWait; false when it stays taken or
// the end is cut short.
bool LockStream(std::FILE* stream) {
  const auto until = std::chrono::steady_clock::now() + kStreamWait;
  while (ftrylockfile(stream) != 0) {
    if (CutShort() || std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

// Waits for the held steps of other threads, at most kHeldStepWait; the lock is never
// given back.
bool TakeEndLock() {
  const auto until = std::chrono::steady_clock::now() + kHeldStepWait;
  while (!EndLock().try_lock_for(std::chrono::milliseconds(10))) {
    if (CutShort() || std::chrono::steady_clock::now() >= until) return false;
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
    // A signal that comes during the writes cuts off what is left of them.
    const int cutBefore = gCutBy.load();
    WriteDeadline deadline(cutBefore != 0 ? std::chrono::nanoseconds(kCutLineWait) : kLineWait);
    gPhase.store(kWriting);
    CutSignalsOpen open;
    auto goOn = [cutBefore] { return gCutBy.load() == cutBefore; };
    const bool streamFree = gStream == stdout ? gOutFree : gStream == stderr ? gErrFree : true;
    if (goOn() && gOutFree) std::fflush(stdout);
    if (goOn() && gErrFree) std::fflush(stderr);
    if (goOn() && gStream != nullptr && streamFree && gMessage[0] != '\0') {
      if (ConsoleLineOpen(gStream)) std::fputc('\n', gStream);
      std::fputs(gMessage, gStream);
      std::fflush(gStream);
    }
    // fflush(nullptr) would wait on the lock of a console stream another thread holds.
    if (goOn() && gOutFree && gErrFree) std::fflush(nullptr);
  }
  const int signal = gSignal != 0 ? gSignal : gCutBy.load();
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
  gEnder = pthread_self();
  gEnderKnown.store(true);
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
  gCutBy.compare_exchange_strong(none, signal);
  // A write of the ending thread that blocks is interrupted; the thread sees the cut
  // before it begins the next one.
  if (gPhase.load() == kWriting && gDeadlineHandled.load() && gEnderKnown.load() &&
      !pthread_equal(gEnder, pthread_self()))
    pthread_kill(gEnder, SIGALRM);
}

void SetSignalsThatCutTheEndShort(const sigset_t& signals) {
  gCutSignals = signals;
  gHaveCutSignals = true;
}

void ReserveMemoryForFatalEnd() {
  if (gReserve == nullptr) gReserve = std::malloc(kReservedBytes);
}
