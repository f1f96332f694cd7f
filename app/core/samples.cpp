#include "app/core/samples.h"

#include <array>
#include <cmath>

#include "app/core/numeric.h"
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
  if (prefix == kLatencyPrefix) return FixedText(static_cast<double>(sum) / static_cast<double>(count) / 100.0, 1);
  if (prefix == kCopyPrefix || prefix == kReadPrefix)
    return FixedText(static_cast<double>(sum) / static_cast<double>(count) * kReadCopyScale, 0);
  return std::to_string(sum / count);
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
    const std::string number = dot == std::string_view::npos ? std::string() : sysinfo::Trim(tail.substr(0, dot));
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
  s = sysinfo::Trim(s);
  const size_t dot = s.find('.');
  s = s.substr(0, dot == std::string::npos ? 2 : dot + 3);
  return "0" + sysinfo::ReplaceAll(s, ".", "");
}

}  // namespace core
