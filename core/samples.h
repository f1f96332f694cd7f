// Samples of the tests and the parsing of the bandwidth module's output into them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// Ordered sample lines, each prefix + "0" + digits (READ-013212, LAT-06543).
using SampleList = std::vector<std::string>;

inline constexpr const char* kReadPrefix = "READ-";
inline constexpr const char* kWritePrefix = "WRITE-";
inline constexpr const char* kCopyPrefix = "COPY-";
inline constexpr const char* kLatencyPrefix = "LAT-";

// Integer value of "0" + digits times 1.07025, rounded half away from zero; "0" for nothing.
std::string ScaleBandwidthSample(std::string_view digits);

// The test's final value as shown: integer mean for WRITE-, mean x 1.048 rounded for READ- and
// COPY-, mean / 100 with one decimal for LAT-; "0" without samples or on an unreadable sample.
std::string AverageSamples(const SampleList& samples, const std::string& prefix);

// The samples behind one result on the scale of the value shown (MByte/s, READ and COPY with their
// factor 1.048; ns for LAT-), and how far they spread: (max - min) / mean in %.
struct SampleSummary {
  std::vector<double> values;
  double spreadPercent = 0;  // 0 with fewer than two samples or a mean of 0
};
SampleSummary SummariseSamples(const SampleList& samples, const std::string& prefix);

// "5 samples, spread 0.42 %" ("no samples" without any).
std::string SpreadText(const SampleSummary& summary);
// Above this spread the samples disagree too much to be trusted. Measured with quorvex-cli run
// --json: an idle hypervisor guest (2 vCPUs) spread its bandwidth samples by 6-30 % and its latency
// by 3-6 % in 5 runs; with both processors taken by other work, 40-72 %, and busy machines 52-112 %.
// A bare-metal desktop spreads by a few per cent, so the line sits above the noisiest idle figure.
inline constexpr double kBusySpreadPercent = 35.0;
// "the machine was busy: run again (spread 52.10 %)" above kBusySpreadPercent, else empty.
std::string BusyWarning(const SampleSummary& summary);

// The samples as shown in a result's tooltip: "13847, 13849, 13860 MByte/s", then the spread, then
// BusyWarning when there is one.
std::string SamplesTooltip(const SampleSummary& summary, const std::string& prefix);

// The output function's work: checks each line of the module against the five patterns and
// appends one sample per pattern found under the current prefix.
class BandwidthOutputParser {
 public:
  explicit BandwidthOutputParser(SampleList& samples) : samples_(samples) {}
  void SetPrefix(std::string prefix) { prefix_ = std::move(prefix); }
  const std::string& Prefix() const { return prefix_; }
  // Returns how many samples the line added (0 to 5).
  int OnLibraryOutput(const char* line);

 private:
  SampleList& samples_;
  std::string prefix_;
};

// The text steps of one latency measurement: the module's text to "0" + hundredths of a ns
// ("65.4321 ns" -> "06543"); "0" for an error text.
std::string LatencySampleFromText(std::string_view text);

}  // namespace core
