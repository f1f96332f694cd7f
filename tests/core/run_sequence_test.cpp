// The window's model driven by the run and the gathering against a quick host: arguments,
// captions, scale, locking and unlocking, the log, and what happens when something inside fails.
// Every rule the window follows is checked here; the window's tests check that it draws the model.
#include "core/run_sequence.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>

#include "core/gathering.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"
#include "tests/core/fakes.h"

namespace {

using core::BarId;
using core::Control;

// The run's effects as a front end sees them, and what the model went through.
class RecordingView : public core::BenchView {
 public:
  explicit RecordingView(core::WindowState& state) : state_(state) {
    state.SetListener([this](const core::WindowState::Change& change) {
      using Part = core::WindowState::Part;
      if (change.part == Part::Progress) progressPeak = std::max(progressPeak, state_.ProgressPosition());
      if (change.part == Part::Enabled) {
        const auto c = static_cast<Control>(change.index);
        if (c == Control::Upload || c == Control::Compare) {
          events.push_back(std::string(c == Control::Upload ? "Upload " : "Compare ") +
                           (state_.Enabled(c) ? "1" : "0"));
        }
      }
    });
  }

  int progressPeak = 0;
  std::vector<int> progressMaxima;
  bool busy = false;
  std::vector<std::string> events;  // in order: "busy", "idle", "message", "Upload 0", ...
  std::vector<std::string> messages;
  std::map<BarId, core::SampleSummary> summaries;

  void SetBusyCursor(bool b) override {
    busy = b;
    events.push_back(b ? "busy" : "idle");
  }
  void TestFinished(BarId) override { progressMaxima.push_back(state_.ProgressMax()); }
  void ShowMessage(const std::string&, const std::string& text) override {
    // The user must be able to act on the message: nothing may still be locked.
    EXPECT_FALSE(busy);
    EXPECT_TRUE(state_.Enabled(Control::Start));
    events.push_back("message");
    messages.push_back(text);
  }
  void ShowSamples(BarId id, const core::SampleSummary& summary, const std::string&) override {
    summaries[id] = summary;
  }

 private:
  core::WindowState& state_;
};

// A model as the gathering leaves it on a machine with a known OS and CPU.
struct RunSequenceTest : ::testing::Test {
  core::WindowState state;
  RecordingView view{state};
  fakes::QuickHost host;
  core::RunSequence run{state, view, host, core::RunEnvironment{}};
  RunSequenceTest() {
    sysinfo::PanelTexts panels;
    panels.osp = "Debian GNU/Linux 12";
    panels.cpup = "Intel Core i7-8700K @ 3.70GHz";
    state.SetPanels(panels);
  }
  const core::BarValue& Bar(int i) const { return state.Bar(static_cast<BarId>(i)); }
};

TEST_F(RunSequenceTest, FullRunUsesTheFixedArgumentsAndShowsEachResult) {
  run.RunAll();
  const std::vector<std::string> expected = {"-b11 -g4 -m64|READ-",
                                             "-b11 -g4 -m128|READ-",
                                             "-b10 -g8 -m128|WRITE-",
                                             "-b10 -g4 -m256|WRITE-",
                                             "-b12 -g4|COPY-",
                                             "-b12 -g16|COPY-",
                                             "-b12 -g8|COPY-",
                                             "latency",
                                             "latency",
                                             "latency",
                                             "latency"};
  EXPECT_EQ(host.calls, expected);
  EXPECT_EQ(view.progressMaxima, (std::vector<int>{35, 35, 30, 5}));

  EXPECT_EQ(Bar(0).caption, "READ  13847  MByte/s");
  EXPECT_EQ(Bar(1).caption, "WRITE  7955  MByte/s");
  EXPECT_EQ(Bar(2).caption, "COPY  9831  MByte/s");
  EXPECT_EQ(Bar(3).caption, "LATENCY  65.5  ns");
  EXPECT_EQ(state.ScoreCaption(), "10.54 ");
  // Each bar stops at value - 1; the three then share the largest maximum.
  EXPECT_EQ(run.SharedBarMax(), 13846);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Bar(i).max, 13846);
  EXPECT_EQ(Bar(0).position, 13846);
  EXPECT_EQ(Bar(1).position, 7954);
  EXPECT_EQ(Bar(3).position, 655);
  EXPECT_EQ(Bar(3).max, 1500);
  EXPECT_EQ(state.ProgressPosition(), 0);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.events.back(), "idle");
}

