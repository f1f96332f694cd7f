// The cache-and-memory curve's whole sequence, written once over one model: the plan, the curve,
// the all-core figures and their summary. The curve window and the terminal draw the model.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/allcore.h"
#include "core/curve.h"
#include "sysinfo/system_spec.h"

namespace core {

// What the curve window shows: the points, the progress, the status line, the all-core line and
// whether a measurement runs.
class CurveState {
 public:
  enum class Part { Points, Progress, Status, AllCore, Running };
  using Listener = std::function<void(Part)>;

  // One listener, told after every change.
  void SetListener(Listener listener) { listener_ = std::move(listener); }

  const Curve& Points() const { return points_; }
  void SetPoints(const Curve& points);
  // Replaces the point of its size, or adds it in its place by size.
  void SetPoint(const CurvePoint& point);

  int ProgressDone() const { return done_; }
  int ProgressMax() const { return max_; }
  void SetProgress(int done, int max);

  const std::string& Status() const { return status_; }
  void SetStatus(const std::string& status);

  // The figures and their summary line, empty until measured.
  const AllCoreFigures& AllCores() const { return allCores_; }
  const std::string& AllCoreText() const { return allCoreText_; }
  void SetAllCores(const AllCoreFigures& figures, const std::string& text);

  bool Running() const { return running_; }
  void SetRunning(bool running);

 private:
  void Tell(Part part) const {
    if (listener_) listener_(part);
  }

  Curve points_;
  int done_ = 0;
  int max_ = 1;
  std::string status_;
  AllCoreFigures allCores_;
  std::string allCoreText_;
  bool running_ = false;
  Listener listener_;
};

// Where the sequence's changes reach the model: the window hands them to its GUI thread, the
// terminal applies them at once.
class CurveView {
 public:
  virtual ~CurveView() = default;
  virtual void Apply(const std::function<void()>& change) { change(); }
};

// The pieces that touch the machine, replaceable in tests.
struct CurveSteps {
  CurveModules modules;  // empty: the carried modules
  std::function<AllCoreFigures(const std::atomic<bool>* stop,
                               const std::function<void(const std::string&)>& step)>
      allCores;                 // empty: MeasureAllCores
  uint64_t availableBytes = 0;  // 0: what the machine has now
  uint32_t passGb = 0;          // 0: the plan's
};

class CurveSequence {
 public:
  CurveSequence(CurveState& state, CurveView& view, const sysinfo::SystemSpec& spec, CurveSteps steps = {});

  // The plan and its waiting points, the progress range, "Measuring READ...": on the model's
  // thread, before the measuring starts.
  void Prepare();
  // READ, WRITE and LATENCY for every size of the plan; false when a module failed or a stop came.
  bool MeasurePoints();
  // The all-core figures and their summary line.
  void MeasureAllCores();
  // "Done.", "Stopped." or the error, the progress full, no longer running.
  void Finish();
  // What the window's measurement runs after Prepare: points, all cores when they succeeded, finish.
  void Measure();

  // Ends the sequence after the module call in progress; safe from any thread.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  const CurvePlan& Plan() const { return plan_; }
  const std::string& Error() const { return error_; }

 private:
  CurveState& state_;
  CurveView& view_;
  sysinfo::SystemSpec spec_;
  CurveSteps steps_;
  CurvePlan plan_;
  std::string error_;
  std::atomic<bool> stop_{false};
};

}  // namespace core
