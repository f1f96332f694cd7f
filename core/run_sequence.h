// The run behind " Start Bench!" and the four single tests, written once over the window's
// model; the main window and the terminal draw the model and show the run's effects.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "core/module_call.h"
#include "core/record.h"
#include "core/samples.h"
#include "core/window_state.h"
#include "sysinfo/panels.h"
#include "sysinfo/system_spec.h"

namespace core {

// What the run asks of a front end besides the model: the effects it shows while a test runs.
// Every call happens on the thread that runs the sequence.
class BenchView {
 public:
  virtual ~BenchView() = default;

  // Makes the bar as wide as the result panel's client width minus 9 (no-op without a window).
  virtual void FitBarWidth(BarId) {}
  // Draws the progress at once, the event loop being busy.
  virtual void RepaintProgress() {}

  virtual void SetBusyCursor(bool) {}
  virtual void ProcessEvents() {}
  // One message box: title such as "Quorvex² - Benchmark", text as given.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;

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

// Everything of the program the record needs besides the model.
struct RunEnvironment {
  std::string logPath;                         // where "LOG!" appends
  std::string machineIdHash;                   // IDHASH
  std::string versionText;                     // VERSION
  std::function<std::string()> countryLookup;  // COUNTRY, asked afresh per record
  // DATE and TIME of a run logged earlier that goes up now; empty: the record is made now.
  std::string runDate, runTime;
};

class RunSequence {
 public:
  RunSequence(WindowState& state, BenchView& view, BenchHost& host, RunEnvironment environment);

  // The whole run of " Start Bench!". Errors inside it are collected and shown once at the end,
  // after the controls are enabled again.
  void RunAll();

  // One complete test, the one a bar shows, with its result on its bar.
  void RunTest(BarId id);

  // Recomputes the bandwidth bars' shared scale and the score caption.
  void UpdateScore();

  // Ends the run after the module call in progress (a module cannot be interrupted): no further
  // call, no result from the unfinished test, no log line, no message; for good, as the program
  // is about to end (window closed, Ctrl+C). Safe from any thread and from a signal handler.
  void RequestStop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }
  // True while RunAll or a test runs.
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
  void RunLatency();
  void AdvanceProgress();
  void ShowSampleSummary(BarId bar, const char* prefix);

  WindowState& state_;
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

// The record's inputs as the model shows them now (the log and the upload both write these).
RecordInputs CurrentRecordInputs(const WindowState& state, const RunEnvironment& environment);

// Writes the record of what the model shows to path, the country asked afresh ("--" without a
// lookup); the log and both uploads write it so.
bool WriteRecordOf(const std::string& path, const WindowState& state, const RunEnvironment& environment,
                   std::string* error);

// What a run or the gathering locks while it works (the quick compare included), and what it
// opens again after: start, the test boxes, LOG!, and upload unless an upload was made.
void LockControls(WindowState& state);
void UnlockControls(WindowState& state);

}  // namespace core