TEST_F(RunSequenceTest, BarsClampAsTheWindowsBarsDo) {
  core::BarValue bar;
  bar.SetMax(1);
  bar.SetPosition(9999);
  EXPECT_EQ(bar.position, 1);
  bar.SetMax(-1);  // value 0 - 1
  EXPECT_EQ(bar.max, 0);
  EXPECT_EQ(bar.position, 0);
  bar.SetMax(500);
  bar.SetPosition(400);
  bar.SetMax(300);
  EXPECT_EQ(bar.position, 300);
}

TEST_F(RunSequenceTest, AModuleThatGivesNothingShowsZeroAndNoScore) {
  host.figures["-b10 -g8 -m128"] = {};
  host.figures["-b10 -g4 -m256"] = {};
  host.latencies = {"0"};
  run.RunAll();
  EXPECT_EQ(Bar(1).caption, "WRITE  0  MByte/s");
  EXPECT_EQ(Bar(3).caption, "LATENCY  0.0  ns");
  EXPECT_EQ(state.ScoreCaption(), "--.--");
  EXPECT_TRUE(view.messages.empty());  // the system shows no message for an empty result
}

TEST_F(RunSequenceTest, AModuleThatCannotBeWrittenEndsThatTestButNotTheRun) {
  host.failArguments = "-b11 -g4 -m128";
  run.RunAll();
  // The failed test shows 0 rather than a figure from half its calls; the others still ran.
  EXPECT_EQ(Bar(0).caption, "READ  0  MByte/s");
  EXPECT_EQ(Bar(1).caption, "WRITE  7955  MByte/s");
  EXPECT_EQ(Bar(3).caption, "LATENCY  65.5  ns");
  EXPECT_EQ(state.ScoreCaption(), "--.--");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("READ: the module image could not be written (disk full)"),
            std::string::npos);
  // The message comes last, after the enabling rules and the normal cursor.
  EXPECT_EQ(view.events.back(), "message");
  EXPECT_TRUE(state.Enabled(Control::Start));
  EXPECT_TRUE(state.Enabled(Control::Compare));
  EXPECT_TRUE(state.Enabled(Control::LogBox));
}

TEST_F(RunSequenceTest, ALatencyModuleThatCannotBeWrittenIsOneMessage) {
  host.failLatency = true;
  for (Control c : {Control::ReadBox, Control::WriteBox, Control::CopyBox}) state.SetChecked(c, false);
  run.RunAll();
  EXPECT_EQ(Bar(3).caption, "LATENCY  0.0  ns");
  EXPECT_EQ(host.calls, std::vector<std::string>{"latency"});  // no point asking three more times
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("LATENCY:"), std::string::npos);
}

TEST_F(RunSequenceTest, AnExceptionInsideATestIsCaughtAndTheWindowUnlocked) {
  host.onCall = [] { throw std::runtime_error("out of memory"); };
  run.RunAll();
  EXPECT_FALSE(view.busy);
  EXPECT_TRUE(state.Enabled(Control::Start));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("out of memory"), std::string::npos);
}

