// The processors this process may run on, pinning the calling thread to one of them, and the
// memory the system could hand out now.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// The online processors in this process's affinity mask, in ascending order (never empty: when
// the mask cannot be read, processor 0 alone).
std::vector<int> AllowedProcessors();

// Binds the calling thread to processor cpu. False when the system refuses.
bool PinCurrentThread(int cpu);

// MemAvailable of /proc/meminfo in bytes; 0 when unknown.
uint64_t AvailableMemoryBytes();

}  // namespace platform
