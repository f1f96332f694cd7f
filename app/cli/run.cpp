// quorvex-cli run: the window's start-up gathering and " Start Bench!" without a window, through
// the same sequence code the window uses.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>

#include "app/cli/commands.h"
#include "app/cli/run_results.h"
#include "app/core/record.h"
#include "app/core/score.h"
#include "online/lookups.h"
#include "platform/file_version.h"
#include "sysinfo/panels.h"

namespace cli {

namespace {

std::optional<TerminalRun> lastRun;

// Ctrl+C during a run: the module call in progress finishes, then the run stops (a second Ctrl+C
// ends the program at once). Only async-signal-safe work here: an atomic store and write(2).
core::RunSequence* runToStop = nullptr;

void OnInterrupt(int) {
  if (runToStop != nullptr) runToStop->RequestStop();
  static const char kNote[] = "\nStopping after the module call in progress (Ctrl+C again ends at once)...\n";
  const ssize_t ignored = ::write(2, kNote, sizeof kNote - 1);
  (void)ignored;
}

// Catches SIGINT for as long as it lives, with the earlier handling restored after.
class InterruptStops {
 public:
  explicit InterruptStops(core::RunSequence& run) {
    runToStop = &run;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, &previous_);
  }
  ~InterruptStops() {
    ::sigaction(SIGINT, &previous_, nullptr);
    runToStop = nullptr;
  }
  InterruptStops(const InterruptStops&) = delete;
  InterruptStops& operator=(const InterruptStops&) = delete;

 private:
  struct sigaction previous_ = {};
};

const char* BarName(core::BarId id) {
  switch (id) {
    case core::BarId::Read:
      return "READ";
    case core::BarId::Write:
      return "WRITE";
    case core::BarId::Copy:
      return "COPY";
    case core::BarId::Latency:
      return "LATENCY";
  }
  return "";
}

// The window's state held in memory; the progress of a running test goes to standard error.
class TerminalView : public core::BenchView {
 public:
  TerminalView() {
    const char* captions[] = {"READ", "WRITE", "COPY", "LATENCY"};
    for (int i = 0; i < 4; ++i) {
      bars_[i].max = i == 3 ? 1500 : 100;
      bars_[i].caption = captions[i];
    }
    for (core::Control c : {core::Control::CheckBox1, core::Control::CheckBox2, core::Control::CheckBox3,
                            core::Control::CheckBox4}) {
      checked_[c] = true;
    }
  }

  void SetSequence(core::RunSequence* run) { run_ = run; }
  void SetChecked(core::Control control, bool checked) { checked_[control] = checked; }
  bool Enabled(core::Control control) const {
    const auto it = enabled_.find(control);
    return it != enabled_.end() && it->second;
  }
  const std::vector<std::string>& Messages() const { return messages_; }

  core::BarValue Bar(core::BarId id) const override { return bars_[static_cast<int>(id)]; }
  void SetBar(core::BarId id, const core::BarValue& value) override { bars_[static_cast<int>(id)] = value; }

  int ProgressPosition() const override { return progress_; }
  void SetProgressPosition(int position) override {
    progress_ = std::clamp(position, 0, progressMax_);
    // A redrawn line only where someone watches; a log file gets the start and end lines.
    if (current_ && progress_ > 0 && interactive_) {
      const int width = 30;
      const int filled = progressMax_ > 0 ? progress_ * width / progressMax_ : 0;
      std::fprintf(stderr, "\r%-8s [%s%s] %d/%d", BarName(*current_), std::string(filled, '#').c_str(),
                   std::string(width - filled, '.').c_str(), progress_, progressMax_);
      std::fflush(stderr);
      drawn_ = true;
    }
  }
  void SetProgressMax(int max) override { progressMax_ = std::max(0, max); }

  bool Checked(core::Control control) const override {
    const auto it = checked_.find(control);
    return it != checked_.end() && it->second;
  }
  void SetEnabled(core::Control control, bool enabled) override { enabled_[control] = enabled; }
  int UploadTag() const override { return 0; }

  std::string PanelText(core::Panel panel) const override {
    const auto it = panels_.find(panel);
    return it == panels_.end() ? std::string() : it->second;
  }
  void SetPanelText(core::Panel panel, const std::string& text) override { panels_[panel] = text; }

  std::string ScoreCaption() const override { return score_; }
  void SetScoreCaption(const std::string& text) override { score_ = text; }

  void SetBusyCursor(bool) override {}
  void ShowMessage(const std::string& title, const std::string& text) override {
    EndProgressLine();
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    messages_.push_back(text);
  }

  void ClickTestButton(core::BarId id) override {
    switch (id) {
      case core::BarId::Read:
        run_->bbreadClick();
        break;
      case core::BarId::Write:
        run_->bbwriteClick();
        break;
      case core::BarId::Copy:
        run_->bbcopyClick();
        break;
      case core::BarId::Latency:
        run_->bblatenClick();
        break;
    }
  }
  void TestStarted(core::BarId id) override {
    current_ = id;
    std::fprintf(stderr, interactive_ ? "%-8s running..." : "%-8s running...\n", BarName(id));
    std::fflush(stderr);
    drawn_ = interactive_;
  }
  void TestFinished(core::BarId id) override {
    EndProgressLine();
    std::fprintf(stderr, "%-8s done: %s\n", BarName(id), bars_[static_cast<int>(id)].caption.c_str());
    current_.reset();
  }
  void ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string&) override {
    spreads_[static_cast<int>(id)] = core::SpreadText(summary);
  }
  // "5 samples, spread 0.42 %" for a test of this run, empty for one that did not run.
  const std::string& Spread(core::BarId id) const { return spreads_[static_cast<int>(id)]; }

