// What a real machine can measure: a record whose figures no memory of its stated kind could
// give is refused, so made-up numbers never reach the reference ranges.
#pragma once

#include <string>

#include "server/record.h"

namespace qvserver {

// Measured bandwidth may be at most this many times the theoretical peak (see plausible.cpp).
inline constexpr double kPeakMargin = 2.0;
inline constexpr double kMinLatencyNs = 20, kMaxLatencyNs = 500;
inline constexpr long long kMinBandwidth = 100;  // MByte/s

struct ClockRange {
  int low = 0, high = 0;  // MHz, the program's memory clock figure
};

// The clocks a memory type can run at; the widest range for a type the table does not know.
ClockRange ClockRangeFor(const std::string& type);

// True when the record's clock, bandwidths and latency fit its memory type and channel count;
// otherwise why is one line saying which figure does not.
bool CheckPlausible(const UploadedRecord& record, std::string* why);

}  // namespace qvserver
