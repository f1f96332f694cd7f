#include "app/core/run_sequence.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "app/core/host.h"
#include "app/core/numeric.h"
#include "app/core/record.h"
#include "app/core/score.h"
#include "sysinfo/text.h"

namespace core {

void BarValue::SetMax(int value) {
  max = std::max(0, value);
  position = std::min(position, max);
}

void BarValue::SetPosition(int value) { position = std::clamp(value, 0, max); }

struct RunSequence::BandwidthTest {
  BarId bar;
  const char* caption;
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
    BarId::Read, "READ", 35, {"-b11 -g4 -m64", "-b11 -g4 -m128"}, kReadPrefix};
static const RunSequence::BandwidthTest kWrite{
    BarId::Write, "WRITE", 35, {"-b10 -g8 -m128", "-b10 -g4 -m256"}, kWritePrefix};
static const RunSequence::BandwidthTest kCopy{
    BarId::Copy, "COPY", 30, {"-b12 -g4", "-b12 -g16", "-b12 -g8"}, kCopyPrefix};

RunSequence::RunSequence(BenchView& view, BenchHost& host, RunEnvironment environment)
    : view_(view), host_(host), environment_(std::move(environment)) {}

void RunSequence::AdvanceProgress() {
  view_.SetProgressPosition(view_.ProgressPosition() + 1);
  view_.RepaintProgress();
}

void RunSequence::ShowSampleSummary(BarId bar, const char* prefix) {
  view_.ShowSamples(bar, SummariseSamples(samples_, prefix), prefix);
}

void RunSequence::RunBandwidth(const BandwidthTest& test) {
  if (StopRequested()) return;
  const TestFlag testing(inTest_);
  view_.TestStarted(test.bar);
  BarValue bar = view_.Bar(test.bar);
  bar.SetMax(1);
  bar.SetPosition(9999);  // full while the test runs
  bar.caption = test.caption;
  view_.SetBar(test.bar, bar);
  view_.FitBarWidth(test.bar);
  samples_.clear();
  view_.SetProgressPosition(0);
  view_.SetProgressMax(test.progressMax);

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
      AddError(errors_, std::string(test.caption) + ": " + error);
      failed = true;
      break;
    }
  }
  // Stopped in the middle: the bar keeps what it showed, no figure from part of the calls.
  if (StopRequested()) {
    samples_.clear();
    view_.SetProgressPosition(0);
    return;
  }
  // A test that could not run all its calls shows 0 rather than a figure from part of them.
  if (failed) samples_.clear();

  const std::string value = AverageSamples(samples_, test.prefix);
  const int number = WholeValue(value);
  bar = view_.Bar(test.bar);
  bar.SetMax(number - 1);
  bar.SetPosition(number);  // full until UpdateScore gives the three bars their shared scale
  bar.caption = std::string(test.caption) + "  " + value + "  MByte/s";
  view_.SetBar(test.bar, bar);
  view_.SetProgressPosition(0);
  view_.TestFinished(test.bar);
  ShowSampleSummary(test.bar, test.prefix);
  if (!inRun_ && !errors_.empty()) {
    view_.ShowMessage(kMessageTitleRun, errors_.front());
    errors_.clear();
  }
}

void RunSequence::bbreadClick() { RunBandwidth(kRead); }
void RunSequence::bbwriteClick() { RunBandwidth(kWrite); }
void RunSequence::bbcopyClick() { RunBandwidth(kCopy); }

void RunSequence::bblatenClick() {
  if (StopRequested()) return;
  const TestFlag testing(inTest_);
  view_.TestStarted(BarId::Latency);
  BarValue bar = view_.Bar(BarId::Latency);
  bar.caption = "LATENCY";
  view_.SetBar(BarId::Latency, bar);
  view_.FitBarWidth(BarId::Latency);
  samples_.clear();
  view_.SetProgressPosition(0);
  view_.SetProgressMax(5);
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
    view_.SetProgressPosition(0);
    return;
  }

  const std::string value = failed ? std::string("0.0") : AverageSamples(samples_, kLatencyPrefix);
  // Tenths of a nanosecond: the bar is full at 150.0 ns.
  bar = view_.Bar(BarId::Latency);
  bar.SetPosition(WholeValue(sysinfo::ReplaceAll(value, ".", "")));
  bar.caption = "LATENCY  " + value + "  ns";
  view_.SetBar(BarId::Latency, bar);
  view_.SetProgressPosition(0);
  view_.TestFinished(BarId::Latency);
  ShowSampleSummary(BarId::Latency, kLatencyPrefix);
  if (!inRun_ && !errors_.empty()) {
    view_.ShowMessage(kMessageTitleRun, errors_.front());
    errors_.clear();
  }
}

void RunSequence::UpdateScore() {
  const BarValue rd = view_.Bar(BarId::Read);
  const BarValue wr = view_.Bar(BarId::Write);
  const BarValue cp = view_.Bar(BarId::Copy);
  const ScoreUpdate score = ComputeScore(rd.max, wr.max, cp.max, rd.caption, wr.caption, cp.caption);
  sharedBarMax_ = score.sharedMax;
  for (BarId id : {BarId::Read, BarId::Write, BarId::Copy}) {
    BarValue bar = view_.Bar(id);
    bar.SetMax(sharedBarMax_);
    view_.SetBar(id, bar);
  }
  view_.SetScoreCaption(score.caption);
}

