// mempeak: the machine's real peak bandwidth and its memory latency under load, on the console.
//   mempeak [options]            the peak table: read, write, copy on one thread and on all
//   mempeak --kernel K [options] one kernel only (what check-peak runs)
//   mempeak --loaded [options]   latency of a chase while the other processors stream
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "peak/loaded.h"
#include "peak/peak.h"
#include "platform/processors.h"

namespace {

std::atomic<bool> g_stop{false};

void OnInterrupt(int) { g_stop = true; }

void Usage(FILE* to) {
  fprintf(to,
          "usage: mempeak [--kernel read|write|copy] [--threads N] [--size BYTES] [--isa sse2|avx2|avx512]\n"
          "               [--repeats N] [--small-pages] [--csv]\n"
          "       mempeak --loaded [--chase BYTES] [--stream BYTES] [--isa ...] [--no-paced] [--budget S] "
          "[--csv]\n"
          "  --kernel   one kernel only, else the table of all three on one thread and on all\n"
          "  --threads  the first N allowed processors (default all; the table runs 1 and all)\n"
          "  --size     bytes of each array of each thread (default 256MiB); kB, MB, GB are powers of\n"
          "             1000, KiB, MiB, GiB powers of 1024\n"
          "  --isa      the vector unit (default the widest this processor and system allow)\n"
          "  --small-pages  do not ask for transparent huge pages for the arrays of --kernel\n"
          "  --loaded   the latency sweep: chase buffer --chase (default 256MiB), each stream's array\n"
          "             --stream (default 128MiB), measuring time --budget seconds (default 30)\n"
          "Bandwidth is in MByte/s of 10^6 bytes per second; a copy counts what it reads and writes.\n");
}

// "256MB", "256MiB", "4096" (bytes).
bool ParseBytes(const char* text, uint64_t* bytes) {
  char* end = nullptr;
  const double number = strtod(text, &end);
  if (end == text || !(number > 0)) return false;
  const std::string unit(end);
  const struct {
    const char* name;
    double scale;
  } units[] = {{"", 1},     {"B", 1},        {"kB", 1e3},        {"KB", 1e3},          {"MB", 1e6},
               {"GB", 1e9}, {"KiB", 1024.0}, {"MiB", 1048576.0}, {"GiB", 1073741824.0}};
  for (const auto& each : units) {
    if (unit == each.name) {
      *bytes = static_cast<uint64_t>(number * each.scale);
      return true;
    }
  }
  return false;
}

bool ParseCount(const char* text, int* value) {
  char* end = nullptr;
  const long parsed = strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 1 || parsed > 1 << 20) return false;
  *value = static_cast<int>(parsed);
  return true;
}

void Progress(int done, int total, const std::string& next) {
  if (next.empty()) return;
  fprintf(stderr, "[%d/%d] %s\n", done + 1, total, next.c_str());
}

void PrintPeak(const std::vector<peak::PeakResult>& results, bool csv) {
  if (csv) {
    fputs(peak::PeakTableCsv(results).c_str(), stdout);
  } else {
    printf("Peak bandwidth in MByte/s (10^6 bytes/s), fastest repeat\n");
    printf("%-14s %-8s %7s %13s %11s\n", "kernel", "isa", "threads", "array bytes", "MByte/s");
  }
  for (const peak::PeakResult& result : results) {
    const char* name = result.kernel ? result.kernel->name : "?";
    const char* isa = result.kernel ? peak::IsaName(result.kernel->isa) : "?";
    if (!result.ok) {
      fprintf(stderr, "mempeak: %s: %s\n", name, result.error.c_str());
      continue;
    }
    if (!csv)
      printf("%-14s %-8s %7d %13llu %11.1f\n", name, isa, result.threads,
             static_cast<unsigned long long>(result.arrayBytes), result.mbytesPerSecond);
  }
}

