// quorvex-cli curve: the cache-and-memory curve in the terminal, written to CSV, SVG and PNG on
// request, and the all-core figures with --all-cores.
#include "core/curve.h"

#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/commands.h"
#include "cli/offscreen_app.h"
#include "core/allcore.h"
#include "core/host.h"
#include "core/numeric.h"
#include "gui/curve_window.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/processors.h"
#include "sysinfo/runner.h"

namespace cli {
namespace {

const char kUsage[] =
    "usage: quorvex-cli curve [--csv FILE] [--png FILE] [--svg FILE] [--all-cores] [--pass GB]\n"
    "Measures READ and WRITE bandwidth and LATENCY for every block size from 1 KiB to 4 x the\n"
    "largest cache and prints them as a table (MByte/s as the main window scales them).\n"
    "  --csv FILE    write the points (block_kb;read_mbyte_s;write_mbyte_s;latency_ns)\n"
    "  --png FILE    write the chart as the curve window draws it\n"
    "  --svg FILE    write the chart as SVG\n"
    "  --all-cores   also measure READ, WRITE and COPY with one pinned thread per processor\n"
    "  --from FILE   draw a curve saved with --csv instead of measuring one\n"
    "  --pass GB     Gb moved per block size (a power of two; default 1, sizes that pass too\n"
    "                quickly for the module's ms timer are measured again with more)\n";

std::string Cell(double value, int decimals) { return value < 0 ? "-" : core::FixedText(value, decimals); }

}  // namespace

int Curve(const std::vector<std::string>& args) {
  std::string csvPath, pngPath, svgPath, fromPath;
  bool allCores = false;
  uint32_t passGb = 1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--all-cores") {
      allCores = true;
    } else if ((a == "--csv" || a == "--png" || a == "--svg" || a == "--from") && hasValue) {
      (a == "--csv" ? csvPath : a == "--png" ? pngPath : a == "--svg" ? svgPath : fromPath) = args[++i];
    } else if (a == "--pass" && hasValue) {
      const auto n = core::ParseInteger(args[++i]);
      if (!n || *n < 1 || *n > 64 || (*n & (*n - 1)) != 0) {
        std::fprintf(stderr, "quorvex-cli curve: --pass takes 1, 2, 4 ... 64\n%s", kUsage);
        return 2;
      }
      passGb = static_cast<uint32_t>(*n);
    } else {
      std::fprintf(stderr, "quorvex-cli curve: unexpected %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }

  std::fprintf(stderr, "Reading the system information...\n");
  std::string error;
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::RunReportTool(&error));
  if (!error.empty()) std::fprintf(stderr, "quorvex-cli: %s\n", error.c_str());
  const std::vector<core::CacheMark> marks = core::CacheMarks(spec);
  for (const core::CacheMark& mark : marks)
    std::printf("%s cache  %s\n", mark.label.c_str(), core::BlockSizeText(mark.kbytes).c_str());

  core::CurvePlan plan = core::PlanCurve(core::LargestCacheKBytes(spec), platform::AvailableMemoryBytes());
  plan.passGb = passGb;
  const bool interactive = ::isatty(2) == 1;
  const char* names[] = {"READ", "WRITE", "LATENCY"};
  core::Curve curve;
  if (!fromPath.empty()) {
    std::string text;
    if (!platform::ReadWholeFile(fromPath, &text, &error) || !core::ParseCurveCsv(text, &curve)) {
      std::fprintf(stderr, "quorvex-cli curve: %s is not a curve saved by --csv\n", fromPath.c_str());
      return 1;
    }
  } else {
    int64_t started = 0, ended = 0;
    platform::PerformanceCounter(&started);
    const bool measured = core::MeasureCurve(
        plan, core::CarriedCurveModules(),
        [&](const core::CurveProgress& step) {
          if (!interactive) return;
          const int width = 30, filled = step.total > 0 ? step.done * width / step.total : 0;
          std::fprintf(stderr, "\r\033[K[%s%s] %d/%d  %s %s", std::string(filled, '#').c_str(),
                       std::string(width - filled, '.').c_str(), step.done, step.total,
                       names[static_cast<int>(step.series)], core::BlockSizeText(step.point.blockKb).c_str());
          std::fflush(stderr);
        },
        nullptr, &curve, &error);
    platform::PerformanceCounter(&ended);
    if (interactive) std::fprintf(stderr, "\r\033[K");
    if (!measured) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", error.c_str());
      return 1;
    }
    std::fprintf(stderr, "Curve measured in %.1f s (-g%u).\n", static_cast<double>(ended - started) / 1e9,
                 passGb);
  }

  std::printf("%10s %10s %10s %10s\n", "block", "READ", "WRITE", "LATENCY");
  std::printf("%10s %10s %10s %10s\n", "", "MByte/s", "MByte/s", "ns");
  for (const core::CurvePoint& p : curve)
    std::printf("%10s %10s %10s %10s\n", core::BlockSizeText(p.blockKb).c_str(), Cell(p.read, 0).c_str(),
                Cell(p.write, 0).c_str(), Cell(p.latency, 2).c_str());
  std::printf("(%s)\n", core::kCurveScalingNote);

  std::string allCoreText;
  int status = 0;
  if (allCores) {
    std::fprintf(stderr, "Measuring all cores...\n");
    const core::AllCoreFigures figures = core::MeasureAllCores(
        spec,
        [interactive](const std::string& step) {
          if (interactive) std::fprintf(stderr, "\r\033[K  %s", step.c_str());
        },
        nullptr);
    if (interactive) std::fprintf(stderr, "\r\033[K");
    allCoreText = core::AllCoreSummary(figures);
    if (figures.error.empty()) {
      std::printf("\n%-8s %12s %12s %7s   (%d threads, %llu MiB per array)\n", "", "1 thread", "all", "ratio",
                  figures.threads, static_cast<unsigned long long>(figures.bufferBytes >> 20));
      const char* loops[] = {"READ", "WRITE", "COPY"};
      for (int i = 0; i < 3; ++i)
        std::printf(
            "%-8s %12s %12s %7s\n", loops[i], Cell(figures.single[i], 0).c_str(),
            Cell(figures.machine[i], 0).c_str(),
            figures.single[i] > 0 ? core::FixedText(figures.machine[i] / figures.single[i], 2).c_str() : "-");
    } else {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", allCoreText.c_str());
      status = 1;
    }
  }

  const auto write = [&status](const std::string& path, const std::string& text) {
    std::string writeError;
    if (!platform::ReplaceFileAtomically(path, text, &writeError)) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", writeError.c_str());
      status = 1;
    }
  };
  if (!csvPath.empty()) write(csvPath, core::CurveCsv(curve));
  if (!svgPath.empty()) write(svgPath, core::CurveSvg(curve, marks, "Cache & memory curve", allCoreText));
  if (!pngPath.empty()) {
    OffscreenApplication();
    std::string pngError;
    if (!gui::WriteCurvePng(spec, curve, allCoreText, pngPath, &pngError)) {
      std::fprintf(stderr, "quorvex-cli curve: %s\n", pngError.c_str());
      status = 1;
    }
  }
  return std::ferror(stdout) ? 1 : status;
}

}  // namespace cli
