// The all-core runner with a fake kernel and clock (barrier, pinning, timing from the first start
// to the last end, failures reported once), its sizing, and the module's loop runner itself.
#include "core/allcore.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "bench/runner.h"
#include "core/host.h"
#include "platform/processors.h"

namespace {

// Every thread knows which processor it asked for; the fake clock answers per processor.
thread_local int pinnedTo = -1;
thread_local int clockReads = 0;

struct FakeMachine {
  std::mutex mutex;
  std::map<int, std::thread::id> pins;  // processor -> thread that asked
  std::atomic<int> prepared{0};
  std::atomic<int> kernelsRun{0};
  std::atomic<int> startedEarly{0};  // kernels that began before every buffer was ready
  std::set<int> failingKernels, failingPins, failingAllocations;
  int threads = 0;

  core::AllCoreSystem System() {
    core::AllCoreSystem s;
    s.pin = [this](int cpu) {
      std::lock_guard<std::mutex> lock(mutex);
      pins[cpu] = std::this_thread::get_id();
      pinnedTo = cpu;
      clockReads = 0;
      return failingPins.count(cpu) == 0;
    };
    // Processor c starts at 1000 + 10c and ends at 5000 + 100c; in a second round at 20000 + 10c
    // and 22000 + 100c.
    s.now = [] {
      const int64_t values[] = {1000, 5000, 20000, 22000};
      const int read = clockReads++ % 4;
      return values[read] + (read % 2 == 0 ? 10 : 100) * pinnedTo;
    };
    s.allocate = [this](uint64_t bytes) -> void* {
      if (failingAllocations.count(pinnedTo)) return nullptr;
      return ::operator new(bytes);
    };
    s.release = [](void* p) { ::operator delete(p); };
    s.prefault = [this](void* buffer, uint64_t bytes) {
      std::memset(buffer, 1, bytes);
      // Slow down the early ones, so a missing barrier would show.
      if (pinnedTo == 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
      ++prepared;
    };
    s.kernel = [this](core::AllCoreLoop loop, void* first, void* second, uint64_t, uint32_t) {
      const int buffers = loop == core::AllCoreLoop::Copy ? 2 : 1;
      if (prepared.load() < threads * buffers) ++startedEarly;
      if (first == nullptr || (loop == core::AllCoreLoop::Copy && second == nullptr)) return 1;
      ++kernelsRun;
      return failingKernels.count(pinnedTo) ? 1 : 0;
    };
    return s;
  }
};

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(AllCoreRunner, ThreadsArePinnedPreparedTogetherAndTimedFromFirstStartToLastEnd) {
  FakeMachine machine;
  machine.threads = 4;
  const core::AllCoreRun run =
      core::RunOnProcessors({0, 1, 2, 3}, core::AllCoreLoop::Copy, 1 << 20, 8, machine.System());
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(machine.kernelsRun, 4);
  EXPECT_EQ(machine.startedEarly, 0);
  // One thread per processor, each pinned by itself.
  ASSERT_EQ(machine.pins.size(), 4u);
  std::set<std::thread::id> ids;
  for (const auto& [cpu, id] : machine.pins) ids.insert(id);
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids.count(std::this_thread::get_id()), 0u);
  // First start 1000 (processor 0), last end 5300 (processor 3).
  EXPECT_EQ(run.elapsedNs, 4300);
  EXPECT_EQ(run.bytesMoved, 4ull * (1 << 20) * 8 * 2);  // copy: read and written
  EXPECT_DOUBLE_EQ(run.mbPerSecond, 64.0 / 4300e-9);
}

TEST(AllCoreRunner, TheShortestRoundCounts) {
  FakeMachine machine;
  machine.threads = 2;
  const core::AllCoreRun run =
      core::RunOnProcessors({0, 1}, core::AllCoreLoop::Read, 4096, 1, machine.System(), 2);
  ASSERT_TRUE(run.ok) << run.error;
  EXPECT_EQ(machine.kernelsRun, 4);
  EXPECT_EQ(run.elapsedNs, 2100);  // second round: 20000 to 22100
  EXPECT_EQ(run.bytesMoved, 2u * 4096);
}

TEST(AllCoreRunner, AFailingThreadIsReportedOnce) {
  FakeMachine machine;
  machine.threads = 3;
  machine.failingKernels = {2};
  core::AllCoreRun run = core::RunOnProcessors({0, 1, 2}, core::AllCoreLoop::Read, 4096, 1, machine.System());
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error, "The READ loop failed on processor 2.");

  machine.failingKernels = {1, 2};
  run = core::RunOnProcessors({0, 1, 2}, core::AllCoreLoop::Read, 4096, 1, machine.System(), 3);
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(Occurrences(run.error, "The READ loop failed"), 1u) << run.error;
  EXPECT_NE(run.error.find("(2 threads failed)"), std::string::npos) << run.error;
}