TEST_F(RunSequenceTest, ALogThatCannotBeWrittenIsOneMessageAndTheRunCompletes) {
  std::string error;
  const std::string folder = platform::PrivateFolder(&error) + "/log-is-a-folder";
  ASSERT_TRUE(platform::MakeFolders(folder + "/Quorvex2_LOG.csv"));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";  // a folder: it cannot be read or replaced
  run.Environment().countryLookup = [] { return std::string("DE"); };
  state.SetChecked(Control::LogBox, true);
  host.cache = "999999";
  run.RunAll();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("was not written"), std::string::npos);
  // Steps after the log still happened: the upload gate closed, gauge enabled, cursor normal.
  EXPECT_EQ(view.events[view.events.size() - 4], "Upload 0");
  EXPECT_EQ(view.events[view.events.size() - 3], "Compare 1");
  EXPECT_EQ(view.events[view.events.size() - 2], "idle");
  EXPECT_EQ(view.events.back(), "message");
}

TEST_F(RunSequenceTest, RecordInputsAreWhatTheViewShows) {
  run.Environment().machineIdHash = "0123456789ABCDEF0123456789ABCDEF";
  run.Environment().versionText = "3.0.24.109";
  run.RunAll();
  const core::RecordInputs in = core::CurrentRecordInputs(state, run.Environment());
  EXPECT_EQ(in.readCaption, "READ  13847  MByte/s");
  EXPECT_EQ(in.latencyCaption, "LATENCY  65.5  ns");
  EXPECT_EQ(in.scoreCaption, "10.54 ");
  EXPECT_EQ(in.panels.cpup, "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(in.panels.ramp, "* - *");
  EXPECT_EQ(in.idHash, "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(in.version, "3.0.24.109");
}

TEST_F(RunSequenceTest, EveryResultComesWithItsSamplesAndTheirSpread) {
  host.figures["-b10 -g4 -m256"] = {"7432.00", "8175.20"};  // a second, 10 % faster WRITE line
  run.RunAll();
  // READ and COPY samples on the scale of the value shown (x 1.048), WRITE as is, LAT- in ns.
  ASSERT_EQ(view.summaries[BarId::Read].values.size(), 2u);
  EXPECT_NEAR(view.summaries[BarId::Read].values[0], 13212 * 1.048, 1e-6);
  EXPECT_EQ(view.summaries[BarId::Write].values, (std::vector<double>{7954, 7954, 8749}));
  EXPECT_NEAR(view.summaries[BarId::Write].spreadPercent, 795.0 / (24657.0 / 3) * 100, 1e-9);
  EXPECT_EQ(view.summaries[BarId::Copy].values.size(), 3u);
  EXPECT_EQ(view.summaries[BarId::Copy].spreadPercent, 0.0);
  EXPECT_EQ(view.summaries[BarId::Latency].values, (std::vector<double>{65.43, 65.5, 65.61, 65.48}));
  EXPECT_EQ(core::SpreadText(view.summaries[BarId::Write]), "3 samples, spread 9.67 %");
  EXPECT_EQ(core::SpreadText(core::SummariseSamples({"WRITE-07954"}, core::kWritePrefix)),
            "1 sample, spread 0.00 %");
  EXPECT_EQ(core::SpreadText(core::SummariseSamples({}, core::kWritePrefix)), "no samples");
  EXPECT_EQ(core::SamplesTooltip(view.summaries[BarId::Latency], core::kLatencyPrefix),
            "65.43, 65.50, 65.61, 65.48 ns\n4 samples, spread 0.27 %");
}

TEST_F(RunSequenceTest, ModuleCallsRunOffTheSequencesThreadAndReportEveryText) {
  std::vector<std::thread::id> threads;
  host.onCall = [&] { threads.push_back(std::this_thread::get_id()); };
  host.figures["-b11 -g4 -m64"] = {"12345.67", "12345.67", "12345.67"};
  for (Control c : {Control::WriteBox, Control::CopyBox, Control::LatencyBox}) state.SetChecked(c, false);
  run.RunAll();
  ASSERT_EQ(threads.size(), 2u);
  for (const auto& t : threads) EXPECT_NE(t, std::this_thread::get_id());
  // Three texts of the first call and one of the second, each one step of the progress.
  EXPECT_EQ(view.progressPeak, 4);
  EXPECT_EQ(view.summaries[BarId::Read].values.size(), 4u);
}

TEST_F(RunSequenceTest, AStopDuringACallEndsTheRunAfterItWithoutLogOrMessage) {
  const std::string folder = platform::PrivateFolder() + "/stopped-run";
  ASSERT_TRUE(platform::MakeFolders(folder));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";
  run.Environment().countryLookup = [] { return std::string("DE"); };
  state.SetChecked(Control::LogBox, true);
  // Ctrl+C or a close arrives while the first WRITE call measures (from another thread).
  host.onCall = [&] {
    if (host.calls.back() == "-b10 -g8 -m128|WRITE-") run.RequestStop();
  };
  run.RunAll();
  EXPECT_EQ(host.calls.size(), 3u);  // two READ calls, the WRITE call in progress finished
  EXPECT_EQ(Bar(0).caption, "READ  13847  MByte/s");
  EXPECT_EQ(Bar(1).caption, "WRITE");  // no figure from half a test
  EXPECT_EQ(Bar(2).caption, "COPY");
  EXPECT_FALSE(platform::FileExists(run.Environment().logPath));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(view.busy);
  EXPECT_FALSE(run.Running());
  EXPECT_EQ(view.summaries.count(BarId::Write), 0u);
}

// --- The model as the window opens, and the rules between runs ---

TEST(Model, OpensWithPlainCaptionsTheFourTestsCheckedAndNoScore) {
  const core::WindowState state;
  EXPECT_EQ(state.Bar(BarId::Read).caption, "READ");
  EXPECT_EQ(state.Bar(BarId::Latency).caption, "LATENCY");
  EXPECT_EQ(state.Bar(BarId::Read).max, 100);
  EXPECT_EQ(state.Bar(BarId::Latency).max, 1500);  // full at 150.0 ns
  for (BarId id : core::kBars) EXPECT_TRUE(state.Checked(core::TestBox(id)));
  EXPECT_FALSE(state.Checked(Control::LogBox));
  EXPECT_EQ(state.ScoreCaption(), "--.--");
  EXPECT_EQ(state.Panels().osp, "* - *");
  EXPECT_EQ(state.Panels().cpucores, "");
  EXPECT_EQ(state.Title(), "Quorvex\xC2\xB2");
  EXPECT_EQ(state.UploadTag(), 0);
  EXPECT_EQ(core::ResultCaption(BarId::Copy, "9831"), "COPY  9831  MByte/s");
  EXPECT_EQ(core::ResultCaption(BarId::Latency, "65.5"), "LATENCY  65.5  ns");
}

TEST(Model, ProgressClampsIntoItsRangeAndTellsEachChange) {
  core::WindowState state;
  std::vector<core::WindowState::Part> told;
  state.SetListener([&](const core::WindowState::Change& change) { told.push_back(change.part); });
  state.SetProgressMax(5);
  state.SetProgressPosition(9);
  EXPECT_EQ(state.ProgressPosition(), 5);
  state.SetProgressMax(3);  // the position follows a lowered maximum
  EXPECT_EQ(state.ProgressPosition(), 3);
  state.SetProgressPosition(-1);
  EXPECT_EQ(state.ProgressPosition(), 0);
  EXPECT_EQ(told.size(), 4u);
}

TEST_F(RunSequenceTest, WithNoTestSelectedTheRunOnlyRecomputesTheScore) {
  for (BarId id : core::kBars) state.SetChecked(core::TestBox(id), false);
  run.RunAll();
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(state.ScoreCaption(), "--.--");
  EXPECT_EQ(Bar(0).caption, "READ");

  for (BarId id : core::kBars) state.SetChecked(core::TestBox(id), true);
  run.RunAll();
  for (BarId id : core::kBars) state.SetChecked(core::TestBox(id), false);
  host.calls.clear();
  run.RunAll();
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(state.ScoreCaption(), "10.54 ");  // from the captions left by the earlier run
  EXPECT_TRUE(state.Enabled(Control::Upload));
  EXPECT_TRUE(state.Enabled(Control::Compare));
}

TEST_F(RunSequenceTest, OnlyReadAfterAFullRunKeepsTheOtherResults) {
  run.RunAll();
  EXPECT_EQ(state.ScoreCaption(), "10.54 ");

  host.figures["-b11 -g4 -m64"] = {"15000.00"};
  host.figures["-b11 -g4 -m128"] = {"15000.00"};
  host.calls.clear();
  for (Control c : {Control::WriteBox, Control::CopyBox, Control::LatencyBox}) state.SetChecked(c, false);
  run.RunAll();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"-b11 -g4 -m64|READ-", "-b11 -g4 -m128|READ-"}));
  // 15000 x 1.07025 = 16053.75 -> 16054, x 1.048 = 16824.6
  EXPECT_EQ(Bar(0).caption, "READ  16825  MByte/s");
  EXPECT_EQ(Bar(1).caption, "WRITE  7955  MByte/s");
  EXPECT_EQ(Bar(2).caption, "COPY  9831  MByte/s");
  EXPECT_EQ(Bar(3).caption, "LATENCY  65.5  ns");
  EXPECT_EQ(state.ScoreCaption(), "11.54 ");  // (16825 + 7955 + 9831) / 3000
  EXPECT_EQ(run.SharedBarMax(), 16824);
  EXPECT_EQ(Bar(0).position, Bar(0).max);
  EXPECT_EQ(Bar(1).position, 7954);
  EXPECT_EQ(Bar(1).max, 16824);
}

