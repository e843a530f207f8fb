#include "platform/ParallelFor.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

struct WorkerCountGuard {
  explicit WorkerCountGuard(int workers) { SetWorkerCount(workers); }
  ~WorkerCountGuard() { SetWorkerCount(0); }
};

TEST(ParallelFor, VisitsEveryItemOnceForEachWorkerCount) {
  for (int workers : {1, 2, 3, 8, 64}) {
    WorkerCountGuard guard(workers);
    for (int count : {0, 1, 5, 1000}) {
      std::vector<std::atomic<int>> visits(count + 3);
      ParallelFor(3, 3 + count, [&](int item, int worker) {
        ASSERT_GE(worker, 0);
        ASSERT_LT(worker, workers);
        visits[item]++;
      });
      for (int i = 0; i < 3; ++i) EXPECT_EQ(visits[i], 0);
      for (int i = 3; i < 3 + count; ++i) EXPECT_EQ(visits[i], 1) << workers << " workers, item " << i;
    }
  }
}

TEST(ParallelFor, OneWorkerRunsInItemOrderOnTheCallingThread) {
  WorkerCountGuard guard(1);
  std::vector<int> order;
  ParallelFor(0, 6, [&](int item, int worker) {
    EXPECT_EQ(worker, 0);
    order.push_back(item);
  });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

// Each item holds its worker index for a while, so two threads given the same index
// would overlap and be seen.
TEST(ParallelFor, WorkerIndexesAreNeverSharedAtOnce) {
  WorkerCountGuard guard(4);
  std::vector<std::atomic<int>> busy(4);
  std::atomic<int> clashes{0};
  ParallelFor(0, 400, [&](int, int worker) {
    if (busy[worker].fetch_add(1) != 0) clashes++;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
    busy[worker].fetch_sub(1);
  });
  EXPECT_EQ(clashes, 0);
}

TEST(ParallelFor, RethrowsTheBodysExceptionAfterJoining) {
  WorkerCountGuard guard(4);
  EXPECT_THROW(ParallelFor(0, 100,
                           [](int item, int) {
                             if (item == 37) throw std::runtime_error("item 37");
                           }),
               std::runtime_error);
}

// The workers are kept between loops: many short loops in a row, a loop started from a
// body (run in order on that worker), loops after a failed one, loops started by two
// threads at once, and loops in a child process made by fork after the parent's
// workers exist must all finish and visit every item once.
TEST(ParallelFor, ReusedWorkersFinishEveryKindOfLoop) {
  WorkerCountGuard guard(4);
  long long total = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<int> hits(7, 0);
    ParallelFor(0, 7, [&](int item, int) { hits[item]++; });
    for (int h : hits) total += h;
  }
  EXPECT_EQ(total, 3000 * 7);

  std::vector<std::atomic<int>> nested(40 * 30);
  ParallelFor(0, 40, [&](int outer, int) {
    ParallelFor(0, 30, [&](int inner, int worker) {
      EXPECT_EQ(worker, 0);
      nested[outer * 30 + inner]++;
    });
  });
  for (const std::atomic<int>& n : nested) EXPECT_EQ(n, 1);

  EXPECT_THROW(ParallelFor(0, 50, [](int, int) { throw std::runtime_error("every item"); }), std::runtime_error);
  std::atomic<int> after{0};
  ParallelFor(0, 100, [&](int, int) { after++; });
  EXPECT_EQ(after, 100);

  std::atomic<int> fromTwo{0};
  std::thread other([&] {
    for (int round = 0; round < 200; ++round) ParallelFor(0, 10, [&](int, int) { fromTwo++; });
  });
  for (int round = 0; round < 200; ++round) ParallelFor(0, 10, [&](int, int) { fromTwo++; });
  other.join();
  EXPECT_EQ(fromTwo, 2 * 200 * 10);

#if !defined(__SANITIZE_THREAD__)  // the thread sanitizer refuses new threads after such a fork
  EXPECT_EXIT(
      {
        std::atomic<int> visits{0};
        ParallelFor(0, 1000, [&](int, int) { visits++; });
        std::_Exit(visits == 1000 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
#endif
}

// The default is the environment's SEGMENTER_WORKERS, else one worker per hardware
// thread; a count set in between is forgotten again.
TEST(ParallelFor, SetWorkerCountZeroReturnsToTheDefault) {
  SetWorkerCount(0);
  const int initial = WorkerCount();
  if (std::getenv("SEGMENTER_WORKERS") == nullptr) {
    EXPECT_EQ(initial, std::max(1, static_cast<int>(std::thread::hardware_concurrency())));
  }
  SetWorkerCount(initial + 3);
  EXPECT_EQ(WorkerCount(), initial + 3);
  SetWorkerCount(0);
  EXPECT_EQ(WorkerCount(), initial);
}

// SEGMENTER_WORKERS is taken only as a whole number from 1 to 1024.
TEST(ParallelFor, WorkerCountTextIsAWholeNumberInRange) {
  const struct Case {
    const char* text;
    int workers;  // 0: refused
  } cases[] = {
      {"1", 1},    {"8", 8},   {"1024", 1024}, {" 4", 4},  {"+3", 3},          {"08", 8},
      {"0", 0},    {"-3", 0},  {"1025", 0},    {"", 0},    {"abc", 0},         {"4 ", 0},
      {"2x", 0},   {"0x10", 0}, {"100000", 0}, {"99999999999999999999", 0},
  };
  for (const Case& c : cases) {
    int workers = -1;
    EXPECT_EQ(ParseWorkerCount(c.text, workers), c.workers > 0) << "'" << c.text << "'";
    if (c.workers > 0) {
      EXPECT_EQ(workers, c.workers) << "'" << c.text << "'";
    }
  }
  int workers = 0;
  EXPECT_FALSE(ParseWorkerCount(nullptr, workers));
}

}  // namespace
