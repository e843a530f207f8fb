#include "platform/ParallelFor.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gWorkerOverride{0};

int DefaultWorkers() {
  int workers = 0;
  if (const char* text = std::getenv("SEGMENTER_WORKERS"); text != nullptr && ParseWorkerCount(text, workers))
    return workers;
  unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(std::min(hardware, static_cast<unsigned>(kMaxWorkers)));
}

// Set on pool threads and on a thread while it runs a loop: a ParallelFor called from
// a body runs in order on the calling thread instead of waiting for busy workers.
thread_local bool tInsideLoop = false;

// One loop shared by the caller (worker 0) and `helpers` pool threads (workers 1..).
struct Loop {
  const std::function<void(int, int)>* body = nullptr;
  long long end = 0;
  long long chunk = 1;
  std::atomic<long long> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr firstError;
  std::mutex errorLock;

  void run(int worker) {
    try {
      while (!failed.load(std::memory_order_relaxed)) {
        const long long first = next.fetch_add(chunk);
        if (first >= end) break;
        const long long last = std::min<long long>(first + chunk, end);
        for (long long item = first; item < last; ++item) (*body)(static_cast<int>(item), worker);
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(errorLock);
      if (!firstError) firstError = std::current_exception();
      failed.store(true);
    }
  }
};

// Threads started once and kept waiting between loops: starting threads for every
// loop costs more than many small loops do (a mixture fit runs thousands of them).
class Pool {
 public:
  // Runs `loop` on the calling thread and `helpers` pool threads; returns when all are done.
  void runLoop(Loop& loop, int helpers) {
    std::unique_lock<std::mutex> hold(lock_);
    while (static_cast<int>(threads_.size()) < helpers) {
      const int index = static_cast<int>(threads_.size());
      try {
        threads_.emplace_back([this, index] { serve(index); });
      } catch (const std::system_error&) {
        break;  // no thread to be had (a memory cap): the workers there are share the loop
      }
    }
    helpers = std::min(helpers, static_cast<int>(threads_.size()));
    loop_ = &loop;
    helpers_ = helpers;
    pending_ = helpers;
    ++generation_;
    hold.unlock();
    wake_.notify_all();
    loop.run(0);
    hold.lock();
    finished_.wait(hold, [this] { return pending_ == 0; });
    loop_ = nullptr;
  }

  // Serialises loops started by different threads; false when another one runs.
  std::mutex& ownership() { return owner_; }

 private:
  void serve(int index) {
    tInsideLoop = true;
    unsigned long long seen = 0;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [&] { return generation_ != seen; });
      seen = generation_;
      if (index >= helpers_) continue;
      Loop* loop = loop_;
      hold.unlock();
      loop->run(index + 1);
      hold.lock();
      if (--pending_ == 0) finished_.notify_one();
    }
  }

  std::mutex owner_;
  std::mutex lock_;
  std::condition_variable wake_, finished_;
  std::vector<std::thread> threads_;
  Loop* loop_ = nullptr;
  int helpers_ = 0;
  int pending_ = 0;
  unsigned long long generation_ = 0;
};

// The pool lives until the process ends (its threads wait in the background). A child
// made by fork has none of the parent's threads, so it starts a pool of its own.
Pool* gPool = nullptr;
std::once_flag gForkHandler;

Pool& ThePool() {
  std::call_once(gForkHandler, [] { pthread_atfork(nullptr, nullptr, [] { gPool = nullptr; }); });
  static std::mutex creation;
  std::lock_guard<std::mutex> hold(creation);
  if (gPool == nullptr) gPool = new Pool();
  return *gPool;
}

}  // namespace

bool ParseWorkerCount(const char* text, int& workers) {
  if (text == nullptr) return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value < 1 || value > kMaxWorkers) return false;
  workers = static_cast<int>(value);
  return true;
}

int WorkerCount() {
  int override = gWorkerOverride.load();
  if (override > 0) return override;
  static const int defaultWorkers = DefaultWorkers();
  return defaultWorkers;
}

void SetWorkerCount(int workers) { gWorkerOverride.store(std::max(0, workers)); }

void ParallelFor(int begin, int end, const std::function<void(int item, int worker)>& body) {
  if (end <= begin) return;
  const long long count = static_cast<long long>(end) - begin;
  const int workers = static_cast<int>(std::min<long long>(WorkerCount(), count));
  Pool* pool = workers > 1 && !tInsideLoop ? &ThePool() : nullptr;
  std::unique_lock<std::mutex> owner;
  if (pool != nullptr) owner = std::unique_lock<std::mutex>(pool->ownership(), std::try_to_lock);
  if (pool == nullptr || !owner.owns_lock()) {
    for (int item = begin; item < end; ++item) body(item, 0);
    return;
  }
  Loop loop;
  loop.body = &body;
  loop.end = end;
  loop.next = begin;
  // Chunks small enough to balance uneven items, large enough to keep the counter quiet.
  loop.chunk = std::max<long long>(1, count / (static_cast<long long>(workers) * 8));
  tInsideLoop = true;
  pool->runLoop(loop, workers - 1);
  tInsideLoop = false;
  if (loop.firstError) std::rethrow_exception(loop.firstError);
}
