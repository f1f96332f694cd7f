// Serial presence detect images of DDR3, DDR4 and DDR5 modules, decoded by the JEDEC layouts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sysreport/jedec.h"

namespace sysreport {

// An overclocking profile the module carries beside its JEDEC data (XMP 2.0 on DDR4, XMP 3.0 and
// EXPO on DDR5): the speed and the times the board programs when the user enables it.
struct SpdProfile {
  std::string name;                                                 // "XMP 2.0 profile 1", "EXPO profile 2"
  int rate = 0;                                                     // MT/s
  int64_t tCK = 0, tAA = 0, tRCD = 0, tRP = 0, tRAS = 0, tRFC = 0;  // picoseconds
  uint64_t casMask = 0;  // as SpdFacts; 0 when the profile lists none
  int casBase = 0, casStep = 1;
};

struct SpdFacts {
  std::string type;    // "DDR3", "DDR4", "DDR5"
  std::string format;  // "UDIMM", "SO-DIMM", "RDIMM", ...
  uint64_t sizeMBytes = 0;
  int ranks = 0;
  int maxRate = 0;         // MT/s at the shortest cycle time the module lists
  uint16_t makerCode = 0;  // JEDEC bank byte (parity included) << 8 | code
  std::string part;        // trimmed ASCII
  std::string serial;      // 8 hexadecimal digits
  std::string madeWeek;    // "week 12 / 2021" when given
  // Minimum times in picoseconds and the CAS latencies the module supports.
  int64_t tCKmin = 0, tAAmin = 0, tRCDmin = 0, tRPmin = 0, tRASmin = 0, tRFCmin = 0;
  uint64_t casMask = 0;  // bit n set: CL casBase + n * casStep supported
  int casBase = 0, casStep = 1;
  std::vector<SpdProfile> profiles;  // in the order the image stores them
};

// Nothing for an image that is too short, of another kind, or whose checksum does not match.
std::optional<SpdFacts> DecodeSpd(const std::string& image);

struct SpdTimings {
  int cl = 0, rcd = 0, rp = 0, ras = 0, rfc = 0;
};
// The module's minimum times in clocks at a transfer rate, rounded up as the JEDEC rounding
// rule does (2.5 % guard band); CL lifted to the next latency the module supports.
std::optional<SpdTimings> TimingsAt(const SpdFacts& spd, int rateMTs);

// The timings the board runs at a configured transfer rate: the first profile whose speed is the
// configured one, else the JEDEC timings when the module's JEDEC grade covers that speed, else none.
// source names what was used ("XMP 2.0 profile 1", "JEDEC").
std::optional<SpdTimings> TimingsAsRun(const SpdFacts& spd, int rateMTs, std::string* source);

// Two transfer rates name the same speed grade (within half a percent: 6000 and 6006).
bool SameRate(int a, int b);

// The JEDEC CRC-16 the SPD checksums use (polynomial 0x1021, start 0).
uint16_t SpdCrc16(const std::string& bytes, size_t begin, size_t end);

// Standard transfer rate nearest a cycle time in picoseconds ("3200" for 625 ps).
int RateForCycle(int64_t tCKps);

}  // namespace sysreport
