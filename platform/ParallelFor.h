#pragma once
// The one mechanism that shares independent per-item work among the machine's cores.
//
// ParallelFor(begin, end, body) calls body(item, worker) once for every item in
// [begin, end), on up to WorkerCount() threads, and returns when all calls are done.
// Items are handed out in increasing order in small chunks; `worker` is in
// [0, WorkerCount()) and no two calls with the same worker index run at once, so a
// caller can give each worker its own scratch (a voxel sample, buffers).
//
// Contract for results equal to one thread's, byte for byte:
//   - the body writes only to outputs owned by its item (or its worker's scratch);
//   - sums that decide results are reduced afterwards in item order by the caller;
//   - the body constructs no random-distribution object, draws nothing and opens no file.
// With one worker the body runs on the calling thread in item order.
// The first exception a body throws is rethrown on the calling thread after all
// workers have stopped.
#include <functional>

// Workers used by ParallelFor: the value set by SetWorkerCount, else the environment
// variable SEGMENTER_WORKERS when ParseWorkerCount takes it, else one per hardware thread
// (at most kMaxWorkers).
int WorkerCount();

inline constexpr int kMaxWorkers = 1024;

// True, with the count, when `text` is a whole decimal number from 1 to kMaxWorkers
// (leading blanks and a sign allowed, nothing after the digits).
bool ParseWorkerCount(const char* text, int& workers);

// Sets the worker count; 0 returns to the default above.
void SetWorkerCount(int workers);

void ParallelFor(int begin, int end, const std::function<void(int item, int worker)>& body);
