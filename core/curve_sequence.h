// The cache-and-memory curve's whole sequence, written once over one model: the plan, the curve,
// the all-core figures and their summary. The curve window and the terminal draw the model.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "core/allcore.h"
#include "core/cache_levels.h"
#include "core/curve.h"
#include "peak/loaded.h"
#include "peak/peak.h"
#include "sysinfo/system_spec.h"

namespace core {

// What the curve window shows: the points, the progress, the status line, the all-core line, the
// cache levels the curve shows, the machine's peak, the latency under load and whether a
// measurement runs.
class CurveState {
 public:
  enum class Part { Points, Progress, Status, AllCore, Running, Caches, Peak, Loaded };
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

  // Read off the measured points (FindCacheLevels); empty before.
  const std::vector<MeasuredCache>& Caches() const { return caches_; }
  void SetCaches(const std::vector<MeasuredCache>& caches);

  // The widest vector unit's read, write and copy, one thread and all; empty until measured.
  const std::vector<peak::PeakResult>& Peak() const { return peak_; }
  void SetPeak(const std::vector<peak::PeakResult>& results);

  // Latency against the streams' bandwidth; no points until measured.
  const peak::LoadedSweep& Loaded() const { return loaded_; }
  void SetLoaded(const peak::LoadedSweep& sweep);

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
  std::vector<MeasuredCache> caches_;
  std::vector<peak::PeakResult> peak_;
  peak::LoadedSweep loaded_;
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
      allCores;  // empty: MeasureAllCores
  std::function<std::vector<peak::PeakResult>(const peak::PeakTableOptions& options,
                                              const peak::Progress& progress,
                                              const std::atomic<bool>* stop)>
      peak;  // empty: peak::MeasurePeakTable
  std::function<peak::LoadedSweep(const peak::LoadedOptions& options, const peak::Progress& progress,
                                  const std::atomic<bool>* stop)>
      loaded;                   // empty: peak::MeasureLoadedLatency
  uint64_t availableBytes = 0;  // 0: what the machine has now
  uint32_t passGb = 0;          // 0: the plan's
};

class CurveSequence {
 public:
  CurveSequence(CurveState& state, CurveView& view, const sysinfo::SystemSpec& spec, CurveSteps steps = {});

  // The plan and its waiting points, the progress range, "Measuring READ...": on the model's
  // thread, before the measuring starts.
  void Prepare();
  // READ, WRITE and LATENCY for every size of the plan, then the cache levels they show; false
  // when a module failed or a stop came.
  bool MeasurePoints();
  // The all-core figures and their summary line.
  void MeasureAllCores();
  // The peak table (peak::MeasurePeakTable) at the all-core runner's array size.
  void MeasurePeak();
  // Latency under load: its own measurement, prepared and finished like the curve's.
  void PrepareLoaded();
  void MeasureLoaded();
  // The last level the curve's range and the arrays follow: the reported one, or the measured one
  // where the report is implausible (LastLevelKbForSizes); 0 when neither is known.
  uint64_t LastLevelKb() const;
  // "Done.", "Stopped." or the error, the progress full, no longer running.
  void Finish();
  // What the window's measurement runs after Prepare: points, then (when they succeeded) all
  // cores and the peak, finish.
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

// "Peak, AVX-512 (MByte/s of 10^6 bytes): READ 16331 / 17706 (2 threads)  WRITE ..."; one line per
// thread count is not needed: each operation shows one thread, then all. Empty when nothing ran.
std::string PeakSummary(const std::vector<peak::PeakResult>& results);

// One line per point: "no load: 173.6 ns", "1 stream: 176.6 ns at 24990 MByte/s", "1 stream at 1/4: ...".
std::vector<std::string> LoadedLines(const peak::LoadedSweep& sweep);

}  // namespace core
