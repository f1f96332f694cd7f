#include "core/curve_sequence.h"

#include <algorithm>

#include "core/host.h"
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
  state_.SetStatus("Measuring READ...");
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
  view_.Apply([this, curve] { state_.SetPoints(curve); });
  return measured && !StopRequested();
}

void CurveSequence::MeasureAllCores() {
  view_.Apply([this] { state_.SetStatus("Measuring all cores..."); });
  const auto step = [this](const std::string& text) {
    view_.Apply([this, text] { state_.SetStatus("All cores: " + text); });
  };
  const AllCoreFigures figures =
      steps_.allCores ? steps_.allCores(&stop_, step) : core::MeasureAllCores(spec_, step, &stop_);
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

void CurveSequence::Measure() {
  if (MeasurePoints()) MeasureAllCores();
  Finish();
}

}  // namespace core
