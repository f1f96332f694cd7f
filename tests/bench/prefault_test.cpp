// Every kernel of the table times its loop only: the pages of its fresh buffers are faulted in before the
// first counter reading, so the process takes no page fault between the two readings. The readings are
// watched through the kernels' counter observer, the faults counted with getrusage.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "entry.h"
#include "kernels.h"
#include "platform/memory.h"
#include "procedures.h"
#include "timing.h"

namespace {

std::vector<long> faultsAtReadings;

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void RecordFaults() { faultsAtReadings.push_back(MinorFaults()); }

struct Watched {
  uint32_t ms;
  long beforeTiming;  // faults from the call's start to the first reading
  long inTiming;      // faults between the two readings
};

// 64 MiB per array lies above the C heap's largest mmap threshold, so every call gets fresh pages.
constexpr uint32_t kSizeKb = 65536;

Watched Watch(membw_internal::Kernel kernel) {
  faultsAtReadings.clear();
  membw_internal::counterObserver = RecordFaults;
  const long before = MinorFaults();
  const uint32_t ms = kernel(kSizeKb, 1);
  membw_internal::counterObserver = nullptr;
  if (faultsAtReadings.size() != 2) return {ms, -1, -1};
  return {ms, faultsAtReadings[0] - before, faultsAtReadings[1] - faultsAtReadings[0]};
}

TEST(Prefault, NoKernelTakesAPageFaultInsideItsTiming) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory takes page faults of its own inside the timing";
#endif
  using membw_internal::kKernelRows;
  const membw_internal::Machine& machine = membw_internal::RealMachine();
  for (int k = 0; k < membw_internal::kKernelCount; ++k) {
    // The kernels share one frame: one kernel per family and set of arrays is enough.
    const auto& row = kKernelRows[k];
    if (std::any_of(kKernelRows, kKernelRows + k, [&row](const auto& r) {
          return r.family == row.family && r.read == row.read && r.written == row.written;
        }))
      continue;
    SCOPED_TRACE(row.name);
    // A kernel that timed its first touch of a page would fault in every call (each gets fresh
    // buffers); the kernel itself may fault a page now and then on a busy machine (NUMA balancing,
    // huge page collapse), so one clean call out of three is the proof.
    Watched w{};
    for (int attempt = 0; attempt < 3; ++attempt) {
      w = Watch(machine.kernels[k]);
      ASSERT_NE(w.ms, membw_internal::kKernelNoMemory);
      ASSERT_GE(w.inTiming, 0) << "the kernel did not read the counter exactly twice";
      if (w.inTiming == 0) break;
    }
    EXPECT_EQ(w.inTiming, 0);
    // The buffers were fresh: their faults came, before the timing. 32 is the fewest a 64 MiB
    // array can take, in 2 MiB pages.
    EXPECT_GE(w.beforeTiming, 32);
  }
}

TEST(Prefault, FaultsInEveryPageOfAnyRange) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's shadow memory takes page faults of its own on every write";
#endif
  // A range that starts and ends inside pages, in a fresh mapping.
  const size_t bytes = 64u << 20;
  void* raw = std::malloc(bytes + 4096);
  ASSERT_NE(raw, nullptr);
  unsigned char* buffer = static_cast<unsigned char*>(raw) + 100;
  const size_t length = bytes - 300;
  const long before = MinorFaults();
  platform::PrefaultPages(buffer, length);
  const long afterPrefault = MinorFaults();
  std::memset(buffer, 1, length);
  const long afterWrite = MinorFaults();
  EXPECT_GE(afterPrefault - before, 32);
  EXPECT_EQ(afterWrite - afterPrefault, 0);
  std::free(raw);
  EXPECT_TRUE(platform::PrefaultPages(nullptr, 0));
}

// The one store per page that makes a hypervisor back the page writes back what was there.
TEST(Prefault, KeepsWhatTheRangeHolds) {
  std::vector<unsigned char> bytes(3 * 4096 + 123);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::vector<unsigned char> before = bytes;
  platform::PrefaultPages(bytes.data() + 5, bytes.size() - 10);
  EXPECT_EQ(bytes, before);
}

}  // namespace
