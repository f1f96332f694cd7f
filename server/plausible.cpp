#include "server/plausible.h"

#include <algorithm>

#include "server/reference.h"

namespace qvserver {

namespace {

// The program's memory clock figure is the transfer rate (DDR4-3200 shows about 3200 MHz). The
// low ends are half the slowest JEDEC grade, for report tools that give the I/O clock instead;
// the high ends are the fastest overclocked modules sold or run on air, with room above:
// DDR2 400-1066 JEDEC, kits to 1300; DDR3 800-2133, kits to 3100; DDR4 1600-3200, kits to
// 5333; DDR5 3200-8800 (JESD79-5), clock-driver modules past 9600.
struct TypeClocks {
  const char* family;
  ClockRange clocks;
};
constexpr TypeClocks kClocks[] = {
    {"DDR2", {200, 1400}},
    {"DDR3", {400, 3300}},
    {"DDR4", {800, 6000}},
    {"DDR5", {1600, 11000}},
};
constexpr ClockRange kAnyClock = {100, 11000};
// More 64-bit channels than two-socket servers have (2 x 12) is not a desktop benchmark.
constexpr int kMaxChannels = 24;

std::string Mbs(double v) { return std::to_string(static_cast<long long>(v)) + " MByte/s"; }

}  // namespace

ClockRange ClockRangeFor(const std::string& type) {
  const std::string family = MemoryFamily(type);
  for (const TypeClocks& t : kClocks)
    if (family == t.family) return t.clocks;
  return kAnyClock;
}

bool CheckPlausible(const UploadedRecord& r, std::string* why) {
  auto fail = [&](std::string line) {
    if (why) *why = std::move(line);
    return false;
  };
  const std::string family = MemoryFamily(r.memory.type);
  const std::string kind = family.empty() ? std::string("this memory") : family;
  const ClockRange clocks = ClockRangeFor(r.memory.type);
  if (r.memory.clockMHz > 0 && (r.memory.clockMHz < clocks.low || r.memory.clockMHz > clocks.high))
    return fail("memory clock " + std::to_string(r.memory.clockMHz) + " MHz is outside " +
                std::to_string(clocks.low) + " to " + std::to_string(clocks.high) + " MHz for " + kind);

  const auto counted = ChannelCount(r.memory.channels);
  if (counted && *counted > kMaxChannels)
    return fail("more than " + std::to_string(kMaxChannels) + " memory channels");
  // An unreadable channel text is given the benefit of the doubt: the most channels there are.
  const int channels = counted.value_or(kMaxChannels);
  const int clock = r.memory.clockMHz > 0 ? r.memory.clockMHz : clocks.high;

  // Theoretical peak: transfers per second x 8 bytes per 64-bit channel x channels, in MByte/s.
  // One thread streaming with the program's kernels reaches about half of it at best, and the
  // shown figures carry the program's own scaling of a few per cent. Twice the peak still
  // passes a clock read as the I/O clock (half the transfer rate) and a last-level cache large
  // enough to hold the smallest sampled blocks; a made-up figure is usually far beyond it.
  const double peak = static_cast<double>(clock) * 8.0 * channels;
  const double bound = peak * kPeakMargin;
  const std::pair<const char*, long long> figures[] = {
      {"READ", r.read}, {"WRITE", r.write}, {"COPY", r.copy}};
  for (const auto& [name, value] : figures) {
    if (value < kMinBandwidth) return fail(std::string(name) + " is below " + Mbs(kMinBandwidth));
    if (static_cast<double>(value) > bound)
      return fail(std::string(name) + " " + Mbs(static_cast<double>(value)) + " is above twice the peak of " +
                  kind + " at " + std::to_string(clock) + " MHz on " + std::to_string(channels) + " channel" +
                  (channels == 1 ? "" : "s") + " (" + Mbs(peak) + ")");
  }

  // No DRAM access completes faster than a row activation plus a column access (about 8 ns each
  // at the best bins) plus the way through the caches and the controller; past half a
  // microsecond a result measures paging or a stalled machine, not memory.
  if (r.latencyNs && (*r.latencyNs < kMinLatencyNs || *r.latencyNs > kMaxLatencyNs))
    return fail("LATENCY is outside " + std::to_string(static_cast<int>(kMinLatencyNs)) + " to " +
                std::to_string(static_cast<int>(kMaxLatencyNs)) + " ns");
  return true;
}

}  // namespace qvserver
