#include "peak/loaded.h"

#include <algorithm>
#include <barrier>
#include <cmath>

#include "latency/chase.h"
#include "peak/team.h"
#include "platform/processors.h"

namespace peak {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr double kUsableMemoryShare = 0.9;
constexpr uint64_t kCycleSeed = 0x6C6F616465642121ull;
// A stream reads this much between looks at the clock and the end flag.
constexpr uint64_t kStreamChunk = 8u << 10;
constexpr int kRounds = 5;
// Each point lasts budget / points, within these bounds; a quarter of it lets the streams settle.
constexpr double kMinPointNs = 0.25e9;
constexpr double kMaxPointNs = 1.0e9;
constexpr double kSettleShare = 0.25;
constexpr uint64_t kWarmBlocks = 16;

std::string LevelText(const LoadedPoint& level) {
  if (level.streams == 0) return "no load";
  std::string text = std::to_string(level.streams) + (level.streams == 1 ? " stream" : " streams");
  if (level.pace == 0.25) return text + " at 1/4 rate";
  if (level.pace == 0.5) return text + " at 1/2 rate";
  return text;
}

enum class Command { kIdle, kStream, kQuit };

// One streaming thread's published count, on a line of its own.
struct alignas(64) StreamCount {
  std::atomic<uint64_t> bytes{0};
};

}  // namespace

std::vector<LoadedPoint> PlanLoadLevels(int processors, bool paced) {
  std::vector<LoadedPoint> levels;
  for (int streams = 0; streams < std::max(1, processors); ++streams) levels.push_back({streams, 1, 0, 0});
  if (paced && processors > 1)
    for (double pace : {0.25, 0.5}) levels.push_back({processors - 1, pace, 0, 0});
  return levels;
}

std::string LoadedSweepCsv(const LoadedSweep& sweep) {
  std::string text = "streams,pace,latency_ns,stream_mbytes_per_s\n";
  for (const LoadedPoint& point : sweep.points) {
    const long long hundredths = std::llround(point.pace * 100);
    text += std::to_string(point.streams) + "," + std::to_string(hundredths / 100) + "." +
            (hundredths % 100 < 10 ? "0" : "") + std::to_string(hundredths % 100) + "," +
            FixedOne(point.latencyNs) + "," + FixedOne(point.streamMBps) + "\n";
  }
  return text;
}

