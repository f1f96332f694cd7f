// What the peak runs and the loaded sweep share: huge-page-aligned buffers made present before
// anything is timed, and one pinned thread per processor started behind one barrier.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "latency/chase.h"

namespace peak {

// Anonymous memory aligned to a huge page, every page present and written once, so neither
// faults nor the kernel's zeroing land in a timed loop. With hugePages, transparent huge pages
// are asked for (the default); without, the system's mode decides (ordinary pages under
// "madvise", as most programs get them).
class Buffer {
 public:
  Buffer() = default;
  ~Buffer() { Release(); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // False when the system refuses the memory; bytes is rounded up to whole lines.
  bool Map(uint64_t bytes, bool hugePages = true);
  char* Data() const { return data_; }

 private:
  void Release();
  memlat_internal::LineBuffer lines_;
  char* data_ = nullptr;
  bool heap_ = false;
};

// What went wrong on any of the threads: one message, however many failed.
class Failures {
 public:
  void Add(std::string message);
  bool Any() const { return any_.load(); }
  // The first message, with the count when there were more.
  std::string Message() const;

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  std::string first_;
  std::atomic<bool> any_{false};
};

// Pins the calling thread to cpu and maps count buffers of bytes each for it (on its own node);
// false, with the reason added to failures, when either is refused.
bool PinAndMap(int cpu, Buffer* buffers, int count, uint64_t bytes, bool hugePages, Failures* failures);

// Starts body(index) for index 0 .. count-1 on threads of their own and joins them. When the
// system refuses a thread, onRefused() runs (it must tell the started ones, e.g. through the
// barrier's completion) and the missing threads leave the barrier, so nobody waits for them.
// False then.
template <class Barrier, class Body, class Refused>
bool StartAndJoin(size_t count, Barrier& barrier, Body body, Refused onRefused) {
  std::vector<std::thread> threads;
  threads.reserve(count);
  bool all = true;
  try {
    for (size_t i = 0; i < count; ++i) threads.emplace_back(body, i);
  } catch (const std::system_error&) {
    all = false;
    onRefused();
    for (size_t i = threads.size(); i < count; ++i) barrier.arrive_and_drop();
  }
  for (std::thread& thread : threads) thread.join();
  return all;
}

// value with one decimal and "." as the point whatever the locale.
std::string FixedOne(double value);

// Nanoseconds of CLOCK_MONOTONIC_RAW.
int64_t NowNs();

}  // namespace peak
