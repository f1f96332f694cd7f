// High-resolution counter and millisecond ticks, the stand-ins for the performance counter,
// the tick count and Sleep. Header-only so the benchmark modules can use it without linking
// anything of the program's into themselves.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Ticks per second of PerformanceCounter(): nanoseconds. Returns false when the clock is absent.
inline bool PerformanceFrequency(int64_t* frequency) {
  timespec ts{};
  if (clock_getres(CLOCK_MONOTONIC_RAW, &ts) != 0) return false;
  *frequency = 1000000000;
  return true;
}

inline bool PerformanceCounter(int64_t* count) {
  timespec ts{};
  if (clock_gettime(CLOCK_MONOTONIC_RAW, &ts) != 0) return false;
  *count = static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

// Milliseconds since an arbitrary start, wrapping at 2^32 like the tick count it replaces.
inline uint32_t TickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
  return static_cast<uint32_t>(ms);
}

inline void SleepMs(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

}  // namespace platform
