#include "core/run_sequence.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "core/gate.h"
#include "core/host.h"
#include "core/numeric.h"
#include "core/record.h"
#include "core/score.h"
#include "sysinfo/text.h"

namespace core {

struct RunSequence::BandwidthTest {
  BarId bar;
  int progressMax;
  std::vector<const char*> arguments;
  const char* prefix;
};

namespace {

// The whole-number value of a displayed result; 0 for anything else.
int WholeValue(const std::string& text) {
  const auto value = ParseInteger(text);
  if (!value) return 0;
  return static_cast<int>(std::clamp<int64_t>(*value, INT32_MIN, INT32_MAX));
}

// Marks a test as running for as long as its function runs, however it leaves.
struct TestFlag {
  explicit TestFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~TestFlag() { flag_ = false; }
  TestFlag(const TestFlag&) = delete;
  TestFlag& operator=(const TestFlag&) = delete;
  bool& flag_;
};

void AddError(std::vector<std::string>& errors, const std::string& error) {
  const std::string text = error.empty() ? std::string("an unexpected error stopped the test") : error;
  if (std::find(errors.begin(), errors.end(), text) == errors.end()) errors.push_back(text);
}

}  // namespace

// The fixed arguments of the three bandwidth tests; they do not depend on the machine.
static const RunSequence::BandwidthTest kRead{
    BarId::Read, 35, {"-b11 -g4 -m64", "-b11 -g4 -m128"}, kReadPrefix};
static const RunSequence::BandwidthTest kWrite{
    BarId::Write, 35, {"-b10 -g8 -m128", "-b10 -g4 -m256"}, kWritePrefix};
static const RunSequence::BandwidthTest kCopy{
    BarId::Copy, 30, {"-b12 -g4", "-b12 -g16", "-b12 -g8"}, kCopyPrefix};

RunSequence::RunSequence(WindowState& state, BenchView& view, BenchHost& host, RunEnvironment environment)
    : state_(state), view_(view), host_(host), environment_(std::move(environment)) {}

void RunSequence::AdvanceProgress() {
  state_.SetProgressPosition(state_.ProgressPosition() + 1);
  view_.RepaintProgress();
}

void RunSequence::ShowSampleSummary(BarId bar, const char* prefix) {
  view_.ShowSamples(bar, SummariseSamples(samples_, prefix), prefix);
}

void RunSequence::RunBandwidth(const BandwidthTest& test) {
  if (StopRequested()) return;
  const TestFlag testing(inTest_);
  view_.TestStarted(test.bar);
  BarValue bar = state_.Bar(test.bar);
  bar.SetMax(1);
  bar.SetPosition(9999);  // full while the test runs
  bar.caption = BarName(test.bar);
  state_.SetBar(test.bar, bar);
  view_.FitBarWidth(test.bar);
  samples_.clear();
  state_.SetProgressPosition(0);
  state_.SetProgressMax(test.progressMax);

  bool failed = false;
  for (const char* arguments : test.arguments) {
    if (StopRequested()) break;
    std::string error;
    bool placed = false;
    try {
      // The module measures on a worker; this thread advances the progress for each of its texts.
      view_.RunModuleCall(
          [&](const std::function<void()>& text) {
            placed = host_.RunBandwidthTest(
                arguments, test.prefix, samples_, [] {}, text, &error);
          },
          [this] { AdvanceProgress(); });
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!placed) {
      AddError(errors_, std::string(BarName(test.bar)) + ": " + error);
      failed = true;
      break;
    }
  }
  // Stopped in the middle: the bar keeps what it showed, no figure from part of the calls.
  if (StopRequested()) {
    samples_.clear();
    state_.SetProgressPosition(0);
    return;
  }
  // A test that could not run all its calls shows 0 rather than a figure from part of them.
  if (failed) samples_.clear();

  const std::string value = AverageSamples(samples_, test.prefix);
  const int number = WholeValue(value);
  bar = state_.Bar(test.bar);
  bar.SetMax(number - 1);
  bar.SetPosition(number);  // full until UpdateScore gives the three bars their shared scale
  bar.caption = ResultCaption(test.bar, value);
  state_.SetBar(test.bar, bar);
  state_.SetProgressPosition(0);
  view_.TestFinished(test.bar);
  ShowSampleSummary(test.bar, test.prefix);
  if (!inRun_ && !errors_.empty()) {
    view_.ShowMessage(kTitles.run, errors_.front());
    errors_.clear();
  }
}

void RunSequence::RunTest(BarId id) {
  static const BandwidthTest* const kBandwidth[] = {&kRead, &kWrite, &kCopy};
  if (id == BarId::Latency) {
    RunLatency();
  } else {
    RunBandwidth(*kBandwidth[static_cast<int>(id)]);
  }
}

void RunSequence::RunLatency() {
  if (StopRequested()) return;
  const TestFlag testing(inTest_);
  view_.TestStarted(BarId::Latency);
  BarValue bar = state_.Bar(BarId::Latency);
  bar.caption = BarName(BarId::Latency);
  state_.SetBar(BarId::Latency, bar);
  view_.FitBarWidth(BarId::Latency);
  samples_.clear();
  state_.SetProgressPosition(0);
  state_.SetProgressMax(5);
  view_.ProcessEvents();
  AdvanceProgress();

  bool failed = false;
  for (int i = 0; i < 4; ++i) {
    if (StopRequested()) break;
    std::string error;
    std::string sample;
    try {
      view_.RunModuleCall(
          [&](const std::function<void()>&) { sample = host_.MeasureLatencyOnce([] {}, &error); }, [] {});
    } catch (const std::exception& e) {
      error = e.what();
      if (error.empty()) error = "an unexpected error stopped the test";
    }
    if (!error.empty()) {
      AddError(errors_, "LATENCY: " + error);
      failed = true;
      break;
    }
    samples_.push_back(kLatencyPrefix + sample);
    AdvanceProgress();
  }
  if (StopRequested()) {
    samples_.clear();
    state_.SetProgressPosition(0);
    return;
  }

  const std::string value = failed ? std::string("0.0") : AverageSamples(samples_, kLatencyPrefix);
  // Tenths of a nanosecond: the bar is full at 150.0 ns.
  bar = state_.Bar(BarId::Latency);
  bar.SetPosition(WholeValue(sysinfo::ReplaceAll(value, ".", "")));
  bar.caption = ResultCaption(BarId::Latency, value);
  state_.SetBar(BarId::Latency, bar);
  state_.SetProgressPosition(0);
  view_.TestFinished(BarId::Latency);
  ShowSampleSummary(BarId::Latency, kLatencyPrefix);
  if (!inRun_ && !errors_.empty()) {
    view_.ShowMessage(kTitles.run, errors_.front());
    errors_.clear();
  }
}

void RunSequence::UpdateScore() {
  const BarValue rd = state_.Bar(BarId::Read);
  const BarValue wr = state_.Bar(BarId::Write);
  const BarValue cp = state_.Bar(BarId::Copy);
  const ScoreUpdate score = ComputeScore(rd.max, wr.max, cp.max, rd.caption, wr.caption, cp.caption);
  sharedBarMax_ = score.sharedMax;
  for (BarId id : {BarId::Read, BarId::Write, BarId::Copy}) {
    BarValue bar = state_.Bar(id);
    bar.SetMax(sharedBarMax_);
    state_.SetBar(id, bar);
  }
  state_.SetScoreCaption(score.caption);
}

RecordInputs CurrentRecordInputs(const WindowState& state, const RunEnvironment& environment) {
  RecordInputs inputs;
  inputs.panels = state.Panels();
  inputs.readCaption = state.Bar(BarId::Read).caption;
  inputs.writeCaption = state.Bar(BarId::Write).caption;
  inputs.copyCaption = state.Bar(BarId::Copy).caption;
  inputs.latencyCaption = state.Bar(BarId::Latency).caption;
  inputs.scoreCaption = state.ScoreCaption();
  inputs.idHash = environment.machineIdHash;
  inputs.version = environment.versionText;
  inputs.date = environment.runDate;
  inputs.time = environment.runTime;
  return inputs;
}

bool WriteRecordOf(const std::string& path, const WindowState& state, const RunEnvironment& environment,
                   std::string* error) {
  const auto lookup = environment.countryLookup
                          ? environment.countryLookup
                          : std::function<std::string()>([] { return std::string("--"); });
  return WriteResultRecord(path, CurrentRecordInputs(state, environment), lookup, error);
}

void LockControls(WindowState& state) {
  for (Control c : {Control::Start, Control::ReadBox, Control::WriteBox, Control::CopyBox,
                    Control::LatencyBox, Control::LogBox, Control::Upload, Control::Compare}) {
    state.SetEnabled(c, false);
  }
}

void UnlockControls(WindowState& state) {
  for (Control c :
       {Control::Start, Control::ReadBox, Control::WriteBox, Control::CopyBox, Control::LatencyBox})
    state.SetEnabled(c, true);
  state.SetEnabled(Control::Upload, state.UploadTag() == 0);
  state.SetEnabled(Control::LogBox, true);
}

void RunSequence::RunAll() {
  errors_.clear();
  inRun_ = true;
  view_.SetBusyCursor(true);
  LockControls(state_);

  for (BarId test : kBars) {
    if (StopRequested()) break;
    if (state_.Checked(TestBox(test))) {
      try {
        RunTest(test);
      } catch (const std::exception& e) {
        AddError(errors_, e.what());
      }
    }
    if (StopRequested()) break;
    // Also without the test: the score follows the captions, old results included.
    UpdateScore();
  }

  UnlockControls(state_);

  // An unfinished run is not logged.
  if (state_.Checked(Control::LogBox) && !StopRequested()) {
    std::string error;
    bool written = false;
    try {
      written = WriteRecordOf(environment_.logPath, state_, environment_, &error);
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!written) {
      AddError(errors_, "The log " + environment_.logPath + " was not written: " + error +
                            " (the file keeps its earlier lines).");
    }
  }

  std::string cache = kUnknownCacheKBytes;
  try {
    cache = host_.LargestCacheKBytes();
  } catch (const std::exception&) {
    // an unreadable cache size is an unknown one, which closes the upload gate below
  }
  ApplyUploadGate(state_, cache);
  state_.SetEnabled(Control::Compare, true);
  view_.SetBusyCursor(false);
  inRun_ = false;

  if (!errors_.empty() && !StopRequested()) {
    std::string text = errors_.size() == 1 ? "The run met an error:\n\n" : "The run met these errors:\n\n";
    for (const std::string& e : errors_) text += e + "\n";
    view_.ShowMessage(kTitles.run, text);
  }
}

bool ModuleHost::RunBandwidthTest(const std::string& arguments, const std::string& prefix,
                                  SampleList& samples, const std::function<void()>& processEvents,
                                  const std::function<void()>& advanceProgress, std::string* error) {
  return core::RunBandwidthTest(arguments, prefix, samples, HostHooks{processEvents, advanceProgress}, error);
}

std::string ModuleHost::MeasureLatencyOnce(const std::function<void()>& processEvents, std::string* error) {
  return core::MeasureLatencyOnce(spec_, HostHooks{processEvents, {}}, error);
}

std::string ModuleHost::LargestCacheKBytes() const { return core::LargestCacheKBytes(spec_); }

}  // namespace core
