#include "sysreport/spd.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "sysreport/source.h"

namespace sysreport {

namespace {

uint8_t B(const std::string& s, size_t o) { return o < s.size() ? static_cast<uint8_t>(s[o]) : 0; }
int8_t Fine(const std::string& s, size_t o) { return static_cast<int8_t>(B(s, o)); }
uint16_t W(const std::string& s, size_t o) { return static_cast<uint16_t>(B(s, o) | (B(s, o + 1) << 8)); }

std::string Ascii(const std::string& s, size_t from, size_t count) {
  std::string out;
  for (size_t i = from; i < from + count && i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    out += (c >= 32 && c < 127) ? static_cast<char>(c) : ' ';
  }
  return Trim(out);
}

std::string Hex(const std::string& s, size_t from, size_t count) {
  std::string out;
  char buf[3];
  for (size_t i = from; i < from + count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", B(s, i));
    out += buf;
  }
  return out;
}

int Bcd(uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); }

std::string MadeWeek(const std::string& s, size_t o) {
  const uint8_t year = B(s, o), week = B(s, o + 1);
  if (year == 0 || week == 0 || year == 0xFF || week == 0xFF) return {};
  return "week " + std::to_string(Bcd(week)) + " of " + std::to_string(2000 + Bcd(year));
}

// The module type nibble of byte 3. The first four codes mean the same in every generation; the
// rest differ: DDR3 and DDR4 have the mini forms at 5 and 6, DDR5 has soldered memory at 0x0B.
std::string ModuleFormat(uint8_t code, bool ddr5) {
  static constexpr const char* kCommon[] = {"", "RDIMM", "UDIMM", "SO-DIMM", "LRDIMM"};
  const int nibble = code & 0x0F;
  if (nibble < 5) return kCommon[nibble];
  if (!ddr5 && nibble == 0x05) return "Mini-RDIMM";
  if (!ddr5 && nibble == 0x06) return "Mini-UDIMM";
  if (ddr5 && nibble == 0x0B) return "Solder down";
  return {};
}

uint64_t CasBits(const std::string& s, size_t from, size_t count) {
  uint64_t mask = 0;
  for (size_t i = 0; i < count; ++i) mask |= static_cast<uint64_t>(B(s, from + i)) << (8 * i);
  return mask;
}

// Intel XMP 2.0 on DDR4: magic 0x0C 0x4A at 384, enable bits at 386, two profiles of 47 bytes at
// 393 and 440 whose times are medium time base (125 ps) counts with fine corrections.
void Xmp2Profiles(const std::string& s, SpdFacts* f) {
  if (B(s, 384) != 0x0C || B(s, 385) != 0x4A) return;
  for (int p = 0; p < 2; ++p) {
    if (!((B(s, 386) >> p) & 1)) continue;
    const size_t o = p == 0 ? 393 : 440;
    SpdProfile x;
    x.name = "XMP 2.0 profile " + std::to_string(p + 1);
    x.tCK = int64_t{B(s, o + 3)} * 125 + Fine(s, o + 38);
    x.tAA = int64_t{B(s, o + 8)} * 125 + Fine(s, o + 37);
    x.tRCD = int64_t{B(s, o + 9)} * 125 + Fine(s, o + 36);
    x.tRP = int64_t{B(s, o + 10)} * 125 + Fine(s, o + 35);
    x.tRAS = (int64_t{B(s, o + 11) & 0x0F} << 8 | B(s, o + 12)) * 125;
    x.tRFC = int64_t{W(s, o + 14)} * 125;
    const uint64_t cas = CasBits(s, o + 4, 4);
    x.casMask = cas & 0x3FFFFFFF;
    x.casBase = (cas >> 31) & 1 ? 23 : 7;
    x.rate = RateForCycle(x.tCK);
    if (x.tCK > 0 && x.tAA > 0 && x.rate > 0) f->profiles.push_back(x);
  }
}

// Intel XMP 3.0 on DDR5: magic 0x0C 0x4A at 640, enable bits at 643, three profiles of 64 bytes
// from 704; times in picoseconds, tRFC1 in nanoseconds, as the JEDEC part of the image.
void Xmp3Profiles(const std::string& s, SpdFacts* f) {
  if (B(s, 640) != 0x0C || B(s, 641) != 0x4A) return;
  for (int p = 0; p < 3; ++p) {
    if (!((B(s, 643) >> p) & 1)) continue;
    const size_t o = 704 + 64 * static_cast<size_t>(p);
    SpdProfile x;
    x.name = "XMP 3.0 profile " + std::to_string(p + 1);
    x.tCK = W(s, o + 5);
    x.casMask = CasBits(s, o + 7, 5);
    x.casBase = 20;
    x.casStep = 2;
    x.tAA = W(s, o + 13);
    x.tRCD = W(s, o + 15);
    x.tRP = W(s, o + 17);
    x.tRAS = W(s, o + 19);
    x.tRFC = int64_t{W(s, o + 25)} * 1000;
    x.rate = RateForCycle(x.tCK);
    if (x.tCK > 0 && x.tAA > 0 && x.rate > 0) f->profiles.push_back(x);
  }
}

// AMD EXPO on DDR5: "EXPO" at 832, two profiles of 40 bytes from 842 (three voltages and a
// reserved byte, then tCK, tAA, tRCD, tRP, tRAS, tRC, tWR in picoseconds and tRFC1 in nanoseconds).
// A profile counts when its times are filled in.
void ExpoProfiles(const std::string& s, SpdFacts* f) {
  if (s.size() < 896 || s.compare(832, 4, "EXPO") != 0) return;
  for (int p = 0; p < 2; ++p) {
    const size_t o = 842 + 40 * static_cast<size_t>(p);
    SpdProfile x;
    x.name = "EXPO profile " + std::to_string(p + 1);
    x.tCK = W(s, o + 4);
    x.tAA = W(s, o + 6);
    x.tRCD = W(s, o + 8);
    x.tRP = W(s, o + 10);
    x.tRAS = W(s, o + 12);
    x.tRFC = int64_t{W(s, o + 18)} * 1000;
    x.casBase = 20;
    x.casStep = 2;
    x.rate = RateForCycle(x.tCK);
    if (x.tCK > 0 && x.tAA > 0 && x.rate > 0) f->profiles.push_back(x);
  }
}

std::optional<SpdFacts> Ddr4(const std::string& s) {
  if (s.size() < 384 || SpdCrc16(s, 0, 126) != W(s, 126)) return std::nullopt;
  SpdFacts f;
  f.type = "DDR4";
  f.format = ModuleFormat(B(s, 3), false);
  const uint8_t density = B(s, 4) & 0x0F;
  static const int kMbits[] = {256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 12288, 24576};
  const uint64_t dieMbits = density < 10 ? kMbits[density] : 0;
  const int width = 4 << (B(s, 12) & 0x07);
  const int bus = 8 << (B(s, 13) & 0x07);
  f.ranks = ((B(s, 12) >> 3) & 0x07) + 1;
  const bool stacked = (B(s, 6) & 0x03) == 0x02;  // 3DS: every die is a logical rank
  const int dies = ((B(s, 6) >> 4) & 0x07) + 1;
  const uint64_t logicalRanks = static_cast<uint64_t>(f.ranks) * (stacked ? dies : 1);
  if ((B(s, 12) & 0x07) <= 3 && (B(s, 13) & 0x07) <= 3 && dieMbits)
    f.sizeMBytes = dieMbits / 8 * bus / width * logicalRanks;
  // Medium time base 125 ps, fine time base 1 ps (signed corrections).
  auto t = [&](int64_t mtb, size_t fineAt) { return mtb * 125 + Fine(s, fineAt); };
  f.tCKmin = t(B(s, 18), 125);
  f.tAAmin = t(B(s, 24), 123);
  f.tRCDmin = t(B(s, 25), 122);
  f.tRPmin = t(B(s, 26), 121);
  f.tRASmin = (static_cast<int64_t>(B(s, 27) & 0x0F) << 8 | B(s, 28)) * 125;
  f.tRFCmin = static_cast<int64_t>(W(s, 30)) * 125;
  const uint64_t cas = CasBits(s, 20, 4);
  f.casMask = cas & 0x3FFFFFFF;
  f.casBase = (cas >> 31) & 1 ? 23 : 7;
  f.casStep = 1;
  f.maxRate = RateForCycle(f.tCKmin);
  f.makerCode = static_cast<uint16_t>(B(s, 320) << 8 | B(s, 321));
  f.madeWeek = MadeWeek(s, 323);
  f.serial = Hex(s, 325, 4);
  f.part = Ascii(s, 329, 20);
  Xmp2Profiles(s, &f);
  return f;
}

std::optional<SpdFacts> Ddr5(const std::string& s) {
  if (s.size() < 640 || SpdCrc16(s, 0, 510) != W(s, 510)) return std::nullopt;
  SpdFacts f;
  f.type = "DDR5";
  f.format = ModuleFormat(B(s, 3), true);
  static const int kGbits[] = {0, 4, 8, 12, 16, 24, 32, 48, 64};
  const uint8_t density = B(s, 4) & 0x1F;
  const uint64_t dieGbits = density < 9 ? kGbits[density] : 0;
  static const int kDies[] = {1, 0, 2, 4, 8, 16, 0, 0};
  const int dies = kDies[(B(s, 4) >> 5) & 0x07];
  const int width = 4 << ((B(s, 6) >> 5) & 0x07);
  f.ranks = ((B(s, 234) >> 3) & 0x07) + 1;
  const int busPerChannel = 8 << (B(s, 235) & 0x07);
  const int subChannels = ((B(s, 235) >> 5) & 0x03) + 1;
  if (dieGbits && dies && ((B(s, 6) >> 5) & 0x07) <= 3 && (B(s, 235) & 0x07) <= 3)
    f.sizeMBytes =
        static_cast<uint64_t>(subChannels) * (busPerChannel / width) * dies * dieGbits * 1024 / 8 * f.ranks;
  f.tCKmin = W(s, 20);
  f.tAAmin = W(s, 30);
  f.tRCDmin = W(s, 32);
  f.tRPmin = W(s, 34);
  f.tRASmin = W(s, 36);
  f.tRFCmin = static_cast<int64_t>(W(s, 42)) * 1000;  // given in nanoseconds
  f.casMask = CasBits(s, 24, 5);
  f.casBase = 20;
  f.casStep = 2;
  f.maxRate = RateForCycle(f.tCKmin);
  f.makerCode = static_cast<uint16_t>(B(s, 512) << 8 | B(s, 513));
  f.madeWeek = MadeWeek(s, 515);
  f.serial = Hex(s, 517, 4);
  f.part = Ascii(s, 521, 30);
  Xmp3Profiles(s, &f);
  ExpoProfiles(s, &f);
  return f;
}

std::optional<SpdFacts> Ddr3(const std::string& s) {
  if (s.size() < 176) return std::nullopt;
  const size_t crcEnd = (B(s, 0) & 0x80) ? 117 : 126;
  if (SpdCrc16(s, 0, crcEnd) != W(s, 126)) return std::nullopt;
  SpdFacts f;
  f.type = "DDR3";
  f.format = ModuleFormat(B(s, 3), false);
  const uint8_t density = B(s, 4) & 0x0F;
  const uint64_t dieMbits = density <= 6 ? (256ull << density) : 0;
  const int width = 4 << (B(s, 7) & 0x07);
  f.ranks = ((B(s, 7) >> 3) & 0x07) + 1;
  const int bus = 8 << (B(s, 8) & 0x07);
  if (dieMbits && (B(s, 7) & 0x07) <= 3 && (B(s, 8) & 0x07) <= 3)
    f.sizeMBytes = dieMbits / 8 * bus / width * f.ranks;
  // Medium time base from its dividend and divisor (normally 1/8 ns).
  const int64_t mtbPs = B(s, 11) ? 1000 * B(s, 10) / B(s, 11) : 125;
  auto t = [&](int64_t mtb, size_t fineAt) { return mtb * mtbPs + Fine(s, fineAt); };
  f.tCKmin = t(B(s, 12), 34);
  f.tAAmin = t(B(s, 16), 35);
  f.tRCDmin = t(B(s, 18), 36);
  f.tRPmin = t(B(s, 20), 37);
  f.tRASmin = (static_cast<int64_t>(B(s, 21) & 0x0F) << 8 | B(s, 22)) * mtbPs;
  f.tRFCmin = static_cast<int64_t>(W(s, 24)) * mtbPs;
  f.casMask = CasBits(s, 14, 2) & 0x7FFF;
  f.casBase = 4;
  f.casStep = 1;
  f.maxRate = RateForCycle(f.tCKmin);
  f.makerCode = static_cast<uint16_t>(B(s, 117) << 8 | B(s, 118));
  f.madeWeek = MadeWeek(s, 120);
  f.serial = Hex(s, 122, 4);
  f.part = Ascii(s, 128, 18);
  return f;
}

// One clock count the way the JEDEC rounding rule gives it: truncate(t / tCK + 0.974), with tCK
// taken from the transfer rate itself (a 6000 MT/s clock is 333.3 ps; 333 would turn CL30 into 31).
int Clocks(int64_t tPs, int rateMTs) {
  if (tPs <= 0 || rateMTs <= 0 || tPs > (int64_t{1} << 40)) return 0;
  return static_cast<int>((tPs * rateMTs / 2000 + 974) / 1000);
}

}  // namespace