TEST_F(RunSequenceTest, TheRunLocksTheControlsWhileItRuns) {
  int checks = 0;
  host.onCall = [&] {
    ++checks;
    for (Control c : {Control::Start, Control::ReadBox, Control::LogBox, Control::Upload, Control::Compare})
      EXPECT_FALSE(state.Enabled(c)) << static_cast<int>(c);
    EXPECT_TRUE(view.busy);
  };
  run.RunAll();
  EXPECT_EQ(checks, 11);
  EXPECT_FALSE(view.busy);
  EXPECT_TRUE(state.Enabled(Control::Start));
  EXPECT_EQ(state.ProgressPosition(), 0);
}

TEST_F(RunSequenceTest, AfterAnUploadTheUploadStaysDisabled) {
  state.SetUploadTag(1);
  state.SetEnabled(Control::Upload, false);
  run.RunAll();
  EXPECT_FALSE(state.Enabled(Control::Upload));
  EXPECT_TRUE(state.Enabled(Control::Compare));
}

TEST_F(RunSequenceTest, TheLogIsWrittenBeforeTheUploadRules) {
  const std::string folder = platform::PrivateFolder() + "/logged-run";
  ASSERT_TRUE(platform::MakeFolders(folder));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";
  run.Environment().versionText = "3.0.24.109";
  state.SetChecked(Control::LogBox, true);
  host.cache = "999999";  // the gate will close after the log
  bool uploadEnabledWhileLogging = false;
  int lookups = 0;
  run.Environment().countryLookup = [&] {
    ++lookups;
    uploadEnabledWhileLogging = state.Enabled(Control::Upload);
    return std::string("DE");
  };
  run.RunAll();
  EXPECT_EQ(lookups, 1);
  EXPECT_TRUE(uploadEnabledWhileLogging);
  EXPECT_FALSE(state.Enabled(Control::Upload));
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(run.Environment().logPath, &bytes));
  const std::vector<std::string> lines = sysinfo::SplitLines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("\"DATE\";\"TIME\";", 0), 0u);
  EXPECT_NE(lines[1].find("\"13847\";\"7955\";\"9831\";\"65.5\";\"10.54\";"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"DE\";\"Quorvex2_LOG.csv\";\"3.0.24.109\";"), std::string::npos) << lines[1];

  run.RunAll();  // a second logged run adds exactly one line
  ASSERT_TRUE(platform::ReadWholeFile(run.Environment().logPath, &bytes));
  EXPECT_EQ(sysinfo::SplitLines(bytes).size(), 3u);
  EXPECT_TRUE(view.messages.empty());
}

