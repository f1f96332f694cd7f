// The run against an in-memory view and a quick host: arguments, captions, scale, and what
// happens when something inside the run fails.
#include "app/core/run_sequence.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <thread>

#include "app/core/gathering.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/window/fakes.h"

namespace {

using core::BarId;
using core::Control;
using core::Panel;

class MemoryView : public core::BenchView {
 public:
  MemoryView() {
    const char* captions[] = {"READ", "WRITE", "COPY", "LATENCY"};
    for (int i = 0; i < 4; ++i) {
      bars[i].max = i == 3 ? 1500 : 100;
      bars[i].caption = captions[i];
    }
    for (Control c : {Control::CheckBox1, Control::CheckBox2, Control::CheckBox3, Control::CheckBox4})
      checked[c] = true;
    panels[Panel::osp] = "Debian GNU/Linux 12";
    panels[Panel::cpup] = "Intel Core i7-8700K @ 3.70GHz";
  }

  std::array<core::BarValue, 4> bars;
  std::map<Control, bool> checked, enabled;
  std::map<Panel, std::string> panels;
  std::string score = "--.--";
  int progress = 0, progressMax = 100, progressPeak = 0;
  std::vector<int> progressMaxima;
  bool busy = false;
  std::vector<std::string> events;  // in order: "busy", "idle", "message", "enable Upload 0", ...
  std::vector<std::string> messages;
  std::map<BarId, core::SampleSummary> summaries;
  core::RunSequence* run = nullptr;

  core::BarValue Bar(BarId id) const override { return bars[static_cast<int>(id)]; }
  void SetBar(BarId id, const core::BarValue& v) override { bars[static_cast<int>(id)] = v; }
  int ProgressPosition() const override { return progress; }
  void SetProgressPosition(int p) override {
    progress = std::clamp(p, 0, progressMax);
    progressPeak = std::max(progressPeak, progress);
  }
  void SetProgressMax(int m) override {
    progressMax = m;
    progressMaxima.push_back(m);
  }
  bool Checked(Control c) const override { return checked.count(c) != 0 && checked.at(c); }
  void SetEnabled(Control c, bool e) override {
    enabled[c] = e;
    if (c == Control::Upload || c == Control::Gauge) {
      events.push_back(std::string(c == Control::Upload ? "Upload " : "Gauge ") + (e ? "1" : "0"));
    }
  }
  int UploadTag() const override { return 0; }
  std::string PanelText(Panel p) const override { return panels.count(p) != 0 ? panels.at(p) : "* - *"; }
  void SetPanelText(Panel p, const std::string& t) override { panels[p] = t; }
  std::string ScoreCaption() const override { return score; }
  void SetScoreCaption(const std::string& t) override { score = t; }
  void SetBusyCursor(bool b) override {
    busy = b;
    events.push_back(b ? "busy" : "idle");
  }
  void ShowMessage(const std::string&, const std::string& text) override {
    // The user must be able to act on the message: nothing may still be locked.
    EXPECT_FALSE(busy);
    EXPECT_TRUE(enabled[Control::Button7]);
    events.push_back("message");
    messages.push_back(text);
  }
  void ShowSamples(BarId id, const core::SampleSummary& summary, const std::string&) override {
    summaries[id] = summary;
  }
  void ClickTestButton(BarId id) override {
    switch (id) {
      case BarId::Read:
        run->bbreadClick();
        break;
      case BarId::Write:
        run->bbwriteClick();
        break;
      case BarId::Copy:
        run->bbcopyClick();
        break;
      case BarId::Latency:
        run->bblatenClick();
        break;
    }
  }
};

struct Fixture : ::testing::Test {
  MemoryView view;
  fakes::QuickHost host;
  core::RunSequence run{view, host, core::RunEnvironment{}};
  Fixture() { view.run = &run; }
};

TEST_F(Fixture, FullRunUsesTheFixedArgumentsAndShowsEachResult) {
  run.Button7Click();
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

  EXPECT_EQ(view.bars[0].caption, "READ  13847  MByte/s");
  EXPECT_EQ(view.bars[1].caption, "WRITE  7955  MByte/s");
  EXPECT_EQ(view.bars[2].caption, "COPY  9831  MByte/s");
  EXPECT_EQ(view.bars[3].caption, "LATENCY  65.5  ns");
  EXPECT_EQ(view.score, "10.54 ");
  // Each bar stops at value - 1; the three then share the largest maximum.
  EXPECT_EQ(run.SharedBarMax(), 13846);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(view.bars[i].max, 13846);
  EXPECT_EQ(view.bars[0].position, 13846);
  EXPECT_EQ(view.bars[1].position, 7954);
  EXPECT_EQ(view.bars[3].position, 655);
  EXPECT_EQ(view.bars[3].max, 1500);
  EXPECT_EQ(view.progress, 0);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(view.events.back(), "idle");
}

TEST_F(Fixture, BarsClampAsTheWindowsBarsDo) {
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

TEST_F(Fixture, AModuleThatGivesNothingShowsZeroAndNoScore) {
  host.figures["-b10 -g8 -m128"] = {};
  host.figures["-b10 -g4 -m256"] = {};
  host.latencies = {"0"};
  run.Button7Click();
  EXPECT_EQ(view.bars[1].caption, "WRITE  0  MByte/s");
  EXPECT_EQ(view.bars[3].caption, "LATENCY  0.0  ns");
  EXPECT_EQ(view.score, "--.--");
  EXPECT_TRUE(view.messages.empty());  // the system shows no message for an empty result
}

TEST_F(Fixture, AModuleThatCannotBeWrittenEndsThatTestButNotTheRun) {
  host.failArguments = "-b11 -g4 -m128";
  run.Button7Click();
  // The failed test shows 0 rather than a figure from half its calls; the others still ran.
  EXPECT_EQ(view.bars[0].caption, "READ  0  MByte/s");
  EXPECT_EQ(view.bars[1].caption, "WRITE  7955  MByte/s");
  EXPECT_EQ(view.bars[3].caption, "LATENCY  65.5  ns");
  EXPECT_EQ(view.score, "--.--");
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("READ: the module image could not be written (disk full)"),
            std::string::npos);
  // The message comes last, after the enabling rules and the normal cursor.
  EXPECT_EQ(view.events.back(), "message");
  EXPECT_TRUE(view.enabled[Control::Button7]);
  EXPECT_TRUE(view.enabled[Control::Gauge]);
  EXPECT_TRUE(view.enabled[Control::CheckBox5]);
}

TEST_F(Fixture, ALatencyModuleThatCannotBeWrittenIsOneMessage) {
  host.failLatency = true;
  view.checked[Control::CheckBox1] = view.checked[Control::CheckBox2] = view.checked[Control::CheckBox3] =
      false;
  run.Button7Click();
  EXPECT_EQ(view.bars[3].caption, "LATENCY  0.0  ns");
  EXPECT_EQ(host.calls, std::vector<std::string>{"latency"});  // no point asking three more times
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("LATENCY:"), std::string::npos);
}