uint16_t SpdCrc16(const std::string& bytes, size_t begin, size_t end) {
  uint16_t crc = 0;
  for (size_t i = begin; i < end && i < bytes.size(); ++i) {
    crc ^= static_cast<uint16_t>(static_cast<uint8_t>(bytes[i]) << 8);
    for (int b = 0; b < 8; ++b)
      crc = (crc & 0x8000) ? static_cast<uint16_t>(crc << 1 ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

int RateForCycle(int64_t tCKps) {
  if (tCKps <= 0) return 0;
  const double rate = 2000000.0 / static_cast<double>(tCKps);
  static const int kRates[] = {800,  1066, 1333, 1600, 1866, 2133, 2400, 2666, 2933, 3200, 3466, 3600, 4000,
                               4266, 4400, 4800, 5200, 5600, 6000, 6400, 6800, 7200, 7600, 8000, 8400, 8800};
  for (int r : kRates)
    if (std::abs(rate - r) <= r * 0.005) return r;
  return static_cast<int>(rate + 0.5);
}

std::optional<SpdFacts> DecodeSpd(const std::string& image) {
  switch (B(image, 2)) {
    case 0x0B:
      return Ddr3(image);
    case 0x0C:
      return Ddr4(image);
    case 0x12:
      return Ddr5(image);
    default:
      return std::nullopt;
  }
}

namespace {

std::optional<SpdTimings> ClocksAt(int rate, int64_t tAA, int64_t tRCD, int64_t tRP, int64_t tRAS,
                                   int64_t tRFC, uint64_t casMask, int casBase, int casStep) {
  SpdTimings t;
  t.cl = Clocks(tAA, rate);
  for (int bit = 0; bit < 64 && casMask; ++bit) {
    const int cl = casBase + bit * casStep;
    if (((casMask >> bit) & 1) && cl >= t.cl) {
      t.cl = cl;
      break;
    }
  }
  t.rcd = Clocks(tRCD, rate);
  t.rp = Clocks(tRP, rate);
  t.ras = Clocks(tRAS, rate);
  t.rfc = Clocks(tRFC, rate);
  if (t.cl <= 0 || t.rcd <= 0 || t.rp <= 0) return std::nullopt;
  return t;
}

}  // namespace

std::optional<SpdTimings> TimingsAt(const SpdFacts& spd, int rateMTs) {
  if (rateMTs <= 0 || spd.tCKmin <= 0) return std::nullopt;
  const int64_t tCK = 2000000 / rateMTs;
  // Faster than the module's own fastest listed speed: its minimum times do not describe how the
  // board drives it (an overclocking profile does), so no timings are given.
  if (tCK + 1 < spd.tCKmin) return std::nullopt;
  return ClocksAt(rateMTs, spd.tAAmin, spd.tRCDmin, spd.tRPmin, spd.tRASmin, spd.tRFCmin, spd.casMask,
                  spd.casBase, spd.casStep);
}

bool SameRate(int a, int b) {
  if (a <= 0 || b <= 0) return false;
  return std::abs(a - b) * 200 <= std::max(a, b);
}

std::optional<SpdTimings> TimingsAsRun(const SpdFacts& spd, int rateMTs, std::string* source) {
  if (rateMTs <= 0) return std::nullopt;
  for (const SpdProfile& p : spd.profiles) {
    if (!SameRate(p.rate, rateMTs)) continue;
    std::optional<SpdTimings> t =
        ClocksAt(rateMTs, p.tAA, p.tRCD, p.tRP, p.tRAS, p.tRFC, p.casMask, p.casBase, p.casStep);
    if (t && source) *source = p.name;
    return t;
  }
  std::optional<SpdTimings> t = TimingsAt(spd, rateMTs);
  if (t && source) *source = "JEDEC";
  return t;
}

}  // namespace sysreport
