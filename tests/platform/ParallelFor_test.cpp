#include "platform/ParallelFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
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

TEST(ParallelFor, WorkerIndexesAreNeverSharedAtOnce) {
  WorkerCountGuard guard(4);
  std::vector<std::atomic<int>> busy(4);
  std::atomic<int> clashes{0};
  ParallelFor(0, 2000, [&](int, int worker) {
    if (busy[worker].fetch_add(1) != 0) clashes++;
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

TEST(ParallelFor, SetWorkerCountZeroReturnsToTheDefault) {
  SetWorkerCount(5);
  EXPECT_EQ(WorkerCount(), 5);
  SetWorkerCount(0);
  EXPECT_GE(WorkerCount(), 1);
}

}  // namespace
