#include "latency/chase.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace memlat_internal {

bool MapLines(uint64_t count, LineBuffer* buffer) {
  *buffer = LineBuffer{};
  if (count == 0) return false;
  const uint64_t bytes = count * kLineBytes;
  const uint64_t wholePages = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
  // One extra huge page leaves room to align the start.
  const size_t length = static_cast<size_t>(wholePages + kHugePageBytes);
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return false;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(mapping) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  char* lines = reinterpret_cast<char*>(start);
  // Refused where huge pages are off or disabled for this process: then the pages are ordinary.
  madvise(lines, static_cast<size_t>(wholePages), MADV_HUGEPAGE);
  buffer->lines = lines;
  buffer->count = count;
  buffer->mapping = mapping;
  buffer->mappedBytes = length;
  return true;
}

void UnmapLines(LineBuffer* buffer) {
  if (buffer->mapping) munmap(buffer->mapping, buffer->mappedBytes);
  *buffer = LineBuffer{};
}

uint64_t AvailableMemoryBytes() {
  char text[8192];
  ssize_t length = -1;
  const int fd = open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    length = read(fd, text, sizeof text - 1);
    close(fd);
  }
  if (length > 0) {
    text[length] = '\0';
    const char* field = strstr(text, "MemAvailable:");
    if (field) {
      field += strlen("MemAvailable:");
      while (*field == ' ' || *field == '\t') ++field;
      uint64_t kbytes = 0;
      bool any = false;
      for (; *field >= '0' && *field <= '9'; ++field) {
        kbytes = kbytes * 10 + static_cast<uint64_t>(*field - '0');
        any = true;
      }
      if (any) return kbytes * 1024;
    }
  }
  // Without /proc: free memory only, which undercounts (caches could be dropped) but errs safe.
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageBytes = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageBytes > 0) return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes);
  return 0;
}

namespace {

uint64_t SplitMix64(uint64_t* state) {
  uint64_t z = (*state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A uniform index in [0, bound), bound > 0 (multiply-shift; the bias is below 2^-32 here).
uint64_t Below(uint64_t* state, uint64_t bound) {
  return static_cast<uint64_t>((static_cast<unsigned __int128>(SplitMix64(state)) * bound) >> 64);
}

inline char** Slot(char* lines, uint64_t index) {
  return reinterpret_cast<char**>(lines + index * kLineBytes);
}

}  // namespace

void LinkRandomCycle(char* lines, uint64_t count, uint64_t seed) {
  // Every line starts pointing at itself; Sattolo's swaps then make the mapping one n-cycle.
  // This pass is also the first touch of every page, in address order.
  for (uint64_t i = 0; i < count; ++i) *Slot(lines, i) = lines + i * kLineBytes;
  if (count < 2) return;

  // The swap partners are drawn a few steps ahead and prefetched, so the random half of each
  // swap overlaps with the others instead of waiting for memory one at a time.
  constexpr uint64_t kAhead = 32;
  uint64_t partner[kAhead];
  uint64_t state = seed;
  const uint64_t last = count - 1;
  for (uint64_t k = 0; k < kAhead && k < last; ++k) {
    partner[k] = Below(&state, last - k);
    __builtin_prefetch(Slot(lines, partner[k]), 1);
  }
  for (uint64_t step = 0; step < last; ++step) {
    const uint64_t i = last - step;
    const uint64_t slot = step % kAhead;
    const uint64_t j = partner[slot];
    if (step + kAhead < last) {
      partner[slot] = Below(&state, i - kAhead);
      __builtin_prefetch(Slot(lines, partner[slot]), 1);
    }
    char* const held = *Slot(lines, i);
    *Slot(lines, i) = *Slot(lines, j);
    *Slot(lines, j) = held;
  }
}

uint64_t PlanRoundLoads(uint64_t requested, double nsPerLoad, double roundBudgetNs, uint64_t minLoads) {
  uint64_t loads = requested;
  if (nsPerLoad > 0 && roundBudgetNs > 0) {
    const double fitting = roundBudgetNs / nsPerLoad;
    if (fitting < static_cast<double>(loads)) loads = static_cast<uint64_t>(fitting);
  }
  if (loads < minLoads) loads = minLoads;
  loads = (loads + kLoadsPerBlock - 1) / kLoadsPerBlock * kLoadsPerBlock;
  return loads < kLoadsPerBlock ? kLoadsPerBlock : loads;
}

size_t FormatNanoseconds(double ns, char* out, size_t size) {
  if (!(ns >= 0) || ns > 1e12) return 0;
  // Four decimals from an integer count of 1/10000 ns: no locale can reach a digit or the point.
  const uint64_t units = static_cast<uint64_t>(ns * 10000.0 + 0.5);
  char digits[32];
  size_t length = 0;
  uint64_t whole = units / 10000;
  do {
    digits[length++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  const size_t total = length + 1 + 4 + 3;
  if (total + 1 > size) return 0;
  size_t at = 0;
  while (length > 0) out[at++] = digits[--length];
  out[at++] = '.';
  uint64_t fraction = units % 10000;
  for (int place = 3; place >= 0; --place) {
    out[at + static_cast<size_t>(place)] = static_cast<char>('0' + fraction % 10);
    fraction /= 10;
  }
  at += 4;
  memcpy(out + at, " ns", 4);
  return at + 3;
}

}  // namespace memlat_internal
