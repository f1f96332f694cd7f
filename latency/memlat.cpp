// The exported entry: checks the arguments, builds the cycle, warms it up, times the rounds.
#include "latency/memlat.h"

#include <sched.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include "latency/chase.h"
#include "platform/clock.h"

namespace memlat_internal {
namespace {

constexpr int32_t kMaxRounds = 100;
// A round lasts about this long at most, and all rounds of a call together no longer than the
// call budget, however many loads were asked for.
constexpr double kRoundBudgetNs = 250e6;
constexpr double kCallBudgetNs = 2e9;
// Enough loads that the two clock readings around a round (a system call each) stay near 0.1 %
// of it even where every load hits the first-level cache.
constexpr uint64_t kMinRoundLoads = 1u << 18;
// Warming up walks the whole cycle twice where that is cheap, and at most this many loads, which
// already replaces everything the caches and TLBs held many times over.
constexpr uint64_t kMinWarmLoads = 1u << 16;
constexpr uint64_t kMaxWarmLoads = 1u << 19;
// The host calls four times: a fixed seed makes those calls walk the same cycle.
constexpr uint64_t kCycleSeed = 0x6C61746E63792121ull;
// Leave the system this share of its available memory.
constexpr double kUsableMemoryShare = 0.9;

// The returned text lives here until the module is unloaded.
char g_text[128];
std::atomic_flag g_busy = ATOMIC_FLAG_INIT;

const char* Text(const char* text) {
  snprintf(g_text, sizeof g_text, "%s", text);
  return g_text;
}

// Rounds are timed on the thread's own processor clock, so a round during which the thread was
// switched out is not lengthened by the time others ran; the wall clock where that one is missing.
bool g_threadClock = false;

int64_t Now() {
  if (g_threadClock) {
    timespec ts{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0)
      return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  int64_t count = 0;
  platform::PerformanceCounter(&count);
  return count;
}

// ns per load of one timed pass of blocks from *at; *at moves on to where the pass stopped.
double TimedPass(void** at, uint64_t loads) {
  const int64_t start = Now();
  *at = ChaseBlocks(*at, loads / kLoadsPerBlock);
  const int64_t end = Now();
  return static_cast<double>(end - start) / static_cast<double>(loads);
}

// Keeps the calling thread on the processor it is on while it measures: a move to another one
// would leave the cycle's lines and translations behind in the first one's caches.
class PinnedToThisProcessor {
 public:
  PinnedToThisProcessor() {
    const int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE || sched_getaffinity(0, sizeof saved_, &saved_) != 0) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pinned_ = sched_setaffinity(0, sizeof one, &one) == 0;
  }
  ~PinnedToThisProcessor() {
    if (pinned_) sched_setaffinity(0, sizeof saved_, &saved_);
  }
  PinnedToThisProcessor(const PinnedToThisProcessor&) = delete;
  PinnedToThisProcessor& operator=(const PinnedToThisProcessor&) = delete;

 private:
  cpu_set_t saved_{};
  bool pinned_ = false;
};

const char* Measure(int32_t rounds, int32_t kbytes, int32_t loads) {
  if (rounds < 1 || rounds > kMaxRounds) {
    snprintf(g_text, sizeof g_text, "Error: the number of rounds must be 1 to %d, not %d", kMaxRounds,
             rounds);
    return g_text;
  }
  if (kbytes < 1) {
    snprintf(g_text, sizeof g_text, "Error: the buffer size must be at least 1 KByte, not %d", kbytes);
    return g_text;
  }
  if (loads < 1) {
    snprintf(g_text, sizeof g_text, "Error: the number of loads must be at least 1, not %d", loads);
    return g_text;
  }
  timespec probe{};
  g_threadClock = clock_gettime(CLOCK_THREAD_CPUTIME_ID, &probe) == 0;
  int64_t frequency = 0;
  int64_t count = 0;
  if (!g_threadClock &&
      (!platform::PerformanceFrequency(&frequency) || !platform::PerformanceCounter(&count)))
    return Text("Error: the system has no usable clock");

  const uint64_t bytes = static_cast<uint64_t>(kbytes) * 1024;
  // Asking for more than is there would not fail at once but end in swapping or the OOM killer.
  const uint64_t available = AvailableMemoryBytes();
  if (available != 0 && static_cast<double>(bytes) > static_cast<double>(available) * kUsableMemoryShare) {
    snprintf(g_text, sizeof g_text,
             "Error: a buffer of %d KBytes does not fit in the %llu KBytes of memory available", kbytes,
             static_cast<unsigned long long>(available / 1024));
    return g_text;
  }
  LineBuffer buffer;
  if (!MapLines(bytes / kLineBytes, &buffer)) {
    snprintf(g_text, sizeof g_text, "Error: the system refused a buffer of %d KBytes", kbytes);
    return g_text;
  }
  const PinnedToThisProcessor pinned;
  LinkRandomCycle(buffer.lines, buffer.count, kCycleSeed);

  void* at = buffer.lines;
  uint64_t warmLoads = 2 * buffer.count;
  if (warmLoads < kMinWarmLoads) warmLoads = kMinWarmLoads;
  if (warmLoads > kMaxWarmLoads) warmLoads = kMaxWarmLoads;
  warmLoads = (warmLoads + kLoadsPerBlock - 1) / kLoadsPerBlock * kLoadsPerBlock;
  const double warmNs = TimedPass(&at, warmLoads);

  double roundBudget = kCallBudgetNs / rounds;
  if (roundBudget > kRoundBudgetNs) roundBudget = kRoundBudgetNs;
  const uint64_t roundLoads =
      PlanRoundLoads(static_cast<uint64_t>(loads), warmNs, roundBudget, kMinRoundLoads);

  double best = 0;
  for (int32_t round = 0; round < rounds; ++round) {
    const double ns = TimedPass(&at, roundLoads);
    if (round == 0 || ns < best) best = ns;
  }
  UnmapLines(&buffer);

  if (FormatNanoseconds(best, g_text, sizeof g_text) == 0)
    return Text("Error: the clock gave no usable time");
  return g_text;
}

}  // namespace
}  // namespace memlat_internal

extern "C" __attribute__((visibility("default"))) const char* MemLatency(int32_t rounds, int32_t kbytes,
                                                                         int32_t loads) {
  using namespace memlat_internal;
  // One text buffer and one machine: a second caller at the same time gets a fixed text instead.
  if (g_busy.test_and_set(std::memory_order_acquire)) return "Error: a measurement is already running";
  const char* text = Measure(rounds, kbytes, loads);
  g_busy.clear(std::memory_order_release);
  return text;
}
