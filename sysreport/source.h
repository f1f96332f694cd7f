// Every fact the tool reports is read through a Root: absolute paths are taken under a prefix
// (QUORVEX_SYSROOT, default "/"), so a test can point the tool at a fixture tree. Reads are
// bounded in size and never block, and the whole run has a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "text/trim.h"

namespace sysreport {

class Root {
 public:
  explicit Root(std::string prefix);
  // The tool looks at the running machine (prefix "/"); probes that do not read files (CPUID,
  // counting cycles) are used only then, since a fixture tree cannot answer them.
  bool Live() const { return live_; }
  const std::string& Prefix() const { return prefix_; }
  std::string Path(const std::string& absolute) const;

  // At most limit bytes of the file; nothing when it is missing or unreadable.
  std::optional<std::string> Read(const std::string& absolute, size_t limit = 64 * 1024) const;
  // The first line of a small attribute file, trimmed; empty when missing.
  std::string Attribute(const std::string& absolute) const;
  // Entry names of a folder, sorted, at most 4096 of them; empty when missing.
  std::vector<std::string> List(const std::string& absolute) const;
  // Where a symbolic link points (as stored); empty when it is not a link.
  std::string LinkTarget(const std::string& absolute) const;
  bool Exists(const std::string& absolute) const;

 private:
  std::string prefix_;
  bool live_;
};

// The run's time budget; probes that could take long ask before they start.
class Deadline {
 public:
  explicit Deadline(std::chrono::milliseconds budget) : end_(std::chrono::steady_clock::now() + budget) {}
  bool Passed() const { return std::chrono::steady_clock::now() >= end_; }

 private:
  std::chrono::steady_clock::time_point end_;
};

// Leading and trailing characters of code 32 or less removed.
using text::Trim;
std::string Lower(std::string text);
std::string Upper(std::string text);
bool StartsWith(const std::string& text, const std::string& prefix);
bool ContainsNoCase(const std::string& text, const std::string& part);
// "0-3,6,8-9" to the listed numbers; bounded to 4096 entries.
std::vector<int> ParseCpuList(const std::string& text);
// A number with exactly one decimal, "." as point whatever the locale.
std::string OneDecimal(double value);

}  // namespace sysreport
