// What `quorvex-cli run` leaves behind for the steps after it (the upload renders the main
// window's face offscreen from it).
#pragma once

#include "core/gate.h"
#include "core/gathering.h"
#include "core/run_sequence.h"
#include "core/window_state.h"

namespace cli {

struct TerminalRun {
  core::MachineFacts facts;
  core::WindowState state;  // as the window would show it after the run
  core::RunEnvironment environment;
};

// " Cannot upload, no system spec´s ! " and the like on standard error, with the memory facts
// that are missing after it.
void PrintUploadStop(const std::string& stop, const core::ShareFacts& facts);

// The last run of this process; nullptr before one has finished.
const TerminalRun* LastTerminalRun();

}  // namespace cli
