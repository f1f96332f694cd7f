// quorvex-cli run --upload: the window's score upload after a terminal run. The option is the
// consent, so there is no confirmation; the picture is the main window's face rendered offscreen
// from the run's model.
#include "online/upload.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/commands.h"
#include "cli/drawing.h"
#include "cli/run_results.h"
#include "core/gate.h"
#include "core/titles.h"
#include "online/http_client.h"
#include "online/session.h"

namespace cli {

int UploadAfterRun() {
  const TerminalRun* run = LastTerminalRun();
  if (run == nullptr) {
    std::fprintf(stderr, "quorvex-cli: no finished run to upload\n");
    return 2;
  }
  if (!run->state.Enabled(core::Control::Upload)) {
    // The window would have left its upload button disabled after this run.
    std::fprintf(stderr, "%s: the upload is not available for this run (the system summary is incomplete)\n",
                 core::kTitles.upload);
    return 1;
  }
  const core::ShareFacts facts = core::ShareFactsOf(run->state, run->facts);

  online::UploadDialogs dialogs;  // no confirmation: --upload is the consent
  std::string told;
  dialogs.inform = [&told](const std::string& text, bool) { told = text; };

  const online::SubmissionSteps steps = online::MainSubmissionSteps(
      [run](const std::string& path, std::string* why) {
        const Drawing* drawing = LoadDrawing(why);
        return drawing != nullptr &&
               drawing->saveFaceShot(run->state, run->environment.versionText, path, why);
      },
      run->state, run->environment);

  const std::string stop = core::ShareStop(core::Share::Upload, facts);
  if (!stop.empty()) {
    std::fprintf(stderr, "%s:%s\n", core::kTitles.upload, stop.c_str());
    return 1;
  }
  std::fprintf(stderr, "Uploading the result to %s ...\n", online::ServerBase().c_str());
  std::string stored;
  const bool done = online::RunUpload(facts, run->state.Title(), dialogs, steps, &stored);
  std::fprintf(done ? stdout : stderr, "%s:%s\n", core::kTitles.upload, told.c_str());
  if (done && !stored.empty()) std::printf("The result is at %s\n", stored.c_str());
  return done ? 0 : 1;
}

}  // namespace cli
