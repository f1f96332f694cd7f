// Prints what the host measures on this machine with the run's own arguments, and what one
// module call costs the host itself (write, load, unload, delete) next to a real measurement.
// Not a test: run it by hand on a quiet machine, e.g. build-core/tests/core/core_host_figures.
#include <cstdio>
#include <string>

#include "core/host.h"
#include "platform/clock.h"

using namespace core;

namespace {

double Seconds(int64_t from, int64_t to) { return static_cast<double>(to - from) / 1e9; }

double TimeCall(const std::string& arguments, const char* prefix, SampleList& samples) {
  int64_t start = 0, end = 0;
  platform::PerformanceCounter(&start);
  std::string error;
  if (!RunBandwidthTest(arguments, prefix, samples, {}, &error)) std::fprintf(stderr, "%s\n", error.c_str());
  platform::PerformanceCounter(&end);
  return Seconds(start, end);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cache = argc > 1 ? argv[1] : "32 MBytes";
  SampleList samples;
  // A call the module refuses at once (invalid pass size): only the host's own work remains.
  const int overheadCalls = 20;
  double overhead = 0;
  for (int i = 0; i < overheadCalls; ++i) overhead += TimeCall("-g3", kReadPrefix, samples);
  overhead /= overheadCalls;

  struct Test {
    const char* prefix;
    std::string arguments;
  } tests[] = {
      {kReadPrefix, "-b11 -g4 -m64"}, {kWritePrefix, "-b10 -g4 -m64"}, {kCopyPrefix, "-b12 -g4 -m64"}};
  double measured = 0;
  int calls = 0;
  for (const Test& t : tests) {
    samples.clear();
    measured += TimeCall(t.arguments, t.prefix, samples);
    ++calls;
    std::printf("%-6s %-16s samples %zu  average %s MByte/s\n", t.prefix, t.arguments.c_str(), samples.size(),
                AverageSamples(samples, t.prefix).c_str());
  }
  samples.clear();
  const sysinfo::SystemSpec spec{{"PI_L3_CACHE: \"" + cache + "\""}};
  for (int i = 0; i < 4; ++i) samples.push_back(kLatencyPrefix + MeasureLatencyOnce(spec, {}, nullptr));
  std::printf("LAT-   cache %-10s average %s ns\n", cache.c_str(),
              AverageSamples(samples, kLatencyPrefix).c_str());
  std::printf("host work per call %.3f ms, measuring call %.3f s, ratio %.6f\n", overhead * 1000,
              measured / calls, overhead / (measured / calls));
  return 0;
}
