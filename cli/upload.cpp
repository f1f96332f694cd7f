// quorvex-cli run --upload and quorvex-cli upload: the window's score upload from the terminal.
// The option or the command is the consent, so there is no confirmation; the picture is the main
// window's face rendered offscreen from the run's model.
#include "online/upload.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/commands.h"
#include "cli/drawing.h"
#include "cli/run_results.h"
#include "cli/terminal_view.h"
#include "core/gate.h"
#include "core/numeric.h"
#include "core/record.h"
#include "core/score.h"
#include "core/titles.h"
#include "online/http_client.h"
#include "online/session.h"
#include "sysinfo/runner.h"

namespace cli {

namespace {

// The closing lines go to standard output, or with json (whose object is out already) to error.
int Submit(const TerminalRun& run, bool json) {
  const core::ShareFacts facts = core::ShareFactsOf(run.state, run.facts);
  const std::string stop = core::ShareStop(core::Share::Upload, facts);
  if (!stop.empty()) {
    PrintUploadStop(stop, facts);
    return 1;
  }

  online::UploadDialogs dialogs;  // no confirmation: the command line is the consent
  std::string told;
  dialogs.inform = [&told](const std::string& text, bool) { told = text; };
  const online::SubmissionSteps steps = online::MainSubmissionSteps(
      [&run](const std::string& path, std::string* why) {
        const Drawing* drawing = LoadDrawing(why);
        return drawing != nullptr && drawing->saveFaceShot(run.state, run.environment.versionText, path, why);
      },
      run.state, run.environment);

  std::fprintf(stderr, "Uploading the result to %s ...\n", online::ServerBase().c_str());
  std::string stored;
  const bool done = online::RunUpload(facts, run.state.Title(), dialogs, steps, &stored);
  FILE* out = done && !json ? stdout : stderr;
  std::fprintf(out, "%s:%s\n", core::kTitles.upload, told.c_str());
  if (done && !stored.empty()) std::fprintf(out, "The result is at %s\n", stored.c_str());
  return done ? 0 : 1;
}

}  // namespace

int UploadAfterRun(bool json) {
  const TerminalRun* run = LastTerminalRun();
  if (run == nullptr) {
    std::fprintf(stderr, "quorvex-cli: no finished run to upload\n");
    return 2;
  }
  if (!run->state.Enabled(core::Control::Upload)) {
    // The window would have left its upload button disabled after this run; say why.
    const core::ModuleHost host(run->facts.spec);
    const std::string why = core::UploadStopBeforeRun(run->state, run->facts, host.LargestCacheKBytes());
    std::fprintf(stderr, "%s: the upload is not available for this run (%s)\n", core::kTitles.upload,
                 why.empty() ? "the system summary is incomplete" : why.c_str());
    return 1;
  }
  return Submit(*run, json);
}

int UploadLogged(const UploadOptions& options) {
  const std::string log = options.log.empty() ? core::LogFilePath() : options.log;
  core::ResultRecord record;
  std::string error;
  if (!core::ReadLastRecord(log, &record, &error)) {
    std::fprintf(stderr,
                 "quorvex-cli upload: no logged run to upload (%s); log one with `quorvex-cli run --log`\n",
                 error.c_str());
    return 1;
  }

  TerminalRun run;
  {
    TerminalView view(run.state);
    sysinfo::LoadWorkers workers;
    std::fprintf(stderr, "Gathering the system information...\n");
    run.facts = core::Gather(run.state, view, core::RealGatheringSteps(view, workers));
  }
  run.state.SetListener({});
  // The record names the machine it was made on; only this machine's runs go up as its own.
  if (record[core::RecordField::IdHash] != run.facts.machineIdHash) {
    std::fprintf(stderr, "quorvex-cli upload: the last run in %s was made on another machine (IDHASH %s)\n",
                 log.c_str(), record[core::RecordField::IdHash].c_str());
    return 1;
  }
  core::ModuleHost host(run.facts.spec);
  if (const std::string stop = core::UploadStopBeforeRun(run.state, run.facts, host.LargestCacheKBytes());
      !stop.empty()) {
    PrintUploadStop(stop, core::ShareFactsOf(run.state, run.facts));
    return 1;
  }

  // The window after that run: its figures on the bars and the score label.
  const std::pair<core::BarId, core::RecordField> figures[] = {
      {core::BarId::Read, core::RecordField::Read},
      {core::BarId::Write, core::RecordField::Write},
      {core::BarId::Copy, core::RecordField::Copy},
      {core::BarId::Latency, core::RecordField::Latency}};
  for (const auto& [bar, field] : figures) {
    core::BarValue value = run.state.Bar(bar);
    const std::string figure = core::NumericText(record[field]);
    value.caption = core::ResultCaption(bar, figure);
    const double number = core::ParseDecimal(figure).value_or(0);
    if (bar == core::BarId::Latency) {
      value.SetPosition(static_cast<int>(number * 10 + 0.5));
    } else {
      value.SetMax(static_cast<int>(number) - 1);
      value.SetPosition(static_cast<int>(number));
    }
    run.state.SetBar(bar, value);
  }
  run.environment = online::ProgramEnvironment();
  run.environment.machineIdHash = run.facts.machineIdHash;
  run.environment.runDate = record[core::RecordField::Date];
  run.environment.runTime = record[core::RecordField::Time];
  {
    // The bars' shared scale and the score, from the captions as after that run.
    TerminalView view(run.state);
    core::RunSequence sequence(run.state, view, host, run.environment);
    sequence.UpdateScore();
  }
  run.state.SetListener({});
  std::fprintf(stderr, "Uploading the run of %s %s from %s\n", record[core::RecordField::Date].c_str(),
               record[core::RecordField::Time].c_str(), log.c_str());
  return Submit(run, false);
}

}  // namespace cli
