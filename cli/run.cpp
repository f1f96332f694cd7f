// quorvex-cli run: the window's start-up gathering and " Start Bench!" without a window, through
// the same sequence code the window uses.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/run_results.h"
#include "cli/terminal_view.h"
#include "core/score.h"
#include "online/session.h"
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

void PrintPanels(const sysinfo::PanelTexts& p) {
  std::printf("%10s  %s\n", "OS", p.osp.c_str());
  std::printf("%10s  %s  [%s]  %s\n", "CPU", p.cpup.c_str(), p.cpucores.c_str(), p.cpuclockp.c_str());
  std::printf("%10s  %s\n", "Memory", p.ramp.c_str());
  std::printf("%10s  %s\n", "Timings", p.ramtimip.c_str());
  std::printf("%10s  %s\n", "Mainboard", p.mainbp.c_str());
  for (int i = 0; i < 4; ++i)
    std::printf("%10s  %s\n", ("Ram #" + std::to_string(i + 1)).c_str(), p.modules[i].c_str());
}

}  // namespace

const TerminalRun* LastTerminalRun() { return lastRun ? &*lastRun : nullptr; }

int Run(const RunOptions& options) {
  const bool log = options.log;
  const std::set<std::string>& tests = options.tests;
  core::WindowState state;
  TerminalView view(state);
  sysinfo::LoadWorkers workers;
  std::fprintf(stderr, "Gathering the system information...\n");
  core::MachineFacts facts = core::Gather(state, view, core::RealGatheringSteps(view, workers));
  if (const std::string notice = sysinfo::MemoryNotice(facts.spec); !notice.empty())
    std::fprintf(stderr, "quorvex-cli: %s\n", notice.c_str());
  PrintPanels(state.Panels());
  std::fflush(stdout);

  core::ModuleHost host(facts.spec);
  core::RunEnvironment environment = online::ProgramEnvironment();
  environment.machineIdHash = facts.machineIdHash;
  core::RunSequence run(state, view, host, environment);
  for (core::BarId id : core::kBars) {
    std::string name = core::BarName(id);
    for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
    state.SetChecked(core::TestBox(id), tests.count(name) != 0);
  }
  state.SetChecked(core::Control::LogBox, log);

  const size_t messagesBefore = view.Messages().size();
  {
    const InterruptStops interrupt(run);
    run.RunAll();
  }
  if (run.StopRequested()) {
    std::fprintf(stderr, "Stopped: the run was interrupted; nothing was logged.\n");
    return 130;
  }
  const bool runFailed = view.Messages().size() > messagesBefore;

  std::printf("\n");
  for (core::BarId id : core::kBars) {
    std::printf("%s\n", state.Bar(id).caption.c_str());
    // How steady the figure is: the samples behind it and their spread (max - min over the mean).
    if (!view.Spread(id).empty()) std::printf("    %s\n", view.Spread(id).c_str());
  }
  // A score caption ends in a blank; "no score" does not.
  std::printf("%s%sGByte/s\n", state.ScoreCaption().c_str(),
              state.ScoreCaption() == core::kNoScoreCaption ? " " : "");
  if (log && !runFailed) std::printf("Logged to %s\n", run.Environment().logPath.c_str());
  std::fflush(stdout);

  TerminalRun result;
  result.facts = std::move(facts);
  result.state = state;
  result.state.SetListener({});
  result.environment = run.Environment();
  lastRun = std::move(result);

  int code = runFailed ? 1 : 0;
  if (options.upload) {
    const int uploaded = UploadAfterRun();
    if (uploaded != 0) code = uploaded;
  }
  return code;
}

}  // namespace cli
