#include "core/compare_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/numeric.h"
#include "core/score.h"
#include "sysinfo/text.h"
#include "text/server_contract.h"
#include "text/web_text.h"

namespace core {

namespace {

using core::NumericText;
using sysinfo::CollapseBlanks;
using sysinfo::ReplaceAll;
using sysinfo::StripParentheses;
using sysinfo::UpperAscii;
using text::Trim;

std::string Without(std::string text, const std::string& chars) {
  text.erase(
      std::remove_if(text.begin(), text.end(), [&](char c) { return chars.find(c) != std::string::npos; }),
      text.end());
  return text;
}

// A decimal number of the whole text, 0 when the text is not one.
double ReadNumber(const std::string& text) {
  const std::optional<double> value = core::ParseDecimal(text);
  return value && std::isfinite(*value) ? *value : 0;
}

std::string Word(const std::vector<std::string>& words, size_t n) { return n < words.size() ? words[n] : ""; }

}  // namespace

double DialSetup::Pointer() const {
  if (!(upper > lower) || std::isnan(value)) return lower;
  return std::clamp(value, lower, upper);
}

DialSide DialSetup::Side() const {
  if (!(upper > lower) || std::isnan(value)) return DialSide::Unknown;
  if (value < lower) return DialSide::Below;
  if (value > upper) return DialSide::Above;
  return DialSide::Inside;
}

std::string DialSetup::ValueText() const {
  std::string text = "Yours: " + FixedText(value, decimals) + " " + unit;
  if (Side() == DialSide::Above) text += ", above the scale";
  if (Side() == DialSide::Below) text += ", below the scale";
  return text;
}

double RoundTickStep(double lower, double upper, int maxTicks) {
  if (!(upper > lower) || maxTicks < 2 || !std::isfinite(upper - lower)) return 0;
  const double unit = std::pow(10.0, std::floor(std::log10((upper - lower) / maxTicks)));
  for (double scale : {1.0, 10.0, 100.0}) {
    for (double nice : {1.0, 2.0, 5.0}) {
      const double step = nice * unit * scale;
      // Count with a little slack so float noise neither adds nor drops an end tick.
      const double first = std::ceil(lower / step - 1e-9), last = std::floor(upper / step + 1e-9);
      if (last - first + 1 <= maxTicks) return step;
    }
  }
  return upper - lower;
}

std::vector<double> RoundTicks(double lower, double upper, int maxTicks) {
  std::vector<double> ticks;
  const double step = RoundTickStep(lower, upper, maxTicks);
  if (!(step > 0)) return ticks;
  const double first = std::ceil(lower / step - 1e-9), last = std::floor(upper / step + 1e-9);
  for (double k = first; k <= last; ++k) {
    const double v = k * step;
    ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
  }
  return ticks;
}

std::string CompareRequestTarget(const std::string& memoryType, const std::string& channels) {
  return std::string(contract::kComparePath) + "?P1=" + text::UrlEncode(StripParentheses(memoryType)) +
         "&&P2=" + text::UrlEncode(channels);
}

std::string CleanCompareReply(const std::string& body) {
  std::string reply = ReplaceAll(UpperAscii(body), "<BR />", "#");
  reply = ReplaceAll(reply, "\xC3\xD0\xBD\xAD\xC1", "");
  reply = ReplaceAll(reply, "\xF2\xF5\xF2\xF5\xF2\xF5", "");
  return reply;
}

std::vector<std::string> ReplyWords(const std::string& reply) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < reply.size()) {
    while (i < reply.size() && reply[i] == '#') ++i;
    const size_t start = i;
    while (i < reply.size() && reply[i] != '#') ++i;
    if (i > start) words.push_back(reply.substr(start, i - start));
  }
  return words;
}

int32_t ReferenceNumber(const std::string& word) {
  const double value = std::round(ReadNumber(NumericText(word)));
  // The server's numbers are small; anything beyond a 32-bit whole number is pinned at its end.
  constexpr double lo = std::numeric_limits<int32_t>::min();
  constexpr double hi = std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(std::clamp(value, lo, hi));
}

double BandEnd(double lower, double upper, double factor) { return lower + (upper - lower) / 3 * factor; }

CompareSetup SetupDials(const std::string& body, const ShareFacts& in) {
  CompareSetup s;
  s.reply = CleanCompareReply(body);
  const std::vector<std::string> words = ReplyWords(s.reply);
  const std::string type = StripParentheses(in.memoryType);
  s.subtitle = CollapseBlanks(Trim("(Using " + type + " " + in.channels + " Channel scale)"));

  s.score.title = "Memory score (GByte/sec.)";
  s.score.unit = "GByte/s";
  s.score.decimals = 2;
  s.score.lower = ReferenceNumber(Word(words, 0));
  s.score.upper = ReferenceNumber(Word(words, 1));
  s.score.value = ReadNumber(Without(Trim(in.scoreCaption), ".,")) / 100;
  s.score.firstBandEnd = BandEnd(s.score.lower, s.score.upper, 0.35);
  s.score.secondBandEnd = BandEnd(s.score.lower, s.score.upper, 1.15);

  s.clock.title = "Memory clock (MHz)";
  s.clock.unit = "MHz";
  s.clock.decimals = 0;
  s.clock.lower = static_cast<double>(ReferenceNumber(Word(words, 2))) - 25;
  s.clock.upper = static_cast<double>(ReferenceNumber(Word(words, 3))) + 10;
  s.clock.value = in.memoryClock;
  s.clock.firstBandEnd = BandEnd(s.clock.lower, s.clock.upper, 0.5);
  s.clock.secondBandEnd = BandEnd(s.clock.lower, s.clock.upper, 1.75);

  s.latency.title = "Latency (ns)";
  s.latency.unit = "ns";
  s.latency.decimals = 1;
  s.latency.lower = ReferenceNumber(Word(words, 4));
  s.latency.upper = ReferenceNumber(Word(words, 5));
  s.latency.firstBandEnd = BandEnd(s.latency.lower, s.latency.upper, 1.19);
  s.latency.secondBandEnd = BandEnd(s.latency.lower, s.latency.upper, 2.39);
  const double tenths = ReadNumber(Without(Trim(NumericText("0" + in.latencyCaption)), ".,"));
  s.latency.visible = tenths != 0;
  s.latency.value = tenths / 10;
  return s;
}

}  // namespace core
