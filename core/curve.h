// The cache-and-memory curve: READ and WRITE bandwidth and LATENCY for every block size from
// 1 Kb to beyond the largest cache, measured through the carried modules (a fresh module for
// every call) and scaled exactly as the main window scales its figures.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "sysinfo/system_spec.h"

namespace core {

// One block size of the curve; a figure below 0 has not been measured (yet).
struct CurvePoint {
  uint32_t blockKb = 0;
  double read = -1;     // MByte/s as the main window shows READ
  double write = -1;    // MByte/s as the main window shows WRITE
  double latency = -1;  // ns
};

// Points in ascending block size, one per size.
using Curve = std::vector<CurvePoint>;

// A cache level of the system specification, drawn as a labelled line (per-core size).
struct CacheMark {
  std::string label;  // "L1", "L2", "L3", "L4"
  uint64_t kbytes = 0;
};

// The legend's statement of the scaling.
inline constexpr const char* kCurveScalingNote = "MByte/s = module Mb/s x 1.07025, READ x 1.048 more";

// KBytes per instance of a cache value ("8 x 32 KBytes, 8-way ..." -> 32, "32 MBytes" -> 32768);
// 0 when the value says no size.
uint64_t CacheValueKBytes(const std::string& value);

// The data cache levels the system specification lists, smallest first.
std::vector<CacheMark> CacheMarks(const sysinfo::SystemSpec& spec);

// How one curve is measured.
struct CurvePlan {
  uint32_t largestKb = 131072;     // the last block size (a power of two)
  uint32_t passGb = 1;             // -g of the sweeps: Gb moved per block size
  int sweeps = 2;                  // sweeps per benchmark; each size keeps its best figure
  uint32_t minPointMs = 100;       // sizes faster than this are measured again with a larger -g
  int32_t latencyRounds = 3;       // MemLatency's first argument
  int32_t latencyLoads = 4000000;  // MemLatency's third argument (an upper limit per round)
  // Measure LATENCY first, and end the range at 4 x the last level the chase shows once three
  // sizes of the curve are in memory, where the reported last level (KBytes, 0 when none) is implausible next
  // to it (see LastLevelKbForSizes): a hypervisor that reports its host's whole cache would
  // otherwise send the curve to 1 GiB.
  bool followMeasured = false;
  uint64_t reportedLastLevelKb = 0;
};

// Block sizes reach 4 x the largest cache (the next power of two), at least 16 MiB, at most
// 1 GiB, and at most a quarter of the available memory (but 256 MiB kept where that allows:
// small machines stop there). largestCacheKBytes as LargestCacheKBytes gives it ("999999" when
// unknown: 256 MiB). The plan follows the measured caches (followMeasured).
CurvePlan PlanCurve(const std::string& largestCacheKBytes, uint64_t availableBytes);

// LargestCacheKBytes as a number; 0 when the report names no cache ("999999") or no number.
uint64_t ReportedLastLevelKb(const std::string& largestCacheKBytes);

// 1, 2, 4 ... largestKb.
std::vector<uint32_t> CurveSizes(const CurvePlan& plan);

// A sweep line of IDs 10 and 11 ("MMX (nt) & READING     1024 Kb block: 6400.00 Mb/s"): its block
// and the figure text after the colon. False for every other message.
bool ParseSweepLine(std::string_view line, uint32_t* blockKb, std::string* figure);

// The module's figure text as the main window would show it under prefix (kReadPrefix,
// kWritePrefix): whole Mb/s x 1.07025 rounded, READ and COPY x 1.048 more. -1 when unreadable.
double ShownBandwidth(std::string_view figure, const char* prefix);
// The same for a figure held as a number (printed "%.2f" first, as the module prints).
double ShownBandwidth(double moduleMbPerSecond, const char* prefix);

// The latency module's text in ns, through the main window's text steps; -1 for an error text.
double ShownLatency(std::string_view moduleText);

// The module calls the curve makes; tests hand in fakes.
struct CurveModules {
  // One call of the bandwidth entry with these arguments; every text it emits goes to out.
  std::function<bool(const std::string& arguments, const std::function<void(const char*)>& out,
                     std::string* error)>
      bandwidth;
  // One call of the latency entry; text receives what it returned.
  std::function<bool(int32_t rounds, int32_t kbytes, int32_t loads, std::string* text, std::string* error)>
      latency;
};

// The carried modules through the host: placed afresh for every call.
CurveModules CarriedCurveModules();

enum class CurveSeries { Read, Write, Latency };

// One figure measured: the point as it stands now, and how far the curve has come.
struct CurveProgress {
  CurveSeries series;
  CurvePoint point;
  int done = 0;
  int total = 0;
};

// Measures READ (ID 11), WRITE (ID 10) and LATENCY for every size of plan, in that order (LATENCY
// first when the plan follows the measured caches),
// reporting every figure as it arrives (a later sweep reports a size again when it did better). stop (when
// given) is polled between module calls. False with error when a module could not be called or delivered no
// figure; curve keeps what was measured.
bool MeasureCurve(const CurvePlan& plan, const CurveModules& modules,
                  const std::function<void(const CurveProgress&)>& onProgress, const std::atomic<bool>* stop,
                  Curve* curve, std::string* error);

// CSV with a header: block_kb;read_mbyte_s;write_mbyte_s;latency_ns ("." as point, unmeasured
// figures empty).
std::string CurveCsv(const Curve& curve);
// Reads CurveCsv's text back; false on anything else.
bool ParseCurveCsv(const std::string& text, Curve* curve);

// The chart as an SVG document: log block-size axis, bandwidth on the left, latency on the
// right, cache levels as labelled vertical lines. allCoreLine (when not empty) goes under it.
std::string CurveSvg(const Curve& curve, const std::vector<CacheMark>& marks, const std::string& title,
                     const std::string& allCoreLine);

// A round top for a value axis above value: 1, 1.5, 2, 2.5, 3, 4, 5, 6 or 8 times a power of ten.
double AxisTop(double value);

// The sizes named under the block-size axis: 1 KiB, 4 KiB, 32 KiB, 256 KiB, 1 MiB, 8 MiB, 32 MiB,
// 256 MiB, 1 GiB.
const std::vector<uint64_t>& CurveAxisLabelsKb();

// "1 KiB", "32 KiB", "1 MiB", "1 GiB".
std::string BlockSizeText(uint64_t kbytes);

}  // namespace core
