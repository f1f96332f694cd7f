// quorvex-cli run: the window's start-up gathering and " Start Bench!" without a window, through
// the same sequence code the window uses.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>

#include "cli/commands.h"
#include "cli/run_results.h"
#include "cli/terminal_view.h"
#include "core/gate.h"
#include "core/notices.h"
#include "core/numeric.h"
#include "core/score.h"
#include "core/titles.h"
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

// The results with their samples' spread in one column, and a word where the spread is too wide.
void PrintResults(const core::WindowState& state, const TerminalView& view) {
  std::printf("\n");
  for (core::BarId id : core::kBars) {
    const std::string& caption = state.Bar(id).caption;
    if (view.Spread(id).empty()) {
      std::printf("%s\n", caption.c_str());
      continue;
    }
    std::printf("%-24s  %s\n", caption.c_str(), view.Spread(id).c_str());
    if (const std::string busy = core::BusyWarning(view.Summary(id)); !busy.empty())
      std::printf("%-24s  %s\n", "", busy.c_str());
  }
  // A score caption ends in a blank; "no score" does not.
  std::printf("%s%sGByte/s\n", state.ScoreCaption().c_str(),
              state.ScoreCaption() == core::kNoScoreCaption ? " " : "");
}

void PrintJson(const core::WindowState& state, const TerminalView& view, const std::string& latencyNotice,
               const std::string& logPath) {
  nlohmann::json out;
  out["panels"] = {{"os", state.Panels().osp},           {"cpu", state.Panels().cpup},
                   {"cores", state.Panels().cpucores},   {"cpu_clock", state.Panels().cpuclockp},
                   {"memory", state.Panels().ramp},      {"timings", state.Panels().ramtimip},
                   {"mainboard", state.Panels().mainbp}, {"modules", state.Panels().modules}};
  for (core::BarId id : core::kBars) {
    std::string name = core::BarName(id);
    for (char& c : name) c = static_cast<char>(c - 'A' + 'a');
    nlohmann::json test = {{"caption", state.Bar(id).caption},
                           {"value", core::NumericText(state.Bar(id).caption)}};
    if (!view.Spread(id).empty()) {
      test["samples"] = view.Summary(id).values;
      test["spread_percent"] = view.Summary(id).spreadPercent;
      if (const std::string busy = core::BusyWarning(view.Summary(id)); !busy.empty()) test["warning"] = busy;
    }
    out["tests"][name] = test;
  }
  if (!latencyNotice.empty()) out["tests"]["latency"]["error"] = latencyNotice;
  out["score"] = core::NumericText(state.ScoreCaption());
  if (!logPath.empty()) out["log"] = logPath;
  // Texts are 8-bit as the system holds them; bytes that are not UTF-8 are replaced, not fatal.
  std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

}  // namespace

void PrintUploadStop(const std::string& stop, const core::ShareFacts& facts) {
  std::fprintf(stderr, "%s:%s\n", core::kTitles.upload, stop.c_str());
  if (stop == core::kNoSystemSpecToUpload) {
    if (const std::string missing = core::MissingMemoryFacts(facts); !missing.empty())
      std::fprintf(stderr, "  %s\n", missing.c_str());
  }
}

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
  if (!options.json) PrintPanels(state.Panels());
  std::fflush(stdout);

  core::ModuleHost host(facts.spec);
  // An upload that cannot happen is said before the run, not after it.
  if (options.upload) {
    if (const std::string stop = core::UploadStopBeforeRun(state, facts, host.LargestCacheKBytes());
        !stop.empty()) {
      PrintUploadStop(stop, core::ShareFactsOf(state, facts));
      return 1;
    }
  }
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

  const std::string latencyNotice =
      tests.count("latency")
          ? core::LatencyNotMeasured(state.Bar(core::BarId::Latency).caption, host.LargestCacheKBytes())
          : std::string();
  if (options.json) {
    PrintJson(state, view, latencyNotice, log && !runFailed ? run.Environment().logPath : std::string());
  } else {
    PrintResults(state, view);
    if (log && !runFailed) std::printf("Logged to %s\n", run.Environment().logPath.c_str());
  }
  std::fflush(stdout);
  if (!latencyNotice.empty()) std::fprintf(stderr, "quorvex-cli: %s\n", latencyNotice.c_str());

  TerminalRun result;
  result.facts = std::move(facts);
  result.state = state;
  result.state.SetListener({});
  result.environment = run.Environment();
  lastRun = std::move(result);

  int code = runFailed || !latencyNotice.empty() ? 1 : 0;
  if (options.upload) {
    const int uploaded = UploadAfterRun(options.json);
    if (uploaded != 0) code = uploaded;
  }
  return code;
}

}  // namespace cli
