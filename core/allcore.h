// All-core bandwidth: one pinned thread per processor, each running the bandwidth module's
// non-temporal loop over its own buffer, started together behind a barrier and timed from the
// first start to the last end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sysinfo/system_spec.h"

namespace core {

enum class AllCoreLoop { Read = 0, Write = 1, Copy = 2 };  // the module's MEMBW_RUN_* numbers

// What a run needs from the machine; tests hand in fakes.
struct AllCoreSystem {
  std::function<bool(int cpu)> pin;  // binds the calling thread to cpu
  std::function<int64_t()> now;      // a monotonic clock in ns
  std::function<void*(uint64_t bytes)> allocate;
  std::function<void(void*)> release;
  std::function<void(void* buffer, uint64_t bytes)> prefault;  // makes every page present
  // The loop over the thread's buffers (second only for Copy); 0 when it ran.
  std::function<int(AllCoreLoop loop, void* first, void* second, uint64_t bytes, uint32_t passes)> kernel;
};

// The machine's own: pthread affinity, CLOCK_MONOTONIC_RAW, page-aligned heap, a write to every
// page. kernel is left empty (the module provides it).
AllCoreSystem RealAllCoreSystem();

struct AllCoreRun {
  bool ok = false;
  std::string error;  // one message, however many threads failed
  int threads = 0;
  uint64_t bytesMoved = 0;  // read + written by all threads (Copy counts both arrays)
  int64_t elapsedNs = 0;    // first start to last end
  double mbPerSecond = 0;   // 2^20 bytes per second, as the module counts
};

// Runs loop on one thread per cpu, each with its own buffers of bytes (a multiple of 512), passes
// times per round. Each thread pins itself, allocates and prefaults its buffers, then waits at the
// barrier until every thread is ready; a thread that fails before the barrier keeps every thread
// from running the loop. Every round starts behind the barrier and is timed from its first start
// to its last end; the shortest round counts.
AllCoreRun RunOnProcessors(const std::vector<int>& cpus, AllCoreLoop loop, uint64_t bytes, uint32_t passes,
                           const AllCoreSystem& system, int rounds = 1);

// Buffer size per thread (per array): 4 x the largest cache, rounded up to a MiB, with every
// thread's arrays together under half of the available memory; 0 when not even 1 MiB per array
// fits. Passes so each thread moves about 1 GiB per array.
uint64_t AllCoreBufferBytes(const std::string& largestCacheKBytes, uint64_t availableBytes, int threads,
                            int arraysPerThread);
uint32_t AllCorePasses(uint64_t bytes);

// The machine's figures: shown MByte/s (the main window's scaling) for one thread and all.
struct AllCoreFigures {
  int threads = 0;
  double single[3] = {-1, -1, -1};   // READ, WRITE, COPY
  double machine[3] = {-1, -1, -1};  // READ, WRITE, COPY
  uint64_t bufferBytes = 0;
  std::string error;
};

// Through the carried bandwidth module (placed once for all six runs). progress gets a short
// text before each run; stop is polled between runs. The arrays follow lastLevelKb when given (the
// measured last level where the reported one is implausible), else the report's largest cache.
AllCoreFigures MeasureAllCores(const sysinfo::SystemSpec& spec,
                               const std::function<void(const std::string&)>& progress,
                               const std::atomic<bool>* stop, uint64_t lastLevelKb = 0);

// "All cores (2 threads): READ 13700 (x1.96)  WRITE ... MByte/s"; the error when there is one.
std::string AllCoreSummary(const AllCoreFigures& figures);

}  // namespace core
