#include "sysreport/source.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

namespace sysreport {

Root::Root(std::string prefix) : prefix_(std::move(prefix)) {
  while (prefix_.size() > 1 && prefix_.back() == '/') prefix_.pop_back();
  if (prefix_.empty()) prefix_ = "/";
  live_ = prefix_ == "/";
}

std::string Root::Path(const std::string& absolute) const { return live_ ? absolute : prefix_ + absolute; }

std::optional<std::string> Root::Read(const std::string& absolute, size_t limit) const {
  // O_NONBLOCK: a fifo or a device node in a strange tree must not hold the run up.
  const int fd = ::open(Path(absolute).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  bool failed = false;
  while (bytes.size() < limit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - bytes.size()));
    if (n < 0) {
      failed = bytes.empty();
      break;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (failed) return std::nullopt;
  return bytes;
}

std::string Root::Attribute(const std::string& absolute) const {
  const std::optional<std::string> bytes = Read(absolute, 4096);
  if (!bytes) return {};
  const size_t end = bytes->find('\n');
  return Trim(end == std::string::npos ? *bytes : bytes->substr(0, end));
}

std::vector<std::string> Root::List(const std::string& absolute) const {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(Path(absolute), ec), end;
  for (; !ec && it != end && names.size() < 4096; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Root::LinkTarget(const std::string& absolute) const {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::read_symlink(Path(absolute), ec);
  return ec ? std::string() : target.string();
}

bool Root::Exists(const std::string& absolute) const {
  std::error_code ec;
  return std::filesystem::exists(Path(absolute), ec);
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
  return Upper(text).find(Upper(part)) != std::string::npos;
}

std::vector<int> ParseCpuList(const std::string& text) {
  std::vector<int> out;
  size_t pos = 0;
  const std::string t = Trim(text);
  while (pos < t.size() && out.size() < 4096) {
    size_t comma = t.find(',', pos);
    if (comma == std::string::npos) comma = t.size();
    const std::string part = t.substr(pos, comma - pos);
    pos = comma + 1;
    const size_t dash = part.find('-');
    try {
      const int a = std::stoi(part.substr(0, dash));
      const int b = dash == std::string::npos ? a : std::stoi(part.substr(dash + 1));
      for (int i = a; i <= b && out.size() < 4096; ++i) out.push_back(i);
    } catch (...) {
      // not a number: skip the part
    }
  }
  return out;
}

std::string OneDecimal(double value) {
  if (!std::isfinite(value)) return "0.0";
  const long long tenths = std::llround(value * 10.0);
  const long long whole = tenths / 10;
  const long long frac = std::llabs(tenths % 10);
  std::string s = (tenths < 0 && whole == 0 ? "-" : "") + std::to_string(whole) + "." + std::to_string(frac);
  return s;
}

}  // namespace sysreport
