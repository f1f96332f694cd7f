// The record file the program posts after its picture: a header line of the 22 quoted field
// names and one data line of 22 quoted values, each line ended by CR LF.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "text/server_contract.h"
#include "text/trim.h"

namespace qvserver {

inline constexpr size_t kRecordFields = contract::kRecordFieldCount;
inline constexpr size_t kMaxRecordBytes = 16 * 1024;

// Field names in file order; the header line must list exactly these.
using contract::kRecordFieldNames;

// What the memory panel text ("16 GB - DDR4 - 3201 MHz - Dual Channel") says about the memory.
struct MemoryFacts {
  std::string type;      // "DDR4"; empty when the panel cannot be read
  std::string channels;  // "Dual", "2 x 64-bit"; empty when the panel cannot be read
  int clockMHz = 0;      // the program's memory clock figure; 0 when absent
};

// One record that passed every check. Texts are valid UTF-8 (see ToUtf8).
struct UploadedRecord {
  std::array<std::string, kRecordFields> fields;  // as read, in file order
  long long read = 0, write = 0, copy = 0;        // MByte/s
  std::optional<double> latencyNs;                // empty when the latency test did not run
  double score = 0;                               // GByte/s
  long long cpuClockMHz = 0;
  long long cpuCores = 0;
  std::string idHash;  // upper case
  MemoryFacts memory;

  const std::string& field(size_t index) const { return fields[index]; }
  const std::string& date() const { return fields[0]; }
  const std::string& time() const { return fields[1]; }
  const std::string& benImage() const { return fields[19]; }
};

// Index of a field by its name, as in the header.
enum RecordField : size_t {
  kDate = 0,
  kTime,
  kOs,
  kCpu,
  kMemory,
  kTimings,
  kMainboard,
  kRam1,
  kRam2,
  kRam3,
  kRam4,
  kRead,
  kWrite,
  kCopy,
  kLatency,
  kResult,
  kCpuClk,
  kIdHash,
  kCountry,
  kBenImage,
  kVersion,
  kCpuCore
};

// Parses and checks a record file. On failure returns nothing and sets error to one line that
// says what is wrong (it goes back to the client as it stands).
std::optional<UploadedRecord> ParseRecordFile(std::string_view bytes, std::string* error);

MemoryFacts ParseMemoryPanel(std::string_view panel);

// The 8-bit text as UTF-8: kept when it already is valid UTF-8, otherwise read as Windows-1252,
// the 8-bit code page a client's panel texts may be in.
std::string ToUtf8(std::string_view text);

// The text without Unicode format characters (zero-width, direction overrides); valid UTF-8 in.
std::string StripFormatCharacters(std::string_view text);

// The key a kind is matched by: format characters gone, look-alikes folded to the ASCII they
// imitate, trimmed, runs of blanks made one, a-z upper case.
std::string MatchKey(std::string_view text);

}  // namespace qvserver
