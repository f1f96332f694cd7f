#include "server/reference.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "server/record.h"

namespace qvserver {

namespace {

struct ShippedRow {
  const char* family;
  int channels;
  Range score, clock, latency;
};

// Where these numbers come from. They are estimates reasoned from the JEDEC speed grades and
// the latencies typical of each generation, not measurements; the server uses them only until
// 20 stored results match.
// - Clock (the program's memory clock figure, about the transfer rate in MT/s): from the
//   lowest common JEDEC grade to the top JEDEC grade plus the usual XMP/EXPO headroom.
//   DDR2 533-1066, DDR3 1066-2133, DDR4 2133-3600, DDR5 4800-7200.
// - Score (GByte/s, the mean of READ, WRITE and COPY from one thread): the peak of two 64-bit
//   channels is rate x 8 bytes x 2; one core streaming 8-byte MMX moves reaches roughly a third
//   of that at the lowest grade and about half at the top grade (less for DDR5, where a single
//   core's outstanding misses bind first). Dual channel: DDR2 3-10, DDR3 6-19, DDR4 11-32,
//   DDR5 20-48. One channel halves the peak but one thread loses less: x0.6. More than two
//   channels help one thread little: x1.1 for three, x1.2 for four, x1.25 for six or eight.
//   Ends rounded outward.
// - Latency (ns): the DRAM part (tRCD + CL, about 13-17 ns each at the JEDEC timings of every
//   generation: DDR2-800 CL5, DDR3-1600 CL11, DDR4-3200 CL22, DDR5-4800 CL40) plus the
//   controller and fabric, 30-60 ns on desktops: DDR2 70-130, DDR3 55-100, DDR4 55-95,
//   DDR5 65-110. Four channels (workstation meshes) add 5/10 ns, six or eight add 10/20 ns.
constexpr ShippedRow kShipped[] = {
    {"DDR2", 1, {1, 6}, {533, 1066}, {70, 130}},    {"DDR2", 2, {3, 10}, {533, 1066}, {70, 130}},
    {"DDR2", 4, {3, 12}, {533, 1066}, {75, 140}},   {"DDR3", 1, {3, 12}, {1066, 2133}, {55, 100}},
    {"DDR3", 2, {6, 19}, {1066, 2133}, {55, 100}},  {"DDR3", 3, {6, 21}, {1066, 2133}, {55, 100}},
    {"DDR3", 4, {7, 23}, {1066, 2133}, {60, 110}},  {"DDR4", 1, {6, 20}, {2133, 3600}, {55, 95}},
    {"DDR4", 2, {11, 32}, {2133, 3600}, {55, 95}},  {"DDR4", 4, {13, 39}, {2133, 3600}, {60, 105}},
    {"DDR4", 6, {13, 40}, {2133, 3600}, {65, 115}}, {"DDR4", 8, {13, 40}, {2133, 3600}, {65, 115}},
    {"DDR5", 1, {12, 29}, {4800, 7200}, {65, 110}}, {"DDR5", 2, {20, 48}, {4800, 7200}, {65, 110}},
    {"DDR5", 4, {24, 58}, {4800, 7200}, {70, 120}}, {"DDR5", 8, {25, 60}, {4800, 7200}, {75, 130}},
};

// A memory type the table does not know: one scale wide enough for any of them.
constexpr ShippedRow kAnyMemory = {"", 2, {1, 60}, {400, 7200}, {40, 140}};

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string MemoryFamily(std::string_view type) {
  const std::string key = MatchKey(type);
  for (const char* family : {"DDR5", "DDR4", "DDR3", "DDR2"})
    if (key.find(family) != std::string::npos) return family;
  return {};
}

std::optional<int> ChannelCount(std::string_view channels) {
  const std::string key = MatchKey(channels);
  static constexpr std::pair<const char*, int> kWords[] = {
      {"SINGLE", 1}, {"DUAL", 2}, {"TRIPLE", 3}, {"QUAD", 4},  {"HEXA", 6},
      {"SIX", 6},    {"OCTA", 8}, {"OCTO", 8},   {"EIGHT", 8}, {"TWELVE", 12}};
  for (const auto& [word, count] : kWords)
    if (key == word) return count;
  if (AllDigits(key) && key.size() <= 2) {
    const int n = std::atoi(key.c_str());
    return n > 0 ? std::optional<int>(n) : std::nullopt;
  }
  // "N X W-BIT": N channels W bits wide, counted in 64-bit channels.
  const size_t x = key.find(" X ");
  if (x != std::string::npos && key.size() > x + 3 && key.substr(key.size() - 4) == "-BIT") {
    const std::string n = key.substr(0, x);
    const std::string w = key.substr(x + 3, key.size() - 4 - (x + 3));
    if (AllDigits(n) && AllDigits(w) && n.size() <= 2 && w.size() <= 3) {
      const int bits = std::atoi(n.c_str()) * std::atoi(w.c_str());
      if (bits >= 64) return bits / 64;
      if (bits > 0) return 1;
    }
  }
  return std::nullopt;
}

CompareRanges ShippedRanges(std::string_view type, std::string_view channels) {
  const std::string family = MemoryFamily(type);
  const int wanted = ChannelCount(channels).value_or(2);
  // The row for this count, else the nearest smaller count, else the smallest one.
  const ShippedRow* atOrBelow = nullptr;
  const ShippedRow* smallest = nullptr;
  for (const ShippedRow& row : kShipped) {
    if (family != row.family) continue;
    if (!smallest || row.channels < smallest->channels) smallest = &row;
    if (row.channels <= wanted && (!atOrBelow || row.channels > atOrBelow->channels)) atOrBelow = &row;
  }
  const ShippedRow* best = atOrBelow ? atOrBelow : smallest;
  if (!best) best = &kAnyMemory;
  CompareRanges ranges;
  ranges.score = best->score;
  ranges.clock = best->clock;
  ranges.latency = best->latency;
  return ranges;
}

namespace {

double PercentileOf(const std::vector<double>& unsorted, double p, bool sorted) {
  // The store keeps its lists sorted; only others pay for a sorted copy.
  std::vector<double> copy;
  if (!sorted && !std::is_sorted(unsorted.begin(), unsorted.end())) {
    copy = unsorted;
    std::sort(copy.begin(), copy.end());
  }
  const std::vector<double>& values = copy.empty() ? unsorted : copy;
  const double rank = p * static_cast<double>(values.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(rank));
  const size_t above = std::min(below + 1, values.size() - 1);
  const double fraction = rank - static_cast<double>(below);
  return values[below] + (values[above] - values[below]) * fraction;
}

}  // namespace

double Percentile(const std::vector<double>& values, double p) { return PercentileOf(values, p, false); }

Range OutwardRange(const std::vector<double>& values, bool sorted) {
  // Rounding a hair inside first keeps a percentile of 30.000000001 from widening to 31.
  constexpr double kSlack = 1e-9;
  Range r;
  r.low = static_cast<long long>(std::floor(PercentileOf(values, 0.05, sorted) + kSlack));
  r.high = static_cast<long long>(std::ceil(PercentileOf(values, 0.95, sorted) - kSlack));
  if (r.high <= r.low) r.high = r.low + 1;  // a dial needs a span
  return r;
}

CompareRanges RangesFor(std::string_view type, std::string_view channels, const MatchedValues& matched) {
  CompareRanges ranges = ShippedRanges(type, channels);
  if (matched.scores.size() >= kMinResultsForPercentiles) {
    ranges.score = OutwardRange(matched.scores, matched.sorted);
    ranges.scoreSamples = matched.scores.size();
  }
  if (matched.clocks.size() >= kMinResultsForPercentiles) {
    ranges.clock = OutwardRange(matched.clocks, matched.sorted);
    ranges.clockSamples = matched.clocks.size();
  }
  if (matched.latencies.size() >= kMinResultsForPercentiles) {
    ranges.latency = OutwardRange(matched.latencies, matched.sorted);
    ranges.latencySamples = matched.latencies.size();
  }
  return ranges;
}

std::string CompareAnswer(const CompareRanges& r) {
  const long long numbers[] = {r.score.low,  r.score.high,  r.clock.low,
                               r.clock.high, r.latency.low, r.latency.high};
  std::string answer;
  for (long long n : numbers) {
    if (!answer.empty()) answer += "<BR />";
    answer += std::to_string(n);
  }
  return answer;
}

}  // namespace qvserver