LoadedSweep MeasureLoadedLatency(const LoadedOptions& options, const Progress& progress,
                                 const std::atomic<bool>* stop) {
  LoadedSweep sweep;
  const std::vector<int> cpus = options.cpus.empty() ? platform::AllowedProcessors() : options.cpus;
  sweep.isa = options.widest ? WidestIsa(ReadCpuFeatures()) : options.isa;
  sweep.chaseBytes = options.chaseBytes / memlat_internal::kLineBytes * memlat_internal::kLineBytes;
  sweep.streamBytes = options.streamBytes / kStreamChunk * kStreamChunk;
  const KernelRow* reader = FindKernel(Operation::kRead, sweep.isa);
  if (reader == nullptr || !IsaUsable(ReadCpuFeatures(), sweep.isa)) {
    sweep.error = std::string(IsaName(sweep.isa)) + " is not usable on this processor.";
    return sweep;
  }
  if (cpus.empty() || sweep.chaseBytes == 0 || (cpus.size() > 1 && sweep.streamBytes == 0)) {
    sweep.error = "Nothing to run: no processor or no buffer.";
    return sweep;
  }
  const uint64_t total = sweep.chaseBytes + (cpus.size() - 1) * sweep.streamBytes;
  const uint64_t available = platform::AvailableMemoryBytes();
  if (available != 0 && static_cast<double>(total) > static_cast<double>(available) * kUsableMemoryShare) {
    sweep.error = "The buffers (" + std::to_string(total / kMiB) + " MiB) do not fit in the " +
                  std::to_string(available / kMiB) + " MiB available.";
    return sweep;
  }
  const std::vector<LoadedPoint> levels = PlanLoadLevels(static_cast<int>(cpus.size()), options.paced);
  // A budget that is no number would leave the rounds without an end.
  const double budgetNs = options.budgetSeconds > 0 ? options.budgetSeconds * 1e9 : 0;
  const double pointNs = std::clamp(budgetNs / static_cast<double>(levels.size()), kMinPointNs, kMaxPointNs);

  Failures failures;
  std::barrier phase(static_cast<std::ptrdiff_t>(cpus.size()));
  // Written by the chase thread before the start of a point, read by the streams after it.
  Command command = Command::kIdle;
  int streaming = 0;
  double bytesPerNs = 0;  // each stream's rate when paced, 0 unpaced
  std::atomic<bool> pointRunning{false};
  std::vector<StreamCount> counts(cpus.size());

  const auto stopAsked = [stop] { return stop != nullptr && stop->load(); };

  const auto chase = [&] {
    Buffer buffer;
    // Random over the whole buffer, as the latency module walks it: a cycle kept within a few pages
    // at a time measured half of this (82 against 172 ns for 256 MiB here), the memory's open rows
    // and the prefetchers having found its locality.
    if (PinAndMap(cpus[0], &buffer, 1, sweep.chaseBytes, true, &failures))
      memlat_internal::LinkRandomCycle(buffer.Data(), sweep.chaseBytes / memlat_internal::kLineBytes,
                                       kCycleSeed);
    phase.arrive_and_wait();  // ready
    void* at = buffer.Data();
    const bool ready = !failures.Any();
    for (size_t i = 0; ready && i < levels.size(); ++i) {
      if (stopAsked()) {
        sweep.stopped = true;
        break;
      }
      LoadedPoint point = levels[i];
      if (point.pace < 1) {
        // Paced levels follow the unpaced one with as many streams, whose rate they share out.
        const auto full = std::find_if(sweep.points.begin(), sweep.points.end(), [&](const LoadedPoint& p) {
          return p.streams == point.streams && p.pace == 1;
        });
        if (full == sweep.points.end() || full->streamMBps <= 0) continue;
        bytesPerNs = point.pace * full->streamMBps / 1e3 / point.streams;
      } else {
        bytesPerNs = 0;
      }
      if (progress) progress(static_cast<int>(i), static_cast<int>(levels.size()), LevelText(point));
      command = Command::kStream;
      streaming = point.streams;
      pointRunning = true;
      phase.arrive_and_wait();  // start

      // Settle: the streams get going while the chase learns its rate.
      const int64_t settleStart = NowNs();
      uint64_t settleLoads = 0;
      while (static_cast<double>(NowNs() - settleStart) < pointNs * kSettleShare && !stopAsked()) {
        at = memlat_internal::ChaseBlocks(at, kWarmBlocks);
        settleLoads += kWarmBlocks * memlat_internal::kLoadsPerBlock;
      }
      const double warmNs =
          settleLoads > 0 ? static_cast<double>(NowNs() - settleStart) / static_cast<double>(settleLoads)
                          : 100;
      const uint64_t roundLoads = memlat_internal::PlanRoundLoads(
          UINT64_MAX, warmNs, pointNs * (1 - kSettleShare) / kRounds, 16 * memlat_internal::kLoadsPerBlock);

      double latencies[kRounds];
      int rounds = 0;
      uint64_t bytesBefore = 0;
      for (const StreamCount& count : counts) bytesBefore += count.bytes.load(std::memory_order_relaxed);
      const int64_t windowStart = NowNs();
      for (; rounds < kRounds && !stopAsked(); ++rounds) {
        const int64_t start = NowNs();
        at = memlat_internal::ChaseBlocks(at, roundLoads / memlat_internal::kLoadsPerBlock);
        latencies[rounds] = static_cast<double>(NowNs() - start) / static_cast<double>(roundLoads);
      }
      const int64_t windowEnd = NowNs();
      uint64_t bytesAfter = 0;
      for (const StreamCount& count : counts) bytesAfter += count.bytes.load(std::memory_order_relaxed);

      pointRunning = false;
      phase.arrive_and_wait();  // end
      if (rounds < kRounds) {
        sweep.stopped = true;
        break;
      }
      std::sort(latencies, latencies + kRounds);
      point.latencyNs = latencies[kRounds / 2];
      point.streamMBps = windowEnd > windowStart ? static_cast<double>(bytesAfter - bytesBefore) /
                                                       static_cast<double>(windowEnd - windowStart) * 1e3
                                                 : 0;
      sweep.points.push_back(point);
    }
    command = Command::kQuit;
    phase.arrive_and_wait();
  };

  const auto stream = [&](size_t index) {
    Buffer buffer;
    PinAndMap(cpus[index], &buffer, 1, sweep.streamBytes, true, &failures);
    phase.arrive_and_wait();  // ready
    std::atomic<uint64_t>& published = counts[index].bytes;
    uint64_t offset = 0;
    for (;;) {
      phase.arrive_and_wait();  // start, or quit
      if (command == Command::kQuit) break;
      if (static_cast<int>(index) <= streaming && buffer.Data() != nullptr) {
        const double rate = bytesPerNs;
        const int64_t start = NowNs();
        uint64_t done = 0;
        while (pointRunning.load(std::memory_order_relaxed)) {
          reader->loop(buffer.Data() + offset, nullptr, kStreamChunk, 1);
          offset = offset + kStreamChunk < sweep.streamBytes ? offset + kStreamChunk : 0;
          done += kStreamChunk;
          published.fetch_add(kStreamChunk, std::memory_order_relaxed);
          if (rate > 0) {
            // Wait until the bytes so far are due at the asked rate.
            const int64_t due = start + static_cast<int64_t>(static_cast<double>(done) / rate);
            while (NowNs() < due && pointRunning.load(std::memory_order_relaxed)) __builtin_ia32_pause();
          }
        }
      }
      phase.arrive_and_wait();  // end
    }
  };

  const auto body = [&](size_t index) {
    if (index == 0)
      chase();
    else
      stream(index);
  };
  StartAndJoin(cpus.size(), phase, body, [&] {
    failures.Add("Only some of the " + std::to_string(cpus.size()) + " threads could be started.");
  });
  if (failures.Any()) {
    sweep.error = failures.Message();
    sweep.points.clear();
    return sweep;
  }
  if (progress && !sweep.stopped)
    progress(static_cast<int>(levels.size()), static_cast<int>(levels.size()), "");
  sweep.ok = !sweep.points.empty();
  if (!sweep.ok && sweep.error.empty()) sweep.error = sweep.stopped ? "Stopped." : "No point was measured.";
  return sweep;
}

}  // namespace peak