TEST_F(Fixture, AnExceptionInsideATestIsCaughtAndTheWindowUnlocked) {
  host.onCall = [] { throw std::runtime_error("out of memory"); };
  run.Button7Click();
  EXPECT_FALSE(view.busy);
  EXPECT_TRUE(view.enabled[Control::Button7]);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("out of memory"), std::string::npos);
}

TEST_F(Fixture, ALogThatCannotBeWrittenIsOneMessageAndTheRunCompletes) {
  std::string error;
  const std::string folder = platform::PrivateFolder(&error) + "/log-is-a-folder";
  ASSERT_TRUE(platform::MakeFolders(folder + "/Quorvex2_LOG.csv"));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";  // a folder: it cannot be read or replaced
  run.Environment().countryLookup = [] { return std::string("DE"); };
  view.checked[Control::CheckBox5] = true;
  host.cache = "999999";
  run.Button7Click();
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("was not written"), std::string::npos);
  // Steps after the log still happened: the upload gate closed, gauge enabled, cursor normal.
  EXPECT_EQ(view.events[view.events.size() - 4], "Upload 0");
  EXPECT_EQ(view.events[view.events.size() - 3], "Gauge 1");
  EXPECT_EQ(view.events[view.events.size() - 2], "idle");
  EXPECT_EQ(view.events.back(), "message");
}

