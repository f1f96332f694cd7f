#include "peak/peak.h"

#include <algorithm>
#include <barrier>
#include <cmath>
#include <limits>

#include "peak/team.h"
#include "platform/processors.h"

namespace peak {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
// Leave the system this share of what it has available.
constexpr double kUsableMemoryShare = 0.9;

std::string Describe(const KernelRow& row, size_t threads) {
  return std::string(OperationName(row.operation)) + ", " + IsaName(row.isa) + ", " +
         std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

}  // namespace

std::string FixedOne(double value) {
  // Tenths from an integer, so no locale reaches the point.
  const long long tenths = std::llround(value * 10);
  const long long whole = tenths / 10, tenth = tenths % 10;
  return (tenths < 0 && whole == 0 ? "-" : "") + std::to_string(whole) + "." +
         std::to_string(tenth < 0 ? -tenth : tenth);
}

PeakResult MeasurePeak(const PeakRequest& request, const std::atomic<bool>* stop) {
  PeakResult result;
  result.threads = static_cast<int>(request.cpus.size());
  result.kernel = FindKernel(request.operation, request.isa);
  result.arrayBytes = request.arrayBytes / kArrayGranule * kArrayGranule;
  if (result.kernel == nullptr) {
    result.error = "No kernel for that operation and vector unit.";
    return result;
  }
  if (!IsaUsable(ReadCpuFeatures(), request.isa)) {
    result.error = std::string(IsaName(request.isa)) + " is not usable on this processor.";
    return result;
  }
  if (request.cpus.empty() || result.arrayBytes == 0 || request.repeats < 1) {
    result.error = "Nothing to run: no processor, no array or no repeat.";
    return result;
  }
  const KernelRow& row = *result.kernel;
  const uint64_t perThread = row.Arrays() * result.arrayBytes;
  const uint64_t available = platform::AvailableMemoryBytes();
  if (available != 0 && static_cast<double>(perThread) * static_cast<double>(request.cpus.size()) >
                            static_cast<double>(available) * kUsableMemoryShare) {
    result.error = std::to_string(request.cpus.size()) + " x " + std::to_string(perThread / kMiB) +
                   " MiB do not fit in the " + std::to_string(available / kMiB) + " MiB available.";
    return result;
  }
  const uint64_t passes = std::max<uint64_t>(1, (request.bytesPerRepeat + perThread - 1) / perThread);

  Failures failures;
  // Decided once per phase, in the barrier's completion, so every thread takes the same turn.
  bool go = false;
  int repeatsDone = -1;  // the first phase is the ready one
  const auto decide = [&]() noexcept {
    ++repeatsDone;
    go = !failures.Any() && !(stop != nullptr && stop->load()) && repeatsDone < request.repeats;
  };
  std::barrier phase(static_cast<std::ptrdiff_t>(request.cpus.size()), decide);
  std::vector<std::vector<int64_t>> starts(request.repeats, std::vector<int64_t>(request.cpus.size(), 0));
  std::vector<std::vector<int64_t>> ends = starts;

  const auto body = [&](size_t index) {
    Buffer arrays[2];
    PinAndMap(request.cpus[index], arrays, static_cast<int>(row.Arrays()), result.arrayBytes,
              request.hugePages, &failures);
    const void* source = row.read > 0 ? arrays[0].Data() : nullptr;
    void* destination = row.written > 0 ? arrays[row.read].Data() : nullptr;
    phase.arrive_and_wait();
    for (int repeat = 0; go; ++repeat) {
      starts[repeat][index] = NowNs();
      row.loop(source, destination, result.arrayBytes, passes);
      ends[repeat][index] = NowNs();
      phase.arrive_and_wait();
    }
  };
  StartAndJoin(request.cpus.size(), phase, body, [&] {
    failures.Add("Only some of the " + std::to_string(request.cpus.size()) + " threads could be started.");
  });
  if (failures.Any()) {
    result.error = failures.Message();
    return result;
  }
  result.repeatsDone = std::max(0, repeatsDone);
  if (result.repeatsDone == 0) {
    result.stopped = true;
    result.error = "Stopped.";
    return result;
  }
  // A repeat that another program interrupted says nothing of the memory: the fastest counts.
  result.bestNs = std::numeric_limits<int64_t>::max();
  for (int repeat = 0; repeat < result.repeatsDone; ++repeat)
    result.bestNs =
        std::min(result.bestNs, *std::max_element(ends[repeat].begin(), ends[repeat].end()) -
                                    *std::min_element(starts[repeat].begin(), starts[repeat].end()));
  result.bytesMoved = perThread * passes * request.cpus.size();
  if (result.bestNs <= 0) {
    result.error = "The " + std::string(row.name) + " loop took no measurable time.";
    return result;
  }
  result.mbytesPerSecond = static_cast<double>(result.bytesMoved) / static_cast<double>(result.bestNs) * 1e3;
  result.ok = true;
  return result;
}

std::vector<PeakResult> MeasurePeakTable(const PeakTableOptions& options, const Progress& progress,
                                         const std::atomic<bool>* stop) {
  const std::vector<int> cpus = options.cpus.empty() ? platform::AllowedProcessors() : options.cpus;
  const Isa isa = options.widest ? WidestIsa(ReadCpuFeatures()) : options.isa;
  std::vector<std::vector<int>> teams{{cpus.front()}};
  if (cpus.size() > 1) teams.push_back(cpus);
  const int total = static_cast<int>(teams.size()) * kOperationCount;
  std::vector<PeakResult> results;
  for (const std::vector<int>& team : teams) {
    for (Operation operation : {Operation::kRead, Operation::kWrite, Operation::kCopy}) {
      if (stop != nullptr && stop->load()) return results;
      PeakRequest request;
      request.operation = operation;
      request.isa = isa;
      request.cpus = team;
      request.arrayBytes = options.arrayBytes;
      request.repeats = options.repeats;
      if (progress) {
        const KernelRow* row = FindKernel(operation, isa);
        if (row != nullptr) progress(static_cast<int>(results.size()), total, Describe(*row, team.size()));
      }
      PeakResult result = MeasurePeak(request, stop);
      if (result.stopped) return results;
      results.push_back(std::move(result));
    }
  }
  if (progress) progress(total, total, "");
  return results;
}

std::string PeakTableCsv(const std::vector<PeakResult>& results) {
  std::string text = "kernel,isa,threads,array_bytes,mbytes_per_s\n";
  for (const PeakResult& result : results) {
    if (!result.ok) continue;
    text += std::string(result.kernel->name) + "," + IsaName(result.kernel->isa) + "," +
            std::to_string(result.threads) + "," + std::to_string(result.arrayBytes) + "," +
            FixedOne(result.mbytesPerSecond) + "\n";
  }
  return text;
}

}  // namespace peak