TEST(AllCoreRunner, AThreadThatCannotPrepareKeepsEveryoneFromRunningWithoutHanging) {
  FakeMachine pinless;
  pinless.threads = 3;
  pinless.failingPins = {1};
  core::AllCoreRun run =
      core::RunOnProcessors({0, 1, 2}, core::AllCoreLoop::Write, 4096, 1, pinless.System());
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error, "The thread for processor 1 could not be pinned to it.");
  EXPECT_EQ(pinless.kernelsRun, 0);

  FakeMachine full;
  full.threads = 2;
  full.failingAllocations = {0};
  run = core::RunOnProcessors({0, 1}, core::AllCoreLoop::Copy, 1 << 20, 1, full.System());
  EXPECT_FALSE(run.ok);
  EXPECT_EQ(run.error, "The thread for processor 0 could not get its 1 MiB buffer.");
  EXPECT_EQ(full.kernelsRun, 0);

  run = core::RunOnProcessors({}, core::AllCoreLoop::Read, 4096, 1, full.System());
  EXPECT_FALSE(run.ok);
  EXPECT_FALSE(run.error.empty());
}

TEST(AllCoreSizing, BuffersAreFourTimesTheCacheWithinHalfTheFreeMemory) {
  const uint64_t MiB = 1 << 20;
  EXPECT_EQ(core::AllCoreBufferBytes("32768", 64ULL << 30, 2, 2), 128 * MiB);
  EXPECT_EQ(core::AllCoreBufferBytes("999999", 64ULL << 30, 2, 1), 256 * MiB);
  EXPECT_EQ(core::AllCoreBufferBytes("32768", 1ULL << 30, 2, 2), 128 * MiB);  // 4 arrays in 512 MiB
  EXPECT_EQ(core::AllCoreBufferBytes("32768", 256 * MiB, 2, 2), 32 * MiB);
  EXPECT_EQ(core::AllCoreBufferBytes("32768", 256 * MiB, 64, 2), 1 * MiB);
  EXPECT_EQ(core::AllCoreBufferBytes("32768", 100 * MiB, 64, 2), 0u);
  EXPECT_EQ(core::AllCoreBufferBytes("3000", 64ULL << 30, 1, 1), 12 * MiB);  // rounded up to a MiB
  EXPECT_EQ(core::AllCorePasses(128 * MiB), 8u);
  EXPECT_EQ(core::AllCorePasses(4096 * MiB), 1u);
}

TEST(AllCoreSummaryLine, GivesTheMachineFiguresAndTheRatioToOneThread) {
  core::AllCoreFigures figures;
  figures.threads = 2;
  figures.single[0] = 7000;
  figures.machine[0] = 13650;
  figures.single[1] = 10000;
  figures.machine[1] = 10000;
  figures.single[2] = 9000;
  figures.machine[2] = 17100;
  EXPECT_EQ(core::AllCoreSummary(figures),
            "All cores (2 threads):  READ 13650 (x1.95)  WRITE 10000 (x1.00)  COPY 17100 (x1.90) MByte/s");
  figures.error = "Not enough free memory for one buffer per processor.";
  EXPECT_EQ(core::AllCoreSummary(figures), "All cores: Not enough free memory for one buffer per processor.");
}

// The module's own loop runner: refusals, a real copy, and a real run on this machine's processors.
TEST(ModuleLoopRunner, RunsTheLoopsOnCallerBuffersAndRefusesBadArguments) {
  std::string error;
  const bool placed = core::WithModuleEntry(
      core::BandwidthModuleImage(), MEMBW_RUN_NAME, "no loop runner",
      [](void* entry) {
        const auto run = reinterpret_cast<MembwRunEntry>(entry);
        std::vector<uint64_t> a(4096 / 8), b(4096 / 8, 0);
        for (size_t i = 0; i < a.size(); ++i) a[i] = i * 0x0101010101010101ULL;
        EXPECT_EQ(run(MEMBW_RUN_COPY, a.data(), b.data(), 4096, 2), 0);
        EXPECT_EQ(a, b);
        EXPECT_EQ(run(MEMBW_RUN_WRITE, b.data(), nullptr, 4096, 1), 0);
        EXPECT_EQ(b, std::vector<uint64_t>(b.size(), 0));
        EXPECT_EQ(run(MEMBW_RUN_READ, a.data(), nullptr, 4096, 3), 0);
        EXPECT_EQ(run(MEMBW_RUN_READ, a.data(), nullptr, 4000, 1), 1);  // not whole chunks
        EXPECT_EQ(run(MEMBW_RUN_READ, a.data(), nullptr, 0, 1), 1);
        EXPECT_EQ(run(MEMBW_RUN_READ, a.data(), nullptr, 4096, 0), 1);
        EXPECT_EQ(run(MEMBW_RUN_COPY, a.data(), nullptr, 4096, 1), 1);  // no destination
        EXPECT_EQ(run(7, a.data(), b.data(), 4096, 1), 1);
        EXPECT_EQ(run(MEMBW_RUN_READ, nullptr, nullptr, 4096, 1), 1);

        // Every processor at once, as the all-core figures run it (small buffers: no timing here).
        core::AllCoreSystem system = core::RealAllCoreSystem();
        system.kernel = [run](core::AllCoreLoop loop, void* first, void* second, uint64_t bytes,
                              uint32_t passes) {
          return run(static_cast<int32_t>(loop), first, second, bytes, passes);
        };
        for (core::AllCoreLoop loop :
             {core::AllCoreLoop::Read, core::AllCoreLoop::Write, core::AllCoreLoop::Copy}) {
          const core::AllCoreRun result =
              core::RunOnProcessors(platform::AllowedProcessors(), loop, 1 << 20, 2, system);
          EXPECT_TRUE(result.ok) << result.error;
          EXPECT_GT(result.elapsedNs, 0);
        }
      },
      &error);
  EXPECT_TRUE(placed) << error;
}

}  // namespace