TEST_F(Fixture, RecordInputsAreWhatTheViewShows) {
  run.Environment().machineIdHash = "0123456789ABCDEF0123456789ABCDEF";
  run.Environment().versionText = "3.0.24.109";
  run.Button7Click();
  const core::RecordInputs in = core::CurrentRecordInputs(view, run.Environment());
  EXPECT_EQ(in.readCaption, "READ  13847  MByte/s");
  EXPECT_EQ(in.latencyCaption, "LATENCY  65.5  ns");
  EXPECT_EQ(in.scoreCaption, "10.54 ");
  EXPECT_EQ(in.panels.cpup, "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(in.panels.ramp, "* - *");
  EXPECT_EQ(in.idHash, "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(in.version, "3.0.24.109");
}

TEST_F(Fixture, EveryResultComesWithItsSamplesAndTheirSpread) {
  host.figures["-b10 -g4 -m256"] = {"7432.00", "8175.20"};  // a second, 10 % faster WRITE line
  run.Button7Click();
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

TEST_F(Fixture, ModuleCallsRunOffTheSequencesThreadAndReportEveryText) {
  std::vector<std::thread::id> threads;
  host.onCall = [&] { threads.push_back(std::this_thread::get_id()); };
  host.figures["-b11 -g4 -m64"] = {"12345.67", "12345.67", "12345.67"};
  view.checked[Control::CheckBox2] = view.checked[Control::CheckBox3] = view.checked[Control::CheckBox4] =
      false;
  run.Button7Click();
  ASSERT_EQ(threads.size(), 2u);
  for (const auto& t : threads) EXPECT_NE(t, std::this_thread::get_id());
  // Three texts of the first call and one of the second, each one step of the progress.
  EXPECT_EQ(view.progressPeak, 4);
  EXPECT_EQ(view.summaries[BarId::Read].values.size(), 4u);
}

TEST_F(Fixture, AStopDuringACallEndsTheRunAfterItWithoutLogOrMessage) {
  const std::string folder = platform::PrivateFolder() + "/stopped-run";
  ASSERT_TRUE(platform::MakeFolders(folder));
  run.Environment().logPath = folder + "/Quorvex2_LOG.csv";
  run.Environment().countryLookup = [] { return std::string("DE"); };
  view.checked[Control::CheckBox5] = true;
  // Ctrl+C or a close arrives while the first WRITE call measures (from another thread).
  host.onCall = [&] {
    if (host.calls.back() == "-b10 -g8 -m128|WRITE-") run.RequestStop();
  };
  run.Button7Click();
  EXPECT_EQ(host.calls.size(), 3u);  // two READ calls, the WRITE call in progress finished
  EXPECT_EQ(view.bars[0].caption, "READ  13847  MByte/s");
  EXPECT_EQ(view.bars[1].caption, "WRITE");  // no figure from half a test
  EXPECT_EQ(view.bars[2].caption, "COPY");
  EXPECT_FALSE(platform::FileExists(run.Environment().logPath));
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(view.busy);
  EXPECT_FALSE(run.Running());
  EXPECT_EQ(view.summaries.count(BarId::Write), 0u);
}

// --- The gathering ---

struct Gathering : ::testing::Test {
  MemoryView view;
  std::vector<std::string> steps;
  core::GatheringSteps Steps(std::function<std::vector<std::string>(std::string*)> tool) {
    core::GatheringSteps s;
    s.startLoad = [this] { steps.push_back("start load"); };
    s.stopLoad = [this] { steps.push_back("stop load"); };
    s.pumpWait = [this](unsigned ms) { steps.push_back("wait " + std::to_string(ms)); };
    s.runReportTool = [this, tool](std::string* error) {
      steps.push_back(view.busy && !view.enabled[Control::ButtonBar] ? "tool (locked)" : "tool (unlocked)");
      return tool(error);
    };
    return s;
  }
};

TEST_F(Gathering, LoadsTheProcessorAroundTheToolAndUnlocksAfter) {
  const core::MachineFacts facts =
      core::Button2Click(view, Steps([](std::string*) { return std::vector<std::string>{}; }));
  EXPECT_EQ(steps, (std::vector<std::string>{"start load", "wait 666", "tool (locked)", "stop load"}));
  EXPECT_FALSE(view.busy);
  EXPECT_TRUE(view.enabled[Control::ButtonBar]);
  EXPECT_TRUE(view.enabled[Control::Gauge]);
  // An empty report: every fact missing, the upload gate closed, no message.
  EXPECT_EQ(view.panels[Panel::cpup], "*");
  EXPECT_FALSE(view.enabled[Control::Upload]);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_EQ(facts.memoryClock, 0);
}

TEST_F(Gathering, AToolThatCannotBeWrittenIsOneMessageAfterTheUnlock) {
  core::Button2Click(view, Steps([](std::string* error) {
                       *error = "the report tool could not be written: no space left";
                       return std::vector<std::string>{};
                     }));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_NE(view.messages[0].find("no space left"), std::string::npos);
  EXPECT_EQ(view.events.back(), "message");
  EXPECT_EQ(view.panels[Panel::osp], "*");
}

TEST_F(Gathering, TheLoadStopsEvenWhenTheToolThrows) {
  core::Button2Click(view, Steps([](std::string*) -> std::vector<std::string> {
                       throw std::runtime_error("cannot start");
                     }));
  EXPECT_EQ(steps.back(), "stop load");
  EXPECT_TRUE(view.enabled[Control::Button7]);
  ASSERT_EQ(view.messages.size(), 1u);
}

}  // namespace
