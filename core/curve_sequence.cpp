#include "core/curve_sequence.h"

#include <algorithm>

#include "core/host.h"
#include "core/numeric.h"
#include "platform/processors.h"

namespace core {

void CurveState::SetPoints(const Curve& points) {
  points_ = points;
  Tell(Part::Points);
}

void CurveState::SetPoint(const CurvePoint& point) {
  auto at = std::find_if(points_.begin(), points_.end(),
                         [&](const CurvePoint& p) { return p.blockKb == point.blockKb; });
  if (at == points_.end()) {
    points_.push_back(point);
    std::sort(points_.begin(), points_.end(),
              [](const auto& a, const auto& b) { return a.blockKb < b.blockKb; });
  } else {
    *at = point;
  }
  Tell(Part::Points);
}

void CurveState::SetProgress(int done, int max) {
  max_ = std::max(max, 1);
  done_ = std::clamp(done, 0, max_);
  Tell(Part::Progress);
}

void CurveState::SetStatus(const std::string& status) {
  status_ = status;
  Tell(Part::Status);
}

void CurveState::SetAllCores(const AllCoreFigures& figures, const std::string& text) {
  allCores_ = figures;
  allCoreText_ = text;
  Tell(Part::AllCore);
}

void CurveState::SetRunning(bool running) {
  running_ = running;
  Tell(Part::Running);
}

void CurveState::SetCaches(const std::vector<MeasuredCache>& caches) {
  caches_ = caches;
  Tell(Part::Caches);
}

void CurveState::SetPeak(const std::vector<peak::PeakResult>& results) {
  peak_ = results;
  Tell(Part::Peak);
}

void CurveState::SetLoaded(const peak::LoadedSweep& sweep) {
  loaded_ = sweep;
  Tell(Part::Loaded);
}

CurveSequence::CurveSequence(CurveState& state, CurveView& view, const sysinfo::SystemSpec& spec,
                             CurveSteps steps)
    : state_(state), view_(view), spec_(spec), steps_(std::move(steps)) {}

void CurveSequence::Prepare() {
  stop_ = false;
  error_.clear();
  plan_ = PlanCurve(LargestCacheKBytes(spec_),
                    steps_.availableBytes ? steps_.availableBytes : platform::AvailableMemoryBytes());
  if (steps_.passGb) plan_.passGb = steps_.passGb;
  Curve waiting;
  for (uint32_t kb : CurveSizes(plan_)) waiting.push_back(CurvePoint{kb, -1, -1, -1});
  state_.SetRunning(true);
  state_.SetPoints(waiting);
  state_.SetAllCores(AllCoreFigures(), std::string());
  state_.SetCaches({});
  state_.SetPeak({});
  state_.SetStatus(plan_.followMeasured ? "Measuring LATENCY..." : "Measuring READ...");
  state_.SetProgress(0, static_cast<int>(waiting.size()) * (2 * std::max(plan_.sweeps, 1) + 1) + 1);
}

bool CurveSequence::MeasurePoints() {
  static const char* const kNames[] = {"READ", "WRITE", "LATENCY"};
  const CurveModules modules = steps_.modules.bandwidth ? steps_.modules : CarriedCurveModules();
  const int max = state_.ProgressMax();
  Curve curve;
  const bool measured = MeasureCurve(
      plan_, modules,
      [this, max](const CurveProgress& step) {
        const std::string text =
            std::string(kNames[static_cast<int>(step.series)]) + " " + BlockSizeText(step.point.blockKb);
        view_.Apply([this, step, text, max] {
          state_.SetPoint(step.point);
          state_.SetProgress(step.done, max);
          state_.SetStatus(text);
        });
      },
      &stop_, &curve, &error_);
  // What the curve kept is the result, also of a curve cut short.
  const std::vector<MeasuredCache> caches = FindCacheLevels(curve);
  view_.Apply([this, curve, caches] {
    state_.SetPoints(curve);
    state_.SetCaches(caches);
  });
  return measured && !StopRequested();
}

uint64_t CurveSequence::LastLevelKb() const {
  // Also before any plan (a curve read from a file): the report's figure itself.
  return LastLevelKbForSizes(ReportedLastLevelKb(LargestCacheKBytes(spec_)), state_.Caches());
}

void CurveSequence::MeasureAllCores() {
  view_.Apply([this] { state_.SetStatus("Measuring all cores..."); });
  const auto step = [this](const std::string& text) {
    view_.Apply([this, text] { state_.SetStatus("All cores: " + text); });
  };
  const AllCoreFigures figures = steps_.allCores ? steps_.allCores(&stop_, step)
                                                 : core::MeasureAllCores(spec_, step, &stop_, LastLevelKb());
  if (StopRequested()) return;
  const std::string text = AllCoreSummary(figures);
  view_.Apply([this, figures, text] { state_.SetAllCores(figures, text); });
}

void CurveSequence::Finish() {
  const std::string status = !error_.empty() ? error_ : StopRequested() ? "Stopped." : "Done.";
  view_.Apply([this, status] {
    state_.SetProgress(state_.ProgressMax(), state_.ProgressMax());
    state_.SetStatus(status);
    state_.SetRunning(false);
  });
}

void CurveSequence::MeasurePeak() {
  view_.Apply([this] { state_.SetStatus("Measuring the peak..."); });
  peak::PeakTableOptions options;
  const std::vector<int> cpus = platform::AllowedProcessors();
  const uint64_t lastKb = LastLevelKb();
  const uint64_t available = steps_.availableBytes ? steps_.availableBytes : platform::AvailableMemoryBytes();
  // The all-core runner's size, so both tables stream the same arrays.
  options.arrayBytes = AllCoreBufferBytes(lastKb ? std::to_string(lastKb) : std::string(kUnknownCacheKBytes),
                                          available, static_cast<int>(std::max<size_t>(cpus.size(), 1)), 2);
  const auto progress = [this](int, int, const std::string& next) {
    view_.Apply([this, next] { state_.SetStatus("Peak: " + next); });
  };
  std::vector<peak::PeakResult> results;
  if (options.arrayBytes > 0)
    results = steps_.peak ? steps_.peak(options, progress, &stop_)
                          : peak::MeasurePeakTable(options, progress, &stop_);
  if (StopRequested()) return;
  view_.Apply([this, results] { state_.SetPeak(results); });
}

void CurveSequence::PrepareLoaded() {
  stop_ = false;
  error_.clear();
  state_.SetRunning(true);
  state_.SetLoaded(peak::LoadedSweep());
  state_.SetStatus("Measuring latency under load...");
  state_.SetProgress(0, 1);
}

void CurveSequence::MeasureLoaded() {
  peak::LoadedOptions options;
  // The chase well beyond the last level: 4 x, as the curve's range, but at least 64 MiB.
  const uint64_t lastKb = LastLevelKb();
  options.chaseBytes = std::max<uint64_t>(64ull << 20, lastKb ? 4 * lastKb * 1024 : 256ull << 20);
  const auto progress = [this](int done, int total, const std::string& next) {
    view_.Apply([this, done, total, next] {
      state_.SetProgress(done, total);
      state_.SetStatus("Under load: " + next);
    });
  };
  const peak::LoadedSweep sweep = steps_.loaded ? steps_.loaded(options, progress, &stop_)
                                                : peak::MeasureLoadedLatency(options, progress, &stop_);
  if (!sweep.ok && !sweep.stopped) error_ = sweep.error;
  view_.Apply([this, sweep] { state_.SetLoaded(sweep); });
}

void CurveSequence::Measure() {
  if (MeasurePoints()) {
    MeasureAllCores();
    if (!StopRequested()) MeasurePeak();
  }
  Finish();
}

std::string PeakSummary(const std::vector<peak::PeakResult>& results) {
  std::string text;
  for (peak::Operation op : {peak::Operation::kRead, peak::Operation::kWrite, peak::Operation::kCopy}) {
    std::string one, all;
    int threads = 0;
    for (const peak::PeakResult& r : results) {
      if (!r.ok || r.kernel == nullptr || r.kernel->operation != op) continue;
      if (text.empty())
        text = std::string("Peak, ") + peak::IsaName(r.kernel->isa) + " (MByte/s of 10^6 bytes):";
      (r.threads == 1 && one.empty() ? one : all) = FixedText(r.mbytesPerSecond, 0);
      if (r.threads > 1) threads = r.threads;
    }
    if (one.empty() && all.empty()) continue;
    static const char* const kNames[] = {"READ", "WRITE", "COPY"};
    text += std::string("  ") + kNames[static_cast<int>(op)] + " " + (one.empty() ? "-" : one);
    if (!all.empty()) text += " / " + all + " (" + std::to_string(threads) + " threads)";
  }
  return text;
}

std::vector<std::string> LoadedLines(const peak::LoadedSweep& sweep) {
  std::vector<std::string> lines;
  for (const peak::LoadedPoint& p : sweep.points) {
    std::string line =
        p.streams == 0 ? "no load" : std::to_string(p.streams) + (p.streams == 1 ? " stream" : " streams");
    if (p.streams > 0 && p.pace < 1) line += p.pace <= 0.3 ? " at 1/4" : " at 1/2";
    line += ": " + FixedText(p.latencyNs, 1) + " ns";
    if (p.streams > 0) line += " at " + FixedText(p.streamMBps, 0) + " MByte/s";
    lines.push_back(line);
  }
  return lines;
}

}  // namespace core
