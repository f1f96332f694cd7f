// The two counter readings that bracket a kernel's loop, and their conversion to whole ms.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace membw_internal {

// Told after every counter reading: tests look at the process between a kernel's two readings
// (its page faults, say). Null in use, so a reading costs one more load and branch.
using CounterObserver = void (*)();
extern CounterObserver counterObserver;

inline int64_t CounterNow() {
  int64_t count = 0;
  platform::PerformanceCounter(&count);
  if (counterObserver != nullptr) counterObserver();
  return count;
}

// (end - start) / (frequency / 1000), truncated to 32 bits. The entry refuses counters slower
// than 1000 Hz, so the divisor is never 0 there; 0 is returned if it were.
inline uint32_t ElapsedMs(int64_t start, int64_t end) {
  int64_t frequency = 0;
  platform::PerformanceFrequency(&frequency);
  const uint32_t ticksPerMs = static_cast<uint32_t>(frequency / 1000);
  if (ticksPerMs == 0) return 0;
  return static_cast<uint32_t>(static_cast<uint64_t>(end - start) / ticksPerMs);
}

inline void LeaveMmx() { asm volatile("emms" ::: "memory"); }

}  // namespace membw_internal
