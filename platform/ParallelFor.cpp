#include "platform/ParallelFor.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<int> gWorkerOverride{0};

int DefaultWorkers() {
  if (const char* text = std::getenv("SEGMENTER_WORKERS")) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && value > 0 && value <= 1024) return static_cast<int>(value);
  }
  unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : static_cast<int>(std::min(hardware, 1024u));
}

}  // namespace

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
  if (workers <= 1) {
    for (int item = begin; item < end; ++item) body(item, 0);
    return;
  }
  // Chunks small enough to balance uneven items, large enough to keep the counter quiet.
  const int chunk = static_cast<int>(std::max<long long>(1, count / (static_cast<long long>(workers) * 8)));
  std::atomic<long long> next{begin};
  std::atomic<bool> failed{false};
  std::exception_ptr firstError;
  std::mutex errorLock;
  auto run = [&](int worker) {
    try {
      while (!failed.load(std::memory_order_relaxed)) {
        long long first = next.fetch_add(chunk);
        if (first >= end) break;
        long long last = std::min<long long>(first + chunk, end);
        for (long long item = first; item < last; ++item) body(static_cast<int>(item), worker);
      }
    } catch (...) {
      std::lock_guard<std::mutex> hold(errorLock);
      if (!firstError) firstError = std::current_exception();
      failed.store(true);
    }
  };
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (int worker = 1; worker < workers; ++worker) threads.emplace_back(run, worker);
  run(0);
  for (std::thread& thread : threads) thread.join();
  if (firstError) std::rethrow_exception(firstError);
}
