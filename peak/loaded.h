// Memory latency under load: the latency module's random chase (one cycle through every line of
// a buffer far beyond the caches, in huge pages where the system gives them) on the first
// processor, while streaming threads on the other processors read their own arrays with the peak
// read kernel: no stream, then one more at each level up to all, then (paced) all of them held to
// a quarter and a half of the rate they reached unpaced. Each point gives the chase's latency
// and what the streams delivered meanwhile, in MByte/s of 10^6 bytes per second.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "peak/isa.h"
#include "peak/peak.h"

namespace peak {

struct LoadedOptions {
  std::vector<int> cpus;                // chase on the first, streams on the rest; empty: all allowed
  uint64_t chaseBytes = 256ull << 20;   // well beyond the last-level cache (e.g. 4x its size)
  uint64_t streamBytes = 128ull << 20;  // each streaming thread's array
  Isa isa = Isa::kSse2;
  bool widest = true;         // ignore isa and take WidestIsa of this processor
  bool paced = true;          // add the quarter and half rate points
  double budgetSeconds = 30;  // the points' measuring time together; buffers and setup come on top
};

struct LoadedPoint {
  int streams = 0;        // threads streaming beside the chase
  double pace = 1;        // each stream's rate asked for, as a share of its unpaced rate; 1 = unpaced
  double latencyNs = 0;   // median of the point's timed rounds, ns per load
  double streamMBps = 0;  // all streams together while the chase was timed, 10^6 bytes/s
};

struct LoadedSweep {
  bool ok = false;
  bool stopped = false;  // the stop flag ended it; the points done so far are kept
  std::string error;
  Isa isa = Isa::kSse2;
  uint64_t chaseBytes = 0;
  uint64_t streamBytes = 0;
  std::vector<LoadedPoint> points;  // in the order measured (see PlanLoadLevels)
};

// The whole sweep on threads of its own; progress runs on the chase's thread before each point.
// stop is read between the chase's rounds (about a tenth of a second apart): a point it cuts
// short is left out.
LoadedSweep MeasureLoadedLatency(const LoadedOptions& options, const Progress& progress = {},
                                 const std::atomic<bool>* stop = nullptr);

// "streams,pace,latency_ns,stream_mbytes_per_s" and one line per point ("." as the point).
std::string LoadedSweepCsv(const LoadedSweep& sweep);

// The levels for processors allowed: (0, 1), (1, 1) .. (processors-1, 1), and when paced and
// there is a stream at all, (processors-1, 0.25) and (processors-1, 0.5). Only streams and pace set.
std::vector<LoadedPoint> PlanLoadLevels(int processors, bool paced);

}  // namespace peak
