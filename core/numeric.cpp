#include "core/numeric.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "sysinfo/text.h"

namespace core {

std::string NumericText(std::string_view text) {
  std::string s = sysinfo::ReplaceAll(text, ",", ".");
  for (char& c : s) {
    const bool kept = c == '+' || c == '-' || c == '.' || (c >= '0' && c <= '9');
    if (!kept) c = ' ';
  }
  s = sysinfo::ReplaceAll(sysinfo::ReplaceAll(s, "...", "."), "..", ".");
  s = sysinfo::RemoveBlanks(s);
  return s.empty() ? "0" : s;
}

std::string FixedText(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 15) decimals = 15;
  if (!std::isfinite(value)) return "0";
  const double scaled = std::round(value * std::pow(10.0, decimals));
  if (std::fabs(scaled) >= 9e18) {
    // Beyond 64-bit integers: still no locale, just the library's own fixed form.
    char buffer[512];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return r.ec == std::errc() ? std::string(buffer, r.ptr) : "0";
  }
  long long whole = static_cast<long long>(scaled);
  const bool negative = whole < 0;
  unsigned long long magnitude = negative ? 0ULL - static_cast<unsigned long long>(whole) : whole;
  std::string digits = std::to_string(magnitude);
  if (decimals > 0) {
    const size_t places = static_cast<size_t>(decimals);
    if (digits.size() <= places) digits = std::string(places + 1 - digits.size(), '0') + digits;
    digits = digits.substr(0, digits.size() - places) + "." + digits.substr(digits.size() - places);
  }
  return negative ? "-" + digits : digits;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - (c - '0')) / 10)
      return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

std::optional<double> ParseDecimal(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char* begin = text.data();
  if (*begin == '+') ++begin;  // from_chars takes no plus sign
  if (begin == text.data() + text.size() || *begin == '+') return std::nullopt;
  double value = 0;
  const auto r = std::from_chars(begin, text.data() + text.size(), value, std::chars_format::fixed);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace core