void PrintLoaded(const peak::LoadedSweep& sweep, bool csv) {
  if (csv) {
    fputs(peak::LoadedSweepCsv(sweep).c_str(), stdout);
    return;
  }
  printf(
      "Latency under load: chase of %llu MiB on the first processor, streams (%s reads) of %llu MiB each\n",
      static_cast<unsigned long long>(sweep.chaseBytes >> 20), peak::IsaName(sweep.isa),
      static_cast<unsigned long long>(sweep.streamBytes >> 20));
  printf("%7s %6s %12s %16s\n", "streams", "pace", "latency ns", "streams MByte/s");
  for (const peak::LoadedPoint& point : sweep.points)
    printf("%7d %6.2f %12.1f %16.1f\n", point.streams, point.pace, point.latencyNs, point.streamMBps);
}

}  // namespace

int main(int argc, char** argv) {
  bool csv = false, loaded = false, one = false, hugePages = true;
  peak::Operation operation = peak::Operation::kRead;
  int threads = 0, repeats = 5;
  uint64_t size = 256ull << 20;
  peak::LoadedOptions loadedOptions;
  bool widest = true;
  peak::Isa isa = peak::Isa::kSse2;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool good = true;
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    } else if (arg == "--csv") {
      csv = true;
    } else if (arg == "--loaded") {
      loaded = true;
    } else if (arg == "--small-pages") {
      hugePages = false;
    } else if (arg == "--no-paced") {
      loadedOptions.paced = false;
    } else if (value == nullptr) {
      good = false;
    } else if (arg == "--kernel") {
      good = peak::ParseOperation(value, &operation);
      one = true;
      ++i;
    } else if (arg == "--threads") {
      good = ParseCount(value, &threads);
      ++i;
    } else if (arg == "--repeats") {
      good = ParseCount(value, &repeats);
      ++i;
    } else if (arg == "--size") {
      good = ParseBytes(value, &size);
      ++i;
    } else if (arg == "--chase") {
      good = ParseBytes(value, &loadedOptions.chaseBytes);
      ++i;
    } else if (arg == "--stream") {
      good = ParseBytes(value, &loadedOptions.streamBytes);
      ++i;
    } else if (arg == "--budget") {
      char* end = nullptr;
      loadedOptions.budgetSeconds = strtod(value, &end);
      good = end != value && *end == '\0' && loadedOptions.budgetSeconds > 0;
      ++i;
    } else if (arg == "--isa") {
      good = peak::ParseIsa(value, &isa);
      widest = false;
      ++i;
    } else {
      good = false;
    }
    if (!good) {
      fprintf(stderr, "mempeak: bad option %s%s%s\n", arg.c_str(), value ? " " : "", value ? value : "");
      Usage(stderr);
      return 2;
    }
  }
  std::signal(SIGINT, OnInterrupt);
  std::vector<int> cpus = platform::AllowedProcessors();
  if (threads > static_cast<int>(cpus.size())) {
    fprintf(stderr, "mempeak: only %zu processors are allowed\n", cpus.size());
    return 2;
  }
  if (threads > 0) cpus.resize(static_cast<size_t>(threads));

  if (loaded) {
    loadedOptions.cpus = cpus;
    loadedOptions.widest = widest;
    loadedOptions.isa = isa;
    const peak::LoadedSweep sweep = peak::MeasureLoadedLatency(loadedOptions, Progress, &g_stop);
    PrintLoaded(sweep, csv);
    if (!sweep.ok || sweep.stopped)
      fprintf(stderr, "mempeak: %s\n", sweep.ok ? "stopped" : sweep.error.c_str());
    return sweep.ok && !sweep.stopped ? 0 : 1;
  }
  std::vector<peak::PeakResult> results;
  if (one) {
    peak::PeakRequest request;
    request.operation = operation;
    request.isa = widest ? peak::WidestIsa(peak::ReadCpuFeatures()) : isa;
    request.cpus = cpus;
    request.arrayBytes = size;
    request.repeats = repeats;
    request.hugePages = hugePages;
    results.push_back(peak::MeasurePeak(request, &g_stop));
  } else {
    peak::PeakTableOptions options;
    options.arrayBytes = size;
    options.widest = widest;
    options.isa = isa;
    options.cpus = cpus;
    options.repeats = repeats;
    results = peak::MeasurePeakTable(options, Progress, &g_stop);
  }
  PrintPeak(results, csv);
  if (g_stop) fprintf(stderr, "mempeak: stopped\n");
  for (const peak::PeakResult& result : results)
    if (!result.ok) return 1;
  return results.empty() || g_stop ? 1 : 0;
}
