#include "sysinfo/text.h"

#include <charconv>

namespace sysinfo {

std::string ReplaceAll(std::string_view text, std::string_view search, std::string_view replacement) {
  if (search.empty()) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t from = 0;
  for (size_t at = text.find(search); at != std::string_view::npos; at = text.find(search, from)) {
    out.append(text.substr(from, at - from));
    out.append(replacement);
    from = at + search.size();
  }
  out.append(text.substr(from));
  return out;
}

std::string StripParentheses(std::string_view text) {
  std::string s(text);
  for (size_t open = s.find('('); open != std::string::npos; open = s.find('(')) {
    const size_t close = s.find(')', open + 1);
    // An unclosed group would never end the loop; it runs to the end of the text instead.
    const size_t resume = close == std::string::npos ? s.size() : close + 1;
    s = s.substr(0, open) + " " + s.substr(resume);
  }
  s = ReplaceAll(s, "  ", " ");
  if (Trim(s).empty()) return "unknown";
  return s;
}

std::string CollapseBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out.push_back(c);
  }
  return out;
}

std::string RemoveBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text)
    if (c != ' ') out.push_back(c);
  return out;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::vector<std::string> SplitLines(std::string_view bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r' && bytes[i] != '\n') continue;
    lines.emplace_back(bytes.substr(start, i - start));
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

std::string ShortestNumberText(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (result.ec != std::errc()) return "0";
  return std::string(buffer, result.ptr);
}

}  // namespace sysinfo
