#include "core/samples.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/numeric.h"
#include "sysinfo/text.h"

namespace core {
namespace {

constexpr double kSampleScale = 1.07025;
constexpr double kReadCopyScale = 1.048;

// Patterns of the lines that carry a sample; each may add one.
constexpr std::array<const char*, 5> kPatterns = {"32768 Kb block", "65536 Kb block", "131072 Kb block",
                                                  "262144 Kb block", "(nt)  Copy"};

}  // namespace

std::string ScaleBandwidthSample(std::string_view digits) {
  const auto n = ParseInteger("0" + std::string(digits));
  if (!n) return "0";
  return FixedText(static_cast<double>(*n) * kSampleScale, 0);
}

std::string AverageSamples(const SampleList& samples, const std::string& prefix) {
  long long count = 0, sum = 0;
  for (const std::string& line : samples) {
    if (!sysinfo::Contains(line, prefix)) continue;
    const auto value = ParseInteger(sysinfo::ReplaceAll(line, prefix, ""));
    if (!value || *value > 2147483647 || *value < -2147483647) return "0";
    ++count;
    sum += *value;
  }
  if (count == 0) return "0";
  if (prefix == kLatencyPrefix)
    return FixedText(static_cast<double>(sum) / static_cast<double>(count) / 100.0, 1);
  if (prefix == kCopyPrefix || prefix == kReadPrefix)
    return FixedText(static_cast<double>(sum) / static_cast<double>(count) * kReadCopyScale, 0);
  return std::to_string(sum / count);
}

SampleSummary SummariseSamples(const SampleList& samples, const std::string& prefix) {
  SampleSummary summary;
  double scale = 1.0;
  if (prefix == kLatencyPrefix) scale = 0.01;
  if (prefix == kCopyPrefix || prefix == kReadPrefix) scale = kReadCopyScale;
  for (const std::string& line : samples) {
    if (!sysinfo::Contains(line, prefix)) continue;
    const auto value = ParseInteger(sysinfo::ReplaceAll(line, prefix, ""));
    if (!value) continue;
    summary.values.push_back(static_cast<double>(*value) * scale);
  }
  if (summary.values.size() < 2) return summary;
  const auto [low, high] = std::minmax_element(summary.values.begin(), summary.values.end());
  double sum = 0;
  for (double v : summary.values) sum += v;
  const double mean = sum / static_cast<double>(summary.values.size());
  if (mean > 0) summary.spreadPercent = (*high - *low) / mean * 100.0;
  return summary;
}

std::string SpreadText(const SampleSummary& summary) {
  if (summary.values.empty()) return "no samples";
  const size_t n = summary.values.size();
  return std::to_string(n) + (n == 1 ? " sample" : " samples") + ", spread " +
         FixedText(summary.spreadPercent, 2) + " %";
}

std::string BusyWarning(const SampleSummary& summary) {
  if (summary.values.size() < 2 || summary.spreadPercent <= kBusySpreadPercent) return {};
  return "the machine was busy: run again (spread " + FixedText(summary.spreadPercent, 2) + " %)";
}

std::string SamplesTooltip(const SampleSummary& summary, const std::string& prefix) {
  if (summary.values.empty()) return "no samples";
  const bool latency = prefix == kLatencyPrefix;
  std::string text;
  for (double v : summary.values) {
    if (!text.empty()) text += ", ";
    text += FixedText(v, latency ? 2 : 0);
  }
  text += latency ? " ns" : " MByte/s";
  const std::string busy = BusyWarning(summary);
  return text + "\n" + SpreadText(summary) + (busy.empty() ? "" : "\n" + busy);
}

int BandwidthOutputParser::OnLibraryOutput(const char* line) {
  if (line == nullptr) return 0;
  const std::string_view text(line);
  int added = 0;
  for (const char* pattern : kPatterns) {
    const size_t at = text.find(pattern);
    if (at == std::string_view::npos) continue;
    const size_t tailStart = at + std::string_view(pattern).size() + 1;  // skips the colon
    const std::string_view tail = tailStart < text.size() ? text.substr(tailStart, 99) : std::string_view();
    const size_t dot = tail.find('.');
    const std::string number =
        dot == std::string_view::npos ? std::string() : text::Trim(tail.substr(0, dot));
    // A figure that is not a whole number before its point is a garbled line, not a zero.
    if (!ParseInteger("0" + number)) continue;
    samples_.push_back(prefix_ + "0" + ScaleBandwidthSample(number));
    ++added;
  }
  return added;
}

std::string LatencySampleFromText(std::string_view text) {
  if (sysinfo::Contains(text, "rro")) return "0";
  std::string s(text);
  for (const char* removed : {"+", "-", "%"}) s = sysinfo::ReplaceAll(s, removed, "");
  s = text::Trim(s);
  const size_t dot = s.find('.');
  s = s.substr(0, dot == std::string::npos ? 2 : dot + 3);
  return "0" + sysinfo::ReplaceAll(s, ".", "");
}

}  // namespace core
