// quorvex-cli run --upload: the window's score upload after a terminal run. The option is the
// consent, so there is no confirmation; the picture is the main window rendered offscreen with the
// run's results.
#include "online/upload.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/cli/commands.h"
#include "app/cli/offscreen_app.h"
#include "app/cli/run_results.h"
#include "app/core/record.h"
#include "app/window/form1.h"
#include "online/http_client.h"
#include "online/window_shot.h"
#include "sysinfo/system_spec.h"

namespace cli {

int UploadAfterRun(const std::vector<std::string>&) {
  const TerminalRun* run = LastTerminalRun();
  if (run == nullptr) {
    std::fprintf(stderr, "quorvex-cli: no finished run to upload\n");
    return 2;
  }
  if (!run->uploadAllowed) {
    // The window would have left its upload button disabled after this run.
    std::fprintf(stderr, "%s: the upload is not available for this run (the system summary is incomplete)\n",
                 online::kUploadTitle);
    return 1;
  }
  OffscreenApplication();
  window::FormOptions options;
  options.startUp = false;
  options.show = false;
  TForm1 form(options);
  form.ShowResults(run->facts, run->panels, run->bars, run->score);
  form.Environment() = run->environment;

  online::UploadFacts facts;
  facts.memoryType = sysinfo::SpecValue(form.Spec(), "CHIP_MEMORY_TYPE");
  facts.channels = sysinfo::SpecValue(form.Spec(), "CHIP_CHANNELS");
  facts.memoryClock = form.MemoryClock();
  facts.scoreCaption = form.ScoreText();
  facts.applicationTitle = form.ApplicationTitle();

  online::UploadDialogs dialogs;  // no confirmation: --upload is the consent
  std::string told;
  dialogs.inform = [&told](const std::string& text, bool) { told = text; };

  online::SubmissionSteps steps;
  steps.saveWindowShot = [&form](const std::string& path, std::string* error) {
    return online::SaveWindowShot(&form, path, error);
  };
  steps.writeRecord = [&form](const std::string& path, std::string* error) {
    const auto& lookup = form.Environment().countryLookup;
    return core::WriteResultRecord(
        path, form.CurrentRecordInputs(), lookup ? lookup : [] { return std::string("--"); }, error);
  };

  const std::string stop =
      online::UploadPrecheck(facts.memoryType, facts.channels, facts.memoryClock, facts.scoreCaption);
  if (!stop.empty()) {
    std::fprintf(stderr, "%s:%s\n", online::kUploadTitle, stop.c_str());
    return 1;
  }
  std::fprintf(stderr, "Uploading the result to %s ...\n", online::ServerBase().c_str());
  std::string stored;
  const bool done = online::RunUpload(facts, dialogs, steps, &stored);
  std::fprintf(done ? stdout : stderr, "%s:%s\n", online::kUploadTitle, told.c_str());
  if (done && !stored.empty()) std::printf("The result is at %s\n", stored.c_str());
  return done ? 0 : 1;
}

}  // namespace cli
