// The run behind " Start Bench!" and the four per-test actions, written once against a view that
// the main window and the terminal both implement.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/core/module_call.h"
#include "app/core/record.h"
#include "app/core/samples.h"
#include "sysinfo/panels.h"
#include "sysinfo/system_spec.h"

namespace core {

enum class BarId { Read = 0, Write = 1, Copy = 2, Latency = 3 };

// The controls the run and the gathering lock and unlock.
enum class Control {
  ButtonBar,
  Button7,
  CheckBox1,
  CheckBox2,
  CheckBox3,
  CheckBox4,
  CheckBox5,
  Upload,
  Gauge
};

// The summary panels, in the order the gathering composes them.
enum class Panel { osp, cpup, cpucores, cpuclockp, ramp, ramtimip, ramp1, ramp2, ramp3, ramp4, mainbp };

// A bar's range as the window's bars keep it: minimum 0, a maximum and a position, both clamped.
struct BarValue {
  int max = 100;
  int position = 0;
  std::string caption;

  // A maximum below 0 becomes 0; the position follows a lowered maximum.
  void SetMax(int value);
  // A position outside 0..max is clamped into it.
  void SetPosition(int value);
};

// What the run needs of a window. Every call happens on the thread that runs the sequence.
class BenchView {
 public:
  virtual ~BenchView() = default;

  virtual BarValue Bar(BarId id) const = 0;
  virtual void SetBar(BarId id, const BarValue& value) = 0;
  // Makes the bar as wide as the result panel's client width minus 9 (no-op without a window).
  virtual void FitBarWidth(BarId) {}

  virtual int ProgressPosition() const = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void SetProgressMax(int max) = 0;
  virtual void RepaintProgress() {}

  virtual bool Checked(Control control) const = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual int UploadTag() const = 0;

  virtual std::string PanelText(Panel panel) const = 0;
  virtual void SetPanelText(Panel panel, const std::string& text) = 0;

  virtual std::string ScoreCaption() const = 0;
  virtual void SetScoreCaption(const std::string& text) = 0;

  // The report buffer (Memo2): emptied, then filled with the report's lines.
  virtual void SetReportLines(const std::vector<std::string>&) {}

  virtual void SetBusyCursor(bool busy) = 0;
  virtual void ProcessEvents() {}
  // One message box: title such as "Quorvex² - Benchmark", text as given.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;

  // Runs one test as a click of its per-test button would (the window clicks bbread and so on).
  virtual void ClickTestButton(BarId id) = 0;
  // Told when a test starts and ends, for progress lines; the window needs nothing here.
  virtual void TestStarted(BarId) {}
  virtual void TestFinished(BarId) {}
  // The samples behind a result just shown, with their spread (after TestFinished).
  virtual void ShowSamples(BarId, const SampleSummary&, const std::string& /*prefix*/) {}

  // Runs one module call on a worker thread and returns when it is over; onText runs on this
  // thread once for every text the module emits, in order. The default just waits; the window
  // keeps handling its events meanwhile.
  virtual void RunModuleCall(const ModuleWork& work, const std::function<void()>& onText) {
    RunModuleCallAndWait(work, onText);
  }
};

// The module calls the run makes; the real one goes to the embedded modules, tests use fakes.
class BenchHost {
 public:
  virtual ~BenchHost() = default;
  // Appends the samples of one bandwidth library call; false with error when the call could not
  // be made at all (image not written).
  virtual bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, SampleList& samples,
                                const std::function<void()>& processEvents,
                                const std::function<void()>& advanceProgress, std::string* error) = 0;
  // One latency sample text ("0" + hundredths of a ns, "0" when none); error as above.
  virtual std::string MeasureLatencyOnce(const std::function<void()>& processEvents, std::string* error) = 0;
  // The largest cache in KBytes as text, kUnknownCacheKBytes when unknown.
  virtual std::string LargestCacheKBytes() const = 0;
};

// Everything of the program the record needs besides the view.
struct RunEnvironment {
  std::string logPath;                         // where "LOG!" appends
  std::string machineIdHash;                   // IDHASH
  std::string versionText;                     // VERSION
  std::function<std::string()> countryLookup;  // COUNTRY, asked afresh per record
};

// Product name used in the titles of messages.
inline constexpr const char* kMessageTitleRun = "Quorvex\xC2\xB2 - Benchmark";

class RunSequence {
 public:
  RunSequence(BenchView& view, BenchHost& host, RunEnvironment environment);

  // The whole run of " Start Bench!". Errors inside it are collected and shown once at the end,
  // after the controls are enabled again.
  void Button7Click();

  // The per-test actions, each a complete test with its result on its bar.
  void bbreadClick();
  void bbwriteClick();
  void bbcopyClick();
  void bblatenClick();

  // Recomputes the bandwidth bars' shared scale and the score caption.
  void UpdateScore();

  // Ends the run after the module call in progress (a module cannot be interrupted): no further
  // call, no result from the unfinished test, no log line, no message; for good, as the program
  // is about to end (window closed, Ctrl+C). Safe from any thread and from a signal handler.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  // True while Button7Click or a test runs.
  bool Running() const { return inRun_ || inTest_; }

  int SharedBarMax() const { return sharedBarMax_; }
  void SetSharedBarMax(int value) { sharedBarMax_ = value; }
  const SampleList& Samples() const { return samples_; }
  RunEnvironment& Environment() { return environment_; }
  // Errors of the current or last run, in the order they happened.
  const std::vector<std::string>& Errors() const { return errors_; }

  struct BandwidthTest;

 private:
  void RunBandwidth(const BandwidthTest& test);
  void AdvanceProgress();
  void ShowSampleSummary(BarId bar, const char* prefix);

  BenchView& view_;
  BenchHost& host_;
  RunEnvironment environment_;
  SampleList samples_;
  int sharedBarMax_ = 0;
  std::vector<std::string> errors_;
  bool inRun_ = false;
  bool inTest_ = false;
  std::atomic<bool> stop_{false};
};

// The module host over the carried modules; the cache size comes from spec, which must outlive it.
class ModuleHost : public BenchHost {
 public:
  explicit ModuleHost(const sysinfo::SystemSpec& spec) : spec_(spec) {}
  bool RunBandwidthTest(const std::string& arguments, const std::string& prefix, SampleList& samples,
                        const std::function<void()>& processEvents,
                        const std::function<void()>& advanceProgress, std::string* error) override;
  std::string MeasureLatencyOnce(const std::function<void()>& processEvents, std::string* error) override;
  std::string LargestCacheKBytes() const override;

 private:
  const sysinfo::SystemSpec& spec_;
};

// The panels as the view shows them now, and back.
sysinfo::PanelTexts ReadPanels(const BenchView& view);
void ShowPanels(BenchView& view, const sysinfo::PanelTexts& panels);

// The record's inputs as the view shows them now (the log and the upload both write these).
RecordInputs CurrentRecordInputs(const BenchView& view, const RunEnvironment& environment);

// Disables upload when the cache size is unknown or the CPU or OS panel reads exactly "*".
void ApplyUploadGate(BenchView& view, const std::string& largestCacheKBytes);

}  // namespace core