 private:
  void EndProgressLine() {
    if (drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

  std::array<core::BarValue, 4> bars_;
  std::array<std::string, 4> spreads_;
  std::map<core::Control, bool> checked_;
  std::map<core::Control, bool> enabled_;
  std::map<core::Panel, std::string> panels_;
  std::string score_ = core::kNoScore;
  int progress_ = 0;
  int progressMax_ = 100;
  std::optional<core::BarId> current_;
  bool drawn_ = false;
  bool interactive_ = ::isatty(2) == 1;
  core::RunSequence* run_ = nullptr;
  std::vector<std::string> messages_;
};

void PrintPanels(const sysinfo::PanelTexts& p) {
  std::printf("%10s  %s\n", "OS", p.osp.c_str());
  std::printf("%10s  %s  [%s]  %s\n", "CPU", p.cpup.c_str(), p.cpucores.c_str(), p.cpuclockp.c_str());
  std::printf("%10s  %s\n", "Memory", p.ramp.c_str());
  std::printf("%10s  %s\n", "Timings", p.ramtimip.c_str());
  std::printf("%10s  %s\n", "Mainboard", p.mainbp.c_str());
  for (int i = 0; i < 4; ++i)
    std::printf("%10s  %s\n", ("Ram #" + std::to_string(i + 1)).c_str(), p.modules[i].c_str());
}

int Usage(const std::string& problem) {
  std::fprintf(
      stderr,
      "quorvex-cli run: %s\nusage: quorvex-cli run [--log] [--tests read,write,copy,latency] [--upload]\n",
      problem.c_str());
  return 2;
}

}  // namespace

const TerminalRun* LastTerminalRun() { return lastRun ? &*lastRun : nullptr; }

int Run(const std::vector<std::string>& args) {
  bool log = false;
  bool uploadAfter = false;
  std::set<std::string> tests = {"read", "write", "copy", "latency"};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--log") {
      log = true;
    } else if (arg == "--upload") {
      uploadAfter = true;
    } else if (arg == "--tests" || arg.rfind("--tests=", 0) == 0) {
      std::string list;
      if (arg == "--tests") {
        if (i + 1 >= args.size()) return Usage("--tests needs a list such as read,write");
        list = args[++i];
      } else {
        list = arg.substr(8);
      }
      tests.clear();
      std::stringstream words(list);
      std::string word;
      while (std::getline(words, word, ',')) {
        if (word.empty()) continue;
        if (word != "read" && word != "write" && word != "copy" && word != "latency") {
          return Usage("unknown test \"" + word + "\"");
        }
        tests.insert(word);
      }
    } else if (arg == "--help" || arg == "-h") {
      Usage("runs the benchmark as the window's \" Start Bench!\" does");
      return 0;
    } else {
      return Usage("unknown option " + arg);
    }
  }

  TerminalView view;
  sysinfo::LoadWorkers workers;
  std::fprintf(stderr, "Gathering the system information...\n");
  core::MachineFacts facts = core::Button2Click(view, core::RealGatheringSteps(view, workers));
  if (const std::string notice = sysinfo::MemoryNotice(facts.spec); !notice.empty())
    std::fprintf(stderr, "quorvex-cli: %s\n", notice.c_str());
  const sysinfo::PanelTexts panels = core::ReadPanels(view);
  PrintPanels(panels);
  std::fflush(stdout);

  core::ModuleHost host(facts.spec);
  core::RunEnvironment environment;
  environment.logPath = core::LogFilePath();
  environment.machineIdHash = facts.machineIdHash;
  environment.versionText = platform::FileVersionText("");
  environment.countryLookup = [] { return online::LookupCountryCode(); };
  core::RunSequence run(view, host, environment);
  view.SetSequence(&run);
  view.SetChecked(core::Control::CheckBox1, tests.count("read") != 0);
  view.SetChecked(core::Control::CheckBox2, tests.count("write") != 0);
  view.SetChecked(core::Control::CheckBox3, tests.count("copy") != 0);
  view.SetChecked(core::Control::CheckBox4, tests.count("latency") != 0);
  view.SetChecked(core::Control::CheckBox5, log);

  const size_t messagesBefore = view.Messages().size();
  {
    const InterruptStops interrupt(run);
    run.Button7Click();
  }
  if (run.StopRequested()) {
    std::fprintf(stderr, "Stopped: the run was interrupted; nothing was logged.\n");
    return 130;
  }
  const bool runFailed = view.Messages().size() > messagesBefore;

  std::printf("\n");
  for (core::BarId id : {core::BarId::Read, core::BarId::Write, core::BarId::Copy, core::BarId::Latency}) {
    std::printf("%s\n", view.Bar(id).caption.c_str());
    // How steady the figure is: the samples behind it and their spread (max - min over the mean).
    if (!view.Spread(id).empty()) std::printf("    %s\n", view.Spread(id).c_str());
  }
  std::printf("%sGByte/s\n", view.ScoreCaption() == core::kNoScore ? "--.-- " : view.ScoreCaption().c_str());
  if (log && !runFailed) std::printf("Logged to %s\n", environment.logPath.c_str());
  std::fflush(stdout);

  TerminalRun result;
  result.facts = std::move(facts);
  result.panels = panels;
  for (core::BarId id : {core::BarId::Read, core::BarId::Write, core::BarId::Copy, core::BarId::Latency}) {
    result.bars.push_back(view.Bar(id));
  }
  result.score = view.ScoreCaption();
  result.environment = run.Environment();
  result.uploadAllowed = view.Enabled(core::Control::Upload);
  lastRun = std::move(result);

  int code = runFailed ? 1 : 0;
  if (uploadAfter) {
    const int uploaded = UploadAfterRun(args);
    if (uploaded != 0) code = uploaded;
  }
  return code;
}

}  // namespace cli
