// The pieces of a latency measurement: a line buffer, the random cycle through it, the timed
// chase, the work bound and the text of the result. Internal to the module (and its tests).
#pragma once

#include <cstddef>
#include <cstdint>

namespace memlat_internal {

// One pointer per cache line: the line is what a miss brings in.
constexpr uint64_t kLineBytes = 64;
// Loads per pass of the chase loop; the loop's own two instructions are then under 1 % of the work.
constexpr uint64_t kLoadsPerBlock = 64;
constexpr uint64_t kHugePageBytes = 2u << 20;

// Anonymous memory for the cycle, aligned to a huge page and with transparent huge pages asked
// for, so that page walks do not add to the figure. Where the kernel refuses them the buffer
// simply has ordinary pages.
struct LineBuffer {
  char* lines = nullptr;  // first line, huge-page aligned
  uint64_t count = 0;     // lines in the buffer
  void* mapping = nullptr;
  size_t mappedBytes = 0;
};

// Maps count lines. False when the system refuses the memory.
bool MapLines(uint64_t count, LineBuffer* buffer);
void UnmapLines(LineBuffer* buffer);

// Bytes the system can give without swapping (MemAvailable), 0 when it cannot be told.
uint64_t AvailableMemoryBytes();

// Writes into every line a pointer to the next line of one random cycle through all count
// lines (Sattolo's shuffle, so it is a single cycle and never a set of short loops that would
// stay in cache). The order is random across pages as well, so neither the prefetchers nor the
// TLB get any help. The same seed gives the same cycle. Touches every line.
void LinkRandomCycle(char* lines, uint64_t count, uint64_t seed);

// Follows the cycle for blocks * kLoadsPerBlock dependent loads; returns where it stopped.
// Nothing but the loads and the loop counter runs inside. blocks must be at least 1.
inline void* ChaseBlocks(void* at, uint64_t blocks) {
  asm volatile(
      "1:\n\t"
      ".rept 64\n\t"
      "movq (%0), %0\n\t"
      ".endr\n\t"
      "decq %1\n\t"
      "jnz 1b\n\t"
      : "+r"(at), "+r"(blocks)
      :
      : "memory", "cc");
  return at;
}

// Loads per timed round: the caller's count, cut so one round lasts about roundBudgetNs at the
// rate nsPerLoad seen while warming up, never below minLoads, rounded up to whole blocks.
uint64_t PlanRoundLoads(uint64_t requested, double nsPerLoad, double roundBudgetNs, uint64_t minLoads);

// "<ns with four decimals> ns" into out, "." as the point whatever the locale. Returns the
// length, or 0 when it does not fit (or ns is negative or not a number).
size_t FormatNanoseconds(double ns, char* out, size_t size);

}  // namespace memlat_internal
