// quorvex-cli curve: the cache-and-memory curve in the terminal, written to CSV, SVG and PNG on
// request, and the all-core figures with --all-cores.
#include "core/curve.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/drawing.h"
#include "core/allcore.h"
#include "core/curve_sequence.h"
#include "core/host.h"
#include "core/numeric.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/processors.h"
#include "sysinfo/runner.h"

namespace cli {
namespace {

std::string Cell(double value, int decimals) { return value < 0 ? "-" : core::FixedText(value, decimals); }

// The machine's facts from the carried report tool, and the cache levels they name.
sysinfo::SystemSpec ReadSpecAndPrintCaches(bool print) {
  std::fprintf(stderr, "Reading the system information...\n");
  std::string error;
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::RunReportTool(&error));
  if (!error.empty()) std::fprintf(stderr, "quorvex-cli: %s\n", error.c_str());
  for (const core::CacheMark& mark : core::CacheMarks(spec))
    if (print) std::printf("%s cache  %s\n", mark.label.c_str(), core::BlockSizeText(mark.kbytes).c_str());
  return spec;
}

// On a terminal, the progress of the sequence on one line of standard error.
void DrawProgress(const core::CurveState& state, core::CurveState::Part part) {
  if (part != core::CurveState::Part::Status || !state.Running()) return;
  const std::string& status = state.Status();
  if (status.rfind("All cores: ", 0) == 0 || status.rfind("Peak: ", 0) == 0 ||
      status.rfind("Under load: ", 0) == 0) {
    std::fprintf(stderr, "\r\033[K  %s", status.c_str());
  } else if (status.rfind("Measuring", 0) != 0) {
    const int width = 30, filled = state.ProgressDone() * width / state.ProgressMax();
    std::fprintf(stderr, "\r\033[K[%s%s] %d/%d  %s", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), state.ProgressDone(), state.ProgressMax(),
                 status.c_str());
  }
  std::fflush(stderr);
}

// The points: measured through the sequence, or read from a file saved with --csv.
bool MeasureOrLoad(const CurveOptions& o, core::CurveSequence& sequence, const core::CurveState& state,
                   core::Curve* curve) {
  if (!o.fromPath.empty()) {
    std::string text, error;
    if (!platform::ReadWholeFile(o.fromPath, &text, &error) || !core::ParseCurveCsv(text, curve)) {
      std::fprintf(stderr, "quorvex-cli curve: %s is not a curve saved by --csv\n", o.fromPath.c_str());
      return false;
    }
    return true;
  }
  int64_t started = 0, ended = 0;
  platform::PerformanceCounter(&started);
  sequence.Prepare();
  const bool measured = sequence.MeasurePoints();
  platform::PerformanceCounter(&ended);
  if (::isatty(2) == 1) std::fprintf(stderr, "\r\033[K");
  if (!measured) {
    std::fprintf(stderr, "quorvex-cli curve: %s\n", sequence.Error().c_str());
    return false;
  }
  *curve = state.Points();
  std::fprintf(stderr, "Curve measured in %.1f s (-g%u).\n", static_cast<double>(ended - started) / 1e9,
               sequence.Plan().passGb);
  return true;
}

// The reported cache levels beside the ones the curve shows.
void PrintCaches(const sysinfo::SystemSpec& spec, const core::CurveState& state) {
  for (const std::string& line : core::CacheComparisonLines(core::CacheMarks(spec), state.Caches()))
    std::printf("%s\n", line.c_str());
}

// One operation's peak on one thread and on all, MByte/s of 10^6 bytes; -1 where it was not measured.
struct PeakRow {
  double one = -1, all = -1;
  int threads = 0;  // of the all-thread figure
};
PeakRow PeakRowOf(const std::vector<peak::PeakResult>& results, peak::Operation op) {
  PeakRow row;
  for (const peak::PeakResult& r : results) {
    if (!r.ok || r.kernel == nullptr || r.kernel->operation != op) continue;
    if (r.threads == 1 && row.one < 0) {
      row.one = r.mbytesPerSecond;
    } else {
      row.all = r.mbytesPerSecond;
      row.threads = r.threads;
    }
  }
  return row;
}
constexpr peak::Operation kPeakOperations[] = {peak::Operation::kRead, peak::Operation::kWrite,
                                               peak::Operation::kCopy};

// The peak table: one thread and all, MByte/s of 10^6 bytes (not the main window's scaling).
void PrintPeak(const std::vector<peak::PeakResult>& results) {
  if (results.empty()) return;
  std::printf("\n%-8s %12s %12s %7s   (peak: %s, MByte/s of 10^6 bytes)\n", "peak", "1 thread", "all",
              "ratio", results.front().kernel ? peak::IsaName(results.front().kernel->isa) : "-");
  for (peak::Operation op : kPeakOperations) {
    const PeakRow row = PeakRowOf(results, op);
    static const char* const kNames[] = {"READ", "WRITE", "COPY"};
    std::printf("%-8s %12s %12s %7s\n", kNames[static_cast<int>(op)], Cell(row.one, 0).c_str(),
                Cell(row.all, 0).c_str(),
                row.one > 0 && row.all > 0 ? core::FixedText(row.all / row.one, 2).c_str() : "-");
  }
}

