// The machine's real peak bandwidth: the kernels of kernels.h on one pinned thread per
// processor given, each with its own arrays, all started together, only their loops timed, the
// best of several repeats. Bandwidth is in MByte/s of 10^6 bytes per second; a copy counts the
// bytes it reads and the bytes it writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "peak/isa.h"
#include "peak/kernels.h"

namespace peak {

struct PeakRequest {
  Operation operation = Operation::kRead;
  Isa isa = Isa::kSse2;                  // must be usable here (IsaUsable)
  std::vector<int> cpus;                 // one thread pinned to each; none is an error
  uint64_t arrayBytes = 0;               // each array of each thread, rounded down to kArrayGranule
  int repeats = 5;                       // the fastest counts
  uint64_t bytesPerRepeat = 1ull << 30;  // each thread's traffic per repeat, at least one pass
  bool hugePages = true;                 // ask for transparent huge pages (see Buffer)
};

struct PeakResult {
  bool ok = false;
  bool stopped = false;  // the stop flag ended it before its first repeat was done
  std::string error;     // one message, however many threads failed
  const KernelRow* kernel = nullptr;
  int threads = 0;
  uint64_t arrayBytes = 0;  // as run
  uint64_t bytesMoved = 0;  // by all threads in one repeat
  int64_t bestNs = 0;       // the fastest repeat, first start to last end
  int repeatsDone = 0;
  double mbytesPerSecond = 0;  // 10^6 bytes per second
};

// stop is read between repeats; the repeats done by then count.
PeakResult MeasurePeak(const PeakRequest& request, const std::atomic<bool>* stop = nullptr);

// Called before each measurement of a sequence: measurements done, measurements in all, what
// comes next ("copy, AVX-512, 2 threads").
using Progress = std::function<void(int done, int total, const std::string& next)>;

struct PeakTableOptions {
  uint64_t arrayBytes = 256ull << 20;
  Isa isa = Isa::kSse2;
  bool widest = true;     // ignore isa and take WidestIsa of this processor
  std::vector<int> cpus;  // empty: platform::AllowedProcessors()
  int repeats = 5;
};

// Read, write and copy on the first processor alone and then on all: six results in that
// order (three when only one processor is allowed). A stop leaves the rest out.
std::vector<PeakResult> MeasurePeakTable(const PeakTableOptions& options, const Progress& progress = {},
                                         const std::atomic<bool>* stop = nullptr);

// "kernel,isa,threads,array_bytes,mbytes_per_s" and one line per result that ran ("." as the point).
std::string PeakTableCsv(const std::vector<PeakResult>& results);

}  // namespace peak
