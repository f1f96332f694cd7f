// The cache levels the curve itself shows, beside the ones the processor reports. Firmware and
// hypervisors report caches the machine does not have (a guest told of its host's whole L3);
// the latency and bandwidth steps of the curve are what this machine really does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/curve.h"

namespace core {

// One step of the curve read as a cache level.
struct MeasuredCache {
  std::string label;           // "L1", "L2", ... in the order the steps come
  uint64_t kbytes = 0;         // the estimated capacity, rounded to a size caches are built in
  double confidence = 0;       // 0..1: how clearly the curve shows this step
  bool latencyStep = false;    // LATENCY rises here
  bool bandwidthStep = false;  // READ falls here
};

// The levels the curve shows, smallest first. Needs at least a few measured sizes on both sides
// of a step; an empty list when the curve shows none. A latency step with no READ step beside it
// is usually a TLB running out rather than a cache and gets a low confidence.
std::vector<MeasuredCache> FindCacheLevels(const Curve& curve);

// The last-level size the curve's range and the all-core arrays should follow: the reported one,
// unless it is absent (0) or larger than the measured last level by a wide margin (4x) while the
// curve shows that level with a fair confidence; then the measured one.
uint64_t LastLevelKbForSizes(uint64_t reportedKb, const std::vector<MeasuredCache>& measured);

// A reported level and the measured one that stands for it; either may be missing.
struct CacheLevelPair {
  const CacheMark* reported = nullptr;
  const MeasuredCache* measured = nullptr;
};

// Both lists side by side, smallest first: each measured level beside the reported level nearest
// in size, in order, so a level the curve does not show leaves a gap rather than shifting the rest;
// the step into memory goes beside the reported last level even where that is overstated (a guest
// told of its host's whole L3).
std::vector<CacheLevelPair> PairCacheLevels(const std::vector<CacheMark>& reported,
                                            const std::vector<MeasuredCache>& measured);

// "L3 reported 508 MiB, measured ~32 MiB" for every level that both lists have, or only one of them
// ("L4 reported 128 MiB, not seen", "L3 measured ~16 MiB"), as PairCacheLevels pairs them; a level
// the curve shows with a confidence under 0.5 says "(unsure)".
std::vector<std::string> CacheComparisonLines(const std::vector<CacheMark>& reported,
                                              const std::vector<MeasuredCache>& measured);

// True when the two sizes differ by more than what the curve's octave steps can resolve (1.5x).
bool CacheSizesDisagree(uint64_t reportedKb, uint64_t measuredKb);

}  // namespace core
