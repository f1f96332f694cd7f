// quorvex-cli curve: the cache-and-memory curve in the terminal, written to CSV, SVG and PNG on
// request, and the all-core figures with --all-cores.
#include "core/curve.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

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

// The carried report tool's specification, and the cache levels it names.
sysinfo::SystemSpec ReadSpecAndPrintCaches() {
  std::fprintf(stderr, "Reading the system information...\n");
  std::string error;
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::RunReportTool(&error));
  if (!error.empty()) std::fprintf(stderr, "quorvex-cli: %s\n", error.c_str());
  for (const core::CacheMark& mark : core::CacheMarks(spec))
    std::printf("%s cache  %s\n", mark.label.c_str(), core::BlockSizeText(mark.kbytes).c_str());
  return spec;
}

// On a terminal, the progress of the sequence on one line of standard error.
void DrawProgress(const core::CurveState& state, core::CurveState::Part part) {
  if (part != core::CurveState::Part::Status || !state.Running()) return;
  const std::string& status = state.Status();
  if (status.rfind("All cores: ", 0) == 0) {
    std::fprintf(stderr, "\r\033[K  %s", status.c_str() + 11);
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

void PrintCurve(const core::Curve& curve) {
  std::printf("%10s %10s %10s %10s\n", "block", "READ", "WRITE", "LATENCY");
  std::printf("%10s %10s %10s %10s\n", "", "MByte/s", "MByte/s", "ns");
  for (const core::CurvePoint& p : curve)
    std::printf("%10s %10s %10s %10s\n", core::BlockSizeText(p.blockKb).c_str(), Cell(p.read, 0).c_str(),
                Cell(p.write, 0).c_str(), Cell(p.latency, 2).c_str());
  std::printf("(%s)\n", core::kCurveScalingNote);
}

// The all-core figures as a table; false when they could not be measured.
bool PrintAllCores(const core::AllCoreFigures& figures, const std::string& summary) {
  if (!figures.error.empty()) {
    std::fprintf(stderr, "quorvex-cli curve: %s\n", summary.c_str());
    return false;
  }
  std::printf("\n%-8s %12s %12s %7s   (%d threads, %llu MiB per array)\n", "", "1 thread", "all", "ratio",
              figures.threads, static_cast<unsigned long long>(figures.bufferBytes >> 20));
  const char* loops[] = {"READ", "WRITE", "COPY"};
  for (int i = 0; i < 3; ++i)
    std::printf(
        "%-8s %12s %12s %7s\n", loops[i], Cell(figures.single[i], 0).c_str(),
        Cell(figures.machine[i], 0).c_str(),
        figures.single[i] > 0 ? core::FixedText(figures.machine[i] / figures.single[i], 2).c_str() : "-");
  return true;
}

// The files asked for; false when one could not be written.
bool WriteCurveFiles(const CurveOptions& o, const sysinfo::SystemSpec& spec, const core::Curve& curve,
                     const std::string& allCoreText) {
  bool ok = true;
  const auto write = [&ok](const std::string& path, const std::string& text) {
    std::string writeError;
    if (!platform::ReplaceFileAtomically(path, text, &writeError)) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", writeError.c_str());
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
      std::fprintf(stderr, "quorvex-cli curve: %s\n", pngError.c_str());
      ok = false;
    }
  }
  return ok;
}

}  // namespace

int Curve(const CurveOptions& o) {
  const sysinfo::SystemSpec spec = ReadSpecAndPrintCaches();
  core::CurveState state;
  if (::isatty(2) == 1)
    state.SetListener([&state](core::CurveState::Part part) { DrawProgress(state, part); });
  core::CurveView terminal;
  core::CurveSteps steps;
  steps.passGb = o.passGb;
  core::CurveSequence sequence(state, terminal, spec, steps);

  core::Curve curve;
  if (!MeasureOrLoad(o, sequence, state, &curve)) return 1;
  PrintCurve(curve);

  int status = 0;
  if (o.allCores) {
    std::fprintf(stderr, "Measuring all cores...\n");
    state.SetRunning(true);
    sequence.MeasureAllCores();
    state.SetRunning(false);
    if (::isatty(2) == 1) std::fprintf(stderr, "\r\033[K");
    if (!PrintAllCores(state.AllCores(), state.AllCoreText())) status = 1;
  }
  if (!WriteCurveFiles(o, spec, curve, state.AllCoreText())) status = 1;
  return std::ferror(stdout) ? 1 : status;
}

}  // namespace cli