TEST_F(RunSequenceTest, WithoutLogNoFileIsTouchedAndNoCountryAsked) {
  const std::string folder = platform::PrivateFolder() + "/unlogged-run";
  ASSERT_TRUE(platform::MakeFolders(folder));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";
  int lookups = 0;
  run.Environment().countryLookup = [&] {
    ++lookups;
    return std::string("DE");
  };
  run.RunAll();
  EXPECT_EQ(lookups, 0);
  EXPECT_FALSE(platform::FileExists(run.Environment().logPath));
}

TEST_F(RunSequenceTest, ACpuOrOsPanelOfExactlyAStarClosesTheUploadGate) {
  sysinfo::PanelTexts panels = state.Panels();
  panels.cpup = "*";
  state.SetPanels(panels);
  run.RunAll();
  EXPECT_EQ(state.ScoreCaption(), "10.54 ");  // every test succeeded
  EXPECT_FALSE(state.Enabled(Control::Upload));
}

// --- The gathering ---

struct Gathering : ::testing::Test {
  core::WindowState state;
  RecordingView view{state};
  std::vector<std::string> steps;
  core::GatheringSteps Steps(std::function<std::vector<std::string>(std::string*)> tool) {
    core::GatheringSteps s;
    s.startLoad = [this] { steps.push_back("start load"); };
    s.stopLoad = [this] { steps.push_back("stop load"); };
    s.pumpWait = [this](unsigned ms) { steps.push_back("wait " + std::to_string(ms)); };
    s.runReportTool = [this, tool](std::string* error) {
      steps.push_back(view.busy && !state.Enabled(Control::Buttons) ? "tool (locked)" : "tool (unlocked)");
      return tool(error);
    };
    return s;
  }
};

