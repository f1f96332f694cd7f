#include "core/notices.h"

#include <vector>

#include "core/host.h"
#include "core/numeric.h"
#include "text/trim.h"

namespace core {

std::string LatencyNotMeasured(const std::string& latencyCaption, const std::string& largestCacheKBytes) {
  // The bar's caption reads just "LATENCY" until the test has run.
  if (latencyCaption.find("ns") == std::string::npos) return {};
  const auto value = ParseDecimal(NumericText(latencyCaption));
  if (value && *value > 0) return {};
  if (largestCacheKBytes == kUnknownCacheKBytes)
    return "Latency could not be measured: the processor's cache size is unknown, so there is no block "
           "size to measure beyond the caches (0.0 ns is no figure)";
  return "Latency could not be measured: the latency module gave no figure (0.0 ns is no figure)";
}

std::string MissingMemoryFacts(const ShareFacts& facts) {
  std::vector<std::string> missing;
  if (text::Trim(facts.memoryType) == "*") missing.push_back("type");
  if (facts.memoryClock == 0) missing.push_back("clock");
  if (text::Trim(facts.channels) == "*") missing.push_back("channels");
  if (missing.empty()) return {};
  std::string list = missing[0];
  for (size_t i = 1; i < missing.size(); ++i) list += (i + 1 == missing.size() ? " and " : ", ") + missing[i];
  return "memory " + list + " unknown: run once as root, or see README: memory facts";
}

}  // namespace core
