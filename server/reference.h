// Reference ranges for the quick compare: percentiles of the stored results once there are
// enough of them, the shipped table before that.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvserver {

inline constexpr size_t kMinResultsForPercentiles = 20;

struct Range {
  long long low = 0;
  long long high = 0;
  bool operator==(const Range&) const = default;
};

struct CompareRanges {
  Range score;    // GByte/s
  Range clock;    // MHz, the program's memory clock figure
  Range latency;  // ns
  // Where each range came from, for the results page: the number of stored results it was
  // taken from, 0 when it is the shipped reference.
  size_t scoreSamples = 0, clockSamples = 0, latencySamples = 0;
};

// The matching results' values; a result without a latency or memory clock is left out of that list.
struct MatchedValues {
  std::vector<double> scores;
  std::vector<double> clocks;
  std::vector<double> latencies;
  bool sorted = false;  // each list is in ascending order already
};

// "DDR2" to "DDR5" for a memory type text that names one of them (LPDDR4X counts as DDR4),
// empty otherwise.
std::string MemoryFamily(std::string_view type);

// Channels as a count of 64-bit channels: "Dual" 2, "3" 3, "2 x 64-bit" 2, "4 x 32-bit" 2.
std::optional<int> ChannelCount(std::string_view channels);

// The shipped reference for a memory type and channel text.
CompareRanges ShippedRanges(std::string_view type, std::string_view channels);

// Linear interpolation between the closest ranks; p from 0 to 1. values must not be empty.
double Percentile(const std::vector<double>& values, double p);

// 5th and 95th percentiles rounded outward (down and up), high kept above low.
Range OutwardRange(const std::vector<double>& values, bool sorted = false);

// Each range from the stored results when at least kMinResultsForPercentiles of them carry
// that figure, otherwise from the shipped table.
CompareRanges RangesFor(std::string_view type, std::string_view channels, const MatchedValues& matched);

// The six whole numbers joined by "<BR />" that the program's compare window reads.
std::string CompareAnswer(const CompareRanges& ranges);

}  // namespace qvserver
