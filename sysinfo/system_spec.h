// The system specification: the hardware report converted to KEY "VALUE" lines, and the
// lookups and derived values every other part reads from it.
#pragma once

#include <string>
#include <vector>

namespace sysinfo {

// One line per report value: KEY, a blank, a double quote, VALUE, a double quote. In report
// order, unsorted, duplicates kept. Empty until a report has been converted.
struct SystemSpec {
  std::vector<std::string> lines;
};

// Sentinels of the lookups: the key is not there / the line held nothing after cleaning.
inline constexpr const char* kAbsent = "*";
inline constexpr const char* kUnknown = "unknown";

// Converts the report's lines (as SplitLines gives them) into system specification lines.
// Fewer than three lines give none.
std::vector<std::string> ConvertReport(const std::vector<std::string>& reportLines);

// Whether the converted lines came from a hardware report: every report has a processors section
// (PI_ keys); any other text file converts to lines without one.
bool IsHardwareReport(const SystemSpec& spec);

// Cleaned value of the first line containing key (letters compared in upper case),
// "*" when none does, "unknown" when nothing is left after cleaning.
std::string SpecValue(const SystemSpec& spec, const std::string& key);
// The same for the n-th matching line (n >= 1); "*" when there are fewer, or n < 1.
std::string SpecValueNth(const SystemSpec& spec, const std::string& key, int n);

// Memory clock in MHz from CHIP_MEMORY_FREQUENCY (twice the figure, as the panels show it);
// 0 when the value is missing or not a number.
double MemoryClock(const SystemSpec& spec);

// 32 upper-case hex digits: MD5 of the blank-free concatenation of the drive, chassis and
// module serials and the first DMI vendor.
std::string MachineIdHash(const SystemSpec& spec);

// MD5 of bytes as 32 upper-case hex digits, digest byte 0 first.
std::string Md5HexUpper(const std::string& bytes);

}  // namespace sysinfo