TEST_F(Gathering, LoadsTheProcessorAroundTheToolAndUnlocksAfter) {
  const core::MachineFacts facts =
      core::Gather(state, view, Steps([](std::string*) { return std::vector<std::string>{}; }));
  EXPECT_EQ(steps, (std::vector<std::string>{"start load", "wait 666", "tool (locked)", "stop load"}));
  EXPECT_FALSE(view.busy);
  EXPECT_TRUE(state.Enabled(Control::Buttons));
  EXPECT_TRUE(state.Enabled(Control::Compare));
  // An empty report: every fact missing, the upload gate closed, no message.
  EXPECT_EQ(state.Panels().cpup, "*");
  EXPECT_FALSE(state.Enabled(Control::Upload));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(facts.memoryClock, 0);
}

TEST_F(Gathering, AToolThatCannotBeWrittenIsOneMessageAfterTheUnlock) {
  core::Gather(state, view, Steps([](std::string* error) {
                 *error = "the report tool could not be written: no space left";
                 return std::vector<std::string>{};
               }));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("no space left"), std::string::npos);
  EXPECT_EQ(view.events.back(), "message");
  EXPECT_EQ(state.Panels().osp, "*");
}

TEST_F(Gathering, TheLoadStopsEvenWhenTheToolThrows) {
  core::Gather(state, view, Steps([](std::string*) -> std::vector<std::string> {
                 throw std::runtime_error("cannot start");
               }));
  EXPECT_EQ(steps.back(), "stop load");
  EXPECT_TRUE(state.Enabled(Control::Start));
  ASSERT_EQ(view.messages.size(), 1u);
}

}  // namespace
