#include "core/allcore.h"

#include <algorithm>
#include <barrier>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "bench/runner.h"
#include "core/curve.h"
#include "core/host.h"
#include "core/numeric.h"
#include "core/samples.h"
#include "platform/clock.h"
#include "platform/processors.h"

namespace core {
namespace {

constexpr uint64_t kMiB = 1ULL << 20;
constexpr uint64_t kVolumePerThread = 1ULL << 30;  // per array, per run
constexpr uint64_t kPage = 4096;
constexpr int kRounds = 3;

const char* LoopName(AllCoreLoop loop) {
  switch (loop) {
    case AllCoreLoop::Read:
      return "READ";
    case AllCoreLoop::Write:
      return "WRITE";
    case AllCoreLoop::Copy:
      return "COPY";
  }
  return "";
}

}  // namespace

AllCoreSystem RealAllCoreSystem() {
  AllCoreSystem system;
  system.pin = [](int cpu) { return platform::PinCurrentThread(cpu); };
  system.now = [] {
    int64_t count = 0;
    platform::PerformanceCounter(&count);
    return count;
  };
  system.allocate = [](uint64_t bytes) -> void* {
    const uint64_t rounded = (bytes + kPage - 1) / kPage * kPage;
    return std::aligned_alloc(kPage, rounded);
  };
  system.release = [](void* buffer) { std::free(buffer); };
  // Written by the thread that will use it, so the pages sit on its own node too.
  system.prefault = [](void* buffer, uint64_t bytes) { std::memset(buffer, 0x21, bytes); };
  return system;
}

AllCoreRun RunOnProcessors(const std::vector<int>& cpus, AllCoreLoop loop, uint64_t bytes, uint32_t passes,
                           const AllCoreSystem& system, int rounds) {
  AllCoreRun run;
  run.threads = static_cast<int>(cpus.size());
  if (cpus.empty() || bytes == 0 || passes == 0 || rounds < 1) {
    run.error = "Nothing to run: no processor, no buffer or no pass.";
    return run;
  }
  const int arrays = loop == AllCoreLoop::Copy ? 2 : 1;
  std::mutex mutex;
  int failures = 0;
  std::string firstError;
  const auto fail = [&](std::string message) {
    std::lock_guard<std::mutex> lock(mutex);
    if (failures++ == 0) firstError = std::move(message);
  };
  std::atomic<bool> unready{false};
  std::barrier<> ready(static_cast<std::ptrdiff_t>(cpus.size()));
  // By round, then by thread.
  std::vector<std::vector<int64_t>> starts(rounds, std::vector<int64_t>(cpus.size(), 0));
  std::vector<std::vector<int64_t>> ends = starts;

  const auto body = [&](size_t index) {
    const int cpu = cpus[index];
    void* buffers[2] = {nullptr, nullptr};
    bool good = true;
    if (!system.pin(cpu)) {
      fail("The thread for processor " + std::to_string(cpu) + " could not be pinned to it.");
      good = false;
    }
    for (int i = 0; good && i < arrays; ++i) {
      buffers[i] = system.allocate(bytes);
      if (buffers[i] == nullptr) {
        fail("The thread for processor " + std::to_string(cpu) + " could not get its " +
             std::to_string(bytes / kMiB) + " MiB buffer.");
        good = false;
      } else {
        system.prefault(buffers[i], bytes);
      }
    }
    if (!good) unready = true;
    ready.arrive_and_wait();  // everyone arrives, failed or not, so nobody waits for ever
    // Every round starts together; a thread whose loop failed keeps arriving so nobody waits for it.
    bool failed = false;
    for (int round = 0; round < rounds && !unready.load(); ++round) {
      if (round > 0) ready.arrive_and_wait();
      if (failed) continue;
      starts[round][index] = system.now();
      const int result = system.kernel(loop, buffers[0], buffers[1], bytes, passes);
      ends[round][index] = system.now();
      if (result != 0) {
        fail("The " + std::string(LoopName(loop)) + " loop failed on processor " + std::to_string(cpu) + ".");
        failed = true;
      }
    }
    for (void* buffer : buffers)
      if (buffer != nullptr) system.release(buffer);
  };

  std::vector<std::thread> threads;
  threads.reserve(cpus.size());
  try {
    for (size_t i = 0; i < cpus.size(); ++i) threads.emplace_back(body, i);
  } catch (const std::system_error&) {
    // Threads already started wait at the barrier for the ones that never came: stand in for them.
    fail("Only " + std::to_string(threads.size()) + " of " + std::to_string(cpus.size()) +
         " threads could be started.");
    unready = true;
    for (size_t i = threads.size(); i < cpus.size(); ++i) ready.arrive_and_drop();
  }
  for (std::thread& thread : threads) thread.join();

  if (failures > 0) {
    run.error = firstError;
    if (failures > 1) run.error += " (" + std::to_string(failures) + " threads failed)";
    return run;
  }
  // The best round counts, as a round that another program interrupted says nothing of the memory.
  run.elapsedNs = std::numeric_limits<int64_t>::max();
  for (int round = 0; round < rounds; ++round)
    run.elapsedNs =
        std::min(run.elapsedNs, *std::max_element(ends[round].begin(), ends[round].end()) -
                                    *std::min_element(starts[round].begin(), starts[round].end()));
  run.bytesMoved = static_cast<uint64_t>(cpus.size()) * bytes * passes * arrays;
  if (run.elapsedNs <= 0) {
    run.error = "The " + std::string(LoopName(loop)) + " run took no measurable time.";
    return run;
  }
  run.mbPerSecond = static_cast<double>(run.bytesMoved) / static_cast<double>(kMiB) /
                    (static_cast<double>(run.elapsedNs) / 1e9);
  run.ok = true;
  return run;
}

uint64_t AllCoreBufferBytes(const std::string& largestCacheKBytes, uint64_t availableBytes, int threads,
                            int arraysPerThread) {
  const auto cache = ParseInteger(largestCacheKBytes);
  uint64_t bytes = 256 * kMiB;  // cache unknown
  if (cache && *cache > 0 && largestCacheKBytes != kUnknownCacheKBytes)
    bytes = std::min<uint64_t>(4ULL * static_cast<uint64_t>(*cache) * 1024, 4096 * kMiB);
  bytes = (bytes + kMiB - 1) / kMiB * kMiB;
  const uint64_t arrays =
      static_cast<uint64_t>(std::max(1, threads)) * static_cast<uint64_t>(std::max(1, arraysPerThread));
  if (availableBytes > 0) {
    const uint64_t share = availableBytes / 2 / arrays / kMiB * kMiB;
    bytes = std::min(bytes, share);
  }
  return bytes >= kMiB ? bytes : 0;
}

uint32_t AllCorePasses(uint64_t bytes) {
  if (bytes == 0) return 0;
  return static_cast<uint32_t>(std::max<uint64_t>(1, (kVolumePerThread + bytes - 1) / bytes));
}

AllCoreFigures MeasureAllCores(const sysinfo::SystemSpec& spec,
                               const std::function<void(const std::string&)>& progress,
                               const std::atomic<bool>* stop, uint64_t lastLevelKb) {
  AllCoreFigures figures;
  const std::vector<int> cpus = platform::AllowedProcessors();
  figures.threads = static_cast<int>(cpus.size());
  const std::string cache = lastLevelKb > 0 ? std::to_string(lastLevelKb) : LargestCacheKBytes(spec);
  // One size for every run: the copy's two arrays per thread must fit too.
  const uint64_t bytes = AllCoreBufferBytes(cache, platform::AvailableMemoryBytes(), figures.threads, 2);
  figures.bufferBytes = bytes;
  if (bytes == 0) {
    figures.error = "Not enough free memory for one buffer per processor.";
    return figures;
  }
  const uint32_t passes = AllCorePasses(bytes);
  std::string error;
  const bool placed = WithModuleEntry(
      BandwidthModuleImage(), MEMBW_RUN_NAME, "The bandwidth module has no loop runner.",
      [&](void* runner) {
        const auto entry = reinterpret_cast<MembwRunEntry>(runner);
        AllCoreSystem system = RealAllCoreSystem();
        system.kernel = [entry](AllCoreLoop loop, void* first, void* second, uint64_t size, uint32_t n) {
          return entry(static_cast<int32_t>(loop), first, second, size, n);
        };
        const char* prefixes[] = {kReadPrefix, kWritePrefix, kCopyPrefix};
        for (int i = 0; i < 3 && figures.error.empty(); ++i) {
          const auto loop = static_cast<AllCoreLoop>(i);
          for (bool all : {false, true}) {
            if (stop != nullptr && stop->load()) return;
            if (progress)
              progress(std::string(LoopName(loop)) +
                       (all ? ", " + std::to_string(cpus.size()) + " threads" : ", 1 thread"));
            const std::vector<int> on = all ? cpus : std::vector<int>{cpus.front()};
            const AllCoreRun run = RunOnProcessors(on, loop, bytes, passes, system, kRounds);
            if (!run.ok) {
              figures.error = run.error;
              break;
            }
            (all ? figures.machine : figures.single)[i] = ShownBandwidth(run.mbPerSecond, prefixes[i]);
          }
        }
      },
      &error);
  if (!placed) figures.error = error;
  return figures;
}

std::string AllCoreSummary(const AllCoreFigures& figures) {
  if (!figures.error.empty()) return "All cores: " + figures.error;
  std::string text = "All cores (" + std::to_string(figures.threads) + " threads):";
  const char* names[] = {"READ", "WRITE", "COPY"};
  for (int i = 0; i < 3; ++i) {
    if (figures.machine[i] < 0) continue;
    text += std::string("  ") + names[i] + " " + FixedText(figures.machine[i], 0);
    if (figures.single[i] > 0) text += " (x" + FixedText(figures.machine[i] / figures.single[i], 2) + ")";
  }
  return text + " MByte/s";
}

}  // namespace core