void PrintLoaded(const peak::LoadedSweep& sweep) {
  std::printf("\n%-8s %6s %12s %18s   (latency under load, chase over %llu MiB)\n", "streams", "pace",
              "latency ns", "streams MByte/s", static_cast<unsigned long long>(sweep.chaseBytes >> 20));
  for (const peak::LoadedPoint& p : sweep.points)
    std::printf("%-8d %6s %12s %18s\n", p.streams, p.streams == 0 ? "-" : core::FixedText(p.pace, 2).c_str(),
                core::FixedText(p.latencyNs, 1).c_str(),
                p.streams == 0 ? "-" : Cell(p.streamMBps, 0).c_str());
}

void PrintCurve(const core::Curve& curve) {
  std::printf("%10s %10s %10s %10s\n", "block", "READ", "WRITE", "LATENCY");
  std::printf("%10s %10s %10s %10s\n", "", "MByte/s", "MByte/s", "ns");
  for (const core::CurvePoint& p : curve)
    std::printf("%10s %10s %10s %10s\n", core::BlockSizeText(p.blockKb).c_str(), Cell(p.read, 0).c_str(),
                Cell(p.write, 0).c_str(), Cell(p.latency, 2).c_str());
  std::printf("(%s)\n", core::kCurveScalingNote);
}

// The all-core figures as a table.
void PrintAllCores(const core::AllCoreFigures& figures) {
  std::printf("\n%-8s %12s %12s %7s   (%d threads, %llu MiB per array)\n", "", "1 thread", "all", "ratio",
              figures.threads, static_cast<unsigned long long>(figures.bufferBytes >> 20));
  const char* loops[] = {"READ", "WRITE", "COPY"};
  for (int i = 0; i < 3; ++i)
    std::printf(
        "%-8s %12s %12s %7s\n", loops[i], Cell(figures.single[i], 0).c_str(),
        Cell(figures.machine[i], 0).c_str(),
        figures.single[i] > 0 ? core::FixedText(figures.machine[i] / figures.single[i], 2).c_str() : "-");
}

// Whether each file asked for can be written, checked before minutes of measuring: its folder
// exists and takes new files (they are written beside it first), and the path is no folder.
bool OutputPathsWritable(const CurveOptions& o) {
  bool ok = true;
  for (const std::string* path : {&o.csvPath, &o.pngPath, &o.svgPath, &o.loadedCsvPath}) {
    if (path->empty()) continue;
    std::error_code error;
    const std::filesystem::path file(*path);
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    const char* why = nullptr;
    if (std::filesystem::is_directory(file, error))
      why = "it is a folder";
    else if (!std::filesystem::is_directory(folder, error))
      why = "its folder does not exist";
    else if (!platform::IsWritableFolder(folder.string()))
      why = "its folder is not writable";
    if (why != nullptr) {
      std::fprintf(stderr, "quorvex-cli curve: cannot write %s: %s\n", path->c_str(), why);
      ok = false;
    }
  }
  return ok;
}

// Everything the tables show, as one object for scripts.
nlohmann::json CurveJson(const sysinfo::SystemSpec& spec, const core::Curve& curve,
                         const core::CurveState& state, bool allCores, bool loaded) {
  nlohmann::json out;
  out["scaling"] = core::kCurveScalingNote;
  out["points"] = nlohmann::json::array();
  const auto figure = [](double v) { return v < 0 ? nlohmann::json() : nlohmann::json(v); };
  for (const core::CurvePoint& p : curve)
    out["points"].push_back({{"block_kb", p.blockKb},
                             {"read_mbyte_s", figure(p.read)},
                             {"write_mbyte_s", figure(p.write)},
                             {"latency_ns", figure(p.latency)}});
  out["reported_caches"] = nlohmann::json::array();
  for (const core::CacheMark& mark : core::CacheMarks(spec))
    out["reported_caches"].push_back({{"level", mark.label}, {"kbytes", mark.kbytes}});
  out["caches"] = core::CacheComparisonLines(core::CacheMarks(spec), state.Caches());
  if (allCores) {
    const core::AllCoreFigures& f = state.AllCores();
    if (!f.error.empty()) {
      out["all_cores"] = {{"error", state.AllCoreText()}};
    } else {
      const char* loops[] = {"read", "write", "copy"};
      out["all_cores"]["threads"] = f.threads;
      for (int i = 0; i < 3; ++i)
        out["all_cores"][loops[i]] = {{"one_thread", figure(f.single[i])}, {"all", figure(f.machine[i])}};
    }
    const std::vector<peak::PeakResult>& results = state.Peak();
    if (!results.empty()) {
      out["peak"]["isa"] = results.front().kernel ? peak::IsaName(results.front().kernel->isa) : nullptr;
      out["peak"]["unit"] = "MByte/s of 10^6 bytes";
      const char* names[] = {"read", "write", "copy"};
      for (peak::Operation op : kPeakOperations) {
        const PeakRow row = PeakRowOf(results, op);
        out["peak"][names[static_cast<int>(op)]] = {
            {"one_thread", figure(row.one)}, {"all", figure(row.all)}, {"threads", row.threads}};
      }
    }
  }
  if (loaded) {
    out["loaded"] = nlohmann::json::array();
    for (const peak::LoadedPoint& p : state.Loaded().points)
      out["loaded"].push_back({{"streams", p.streams},
                               {"pace", p.pace},
                               {"latency_ns", p.latencyNs},
                               {"streams_mbyte_s", figure(p.streamMBps)}});
  }
  return out;
}