sysinfo::PanelTexts ReadPanels(const BenchView& view) {
  sysinfo::PanelTexts panels;
  panels.osp = view.PanelText(Panel::osp);
  panels.cpup = view.PanelText(Panel::cpup);
  panels.cpucores = view.PanelText(Panel::cpucores);
  panels.cpuclockp = view.PanelText(Panel::cpuclockp);
  panels.ramp = view.PanelText(Panel::ramp);
  panels.ramtimip = view.PanelText(Panel::ramtimip);
  panels.modules = {view.PanelText(Panel::ramp1), view.PanelText(Panel::ramp2), view.PanelText(Panel::ramp3),
                    view.PanelText(Panel::ramp4)};
  panels.mainbp = view.PanelText(Panel::mainbp);
  return panels;
}

void ShowPanels(BenchView& view, const sysinfo::PanelTexts& panels) {
  view.SetPanelText(Panel::osp, panels.osp);
  view.SetPanelText(Panel::cpup, panels.cpup);
  view.SetPanelText(Panel::cpucores, panels.cpucores);
  view.SetPanelText(Panel::cpuclockp, panels.cpuclockp);
  view.SetPanelText(Panel::ramp, panels.ramp);
  view.SetPanelText(Panel::ramtimip, panels.ramtimip);
  view.SetPanelText(Panel::ramp1, panels.modules[0]);
  view.SetPanelText(Panel::ramp2, panels.modules[1]);
  view.SetPanelText(Panel::ramp3, panels.modules[2]);
  view.SetPanelText(Panel::ramp4, panels.modules[3]);
  view.SetPanelText(Panel::mainbp, panels.mainbp);
}

RecordInputs CurrentRecordInputs(const BenchView& view, const RunEnvironment& environment) {
  RecordInputs inputs;
  inputs.panels = ReadPanels(view);
  inputs.readCaption = view.Bar(BarId::Read).caption;
  inputs.writeCaption = view.Bar(BarId::Write).caption;
  inputs.copyCaption = view.Bar(BarId::Copy).caption;
  inputs.latencyCaption = view.Bar(BarId::Latency).caption;
  inputs.scoreCaption = view.ScoreCaption();
  inputs.idHash = environment.machineIdHash;
  inputs.version = environment.versionText;
  return inputs;
}

void ApplyUploadGate(BenchView& view, const std::string& largestCacheKBytes) {
  if (largestCacheKBytes == kUnknownCacheKBytes || view.PanelText(Panel::cpup) == "*" ||
      view.PanelText(Panel::osp) == "*") {
    view.SetEnabled(Control::Upload, false);
  }
}

void RunSequence::Button7Click() {
  errors_.clear();
  inRun_ = true;
  view_.SetBusyCursor(true);
  for (Control c : {Control::Button7, Control::CheckBox1, Control::CheckBox2, Control::CheckBox3,
                    Control::CheckBox4, Control::CheckBox5, Control::Upload, Control::Gauge}) {
    view_.SetEnabled(c, false);
  }

  const std::pair<Control, BarId> phases[] = {{Control::CheckBox1, BarId::Read},
                                              {Control::CheckBox2, BarId::Write},
                                              {Control::CheckBox3, BarId::Copy},
                                              {Control::CheckBox4, BarId::Latency}};
  for (const auto& [box, test] : phases) {
    if (StopRequested()) break;
    if (view_.Checked(box)) {
      try {
        view_.ClickTestButton(test);
      } catch (const std::exception& e) {
        AddError(errors_, e.what());
      }
    }
    if (StopRequested()) break;
    // Also without the test: the score follows the captions, old results included.
    UpdateScore();
  }

  for (Control c :
       {Control::Button7, Control::CheckBox1, Control::CheckBox2, Control::CheckBox3, Control::CheckBox4}) {
    view_.SetEnabled(c, true);
  }
  view_.SetEnabled(Control::Upload, view_.UploadTag() == 0);
  view_.SetEnabled(Control::CheckBox5, true);

  // An unfinished run is not logged.
  if (view_.Checked(Control::CheckBox5) && !StopRequested()) {
    const RecordInputs inputs = CurrentRecordInputs(view_, environment_);
    std::string error;
    bool written = false;
    try {
      const auto lookup = environment_.countryLookup
                              ? environment_.countryLookup
                              : std::function<std::string()>([] { return std::string("--"); });
      written = WriteResultRecord(environment_.logPath, inputs, lookup, &error);
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
  }
  ApplyUploadGate(view_, cache);
  view_.SetEnabled(Control::Gauge, true);
  view_.SetBusyCursor(false);
  inRun_ = false;

  if (!errors_.empty() && !StopRequested()) {
    std::string text = errors_.size() == 1 ? "The run met an error:\n\n" : "The run met these errors:\n\n";
    for (const std::string& e : errors_) text += e + "\n";
    view_.ShowMessage(kMessageTitleRun, text);
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