// The files asked for; false when one could not be written.
bool WriteCurveFiles(const CurveOptions& o, const sysinfo::SystemSpec& spec, const core::Curve& curve,
                     const std::string& allCoreText) {
  bool ok = true;
  const auto write = [&ok](const std::string& path, const std::string& text) {
    std::string writeError;
    if (!platform::ReplaceFileAtomically(path, text, &writeError)) {
      std::fprintf(stderr, "quorvex-cli curve: cannot write %s: %s\n", path.c_str(), writeError.c_str());
      ok = false;
    }
  };
  if (!o.csvPath.empty()) write(o.csvPath, core::CurveCsv(curve));
  if (!o.svgPath.empty())
    write(o.svgPath, core::CurveSvg(curve, core::CacheMarks(spec), "Cache & memory curve", allCoreText));
  if (!o.pngPath.empty()) {
    std::string pngError;
    const Drawing* drawing = LoadDrawing(&pngError);
    if (drawing == nullptr || !drawing->writeCurvePng(spec, curve, allCoreText, o.pngPath, &pngError)) {
      std::fprintf(stderr, "quorvex-cli curve: cannot write %s: %s\n", o.pngPath.c_str(), pngError.c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int Curve(const CurveOptions& o) {
  if (!OutputPathsWritable(o)) return 1;
  const sysinfo::SystemSpec spec = ReadSpecAndPrintCaches(!o.json);
  core::CurveState state;
  if (::isatty(2) == 1)
    state.SetListener([&state](core::CurveState::Part part) { DrawProgress(state, part); });
  core::CurveView terminal;
  core::CurveSteps steps;
  steps.passGb = o.passGb;
  core::CurveSequence sequence(state, terminal, spec, steps);

  core::Curve curve;
  if (!MeasureOrLoad(o, sequence, state, &curve)) return 1;
  if (!o.fromPath.empty()) state.SetCaches(core::FindCacheLevels(curve));
  if (!o.json) {
    PrintCurve(curve);
    PrintCaches(spec, state);
  }

  int status = 0;
  if (o.allCores) {
    std::fprintf(stderr, "Measuring all cores...\n");
    state.SetRunning(true);
    sequence.MeasureAllCores();
    if (!state.AllCores().error.empty()) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", state.AllCoreText().c_str());
      status = 1;
    } else if (!o.json) {
      PrintAllCores(state.AllCores());
    }
    if (::isatty(2) == 1) std::fprintf(stderr, "\r\033[K");
    std::fprintf(stderr, "Measuring the peak...\n");
    sequence.MeasurePeak();
    state.SetRunning(false);
    if (::isatty(2) == 1) std::fprintf(stderr, "\r\033[K");
    if (!o.json) PrintPeak(state.Peak());
  }
  if (o.loaded || !o.loadedCsvPath.empty()) {
    std::fprintf(stderr, "Measuring latency under load...\n");
    sequence.PrepareLoaded();
    sequence.MeasureLoaded();
    state.SetRunning(false);
    if (::isatty(2) == 1) std::fprintf(stderr, "\r\033[K");
    if (!sequence.Error().empty()) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", sequence.Error().c_str());
      status = 1;
    } else if (!o.json) {
      PrintLoaded(state.Loaded());
    }
    std::string writeError;
    if (!o.loadedCsvPath.empty() && !platform::ReplaceFileAtomically(
                                        o.loadedCsvPath, peak::LoadedSweepCsv(state.Loaded()), &writeError)) {
      std::fprintf(stderr, "quorvex-cli curve: cannot write %s: %s\n", o.loadedCsvPath.c_str(),
                   writeError.c_str());
      status = 1;
    }
  }
  if (!WriteCurveFiles(o, spec, curve, state.AllCoreText())) status = 1;
  if (o.json) {
    const nlohmann::json out =
        CurveJson(spec, curve, state, o.allCores, o.loaded || !o.loadedCsvPath.empty());
    std::printf("%s\n", out.dump(2).c_str());
  }
  return std::ferror(stdout) ? 1 : status;
}

}  // namespace cli
