// What `quorvex-cli run` leaves behind for the steps after it (the upload renders the main
// window's face offscreen from it).
#pragma once

#include "core/gathering.h"
#include "core/run_sequence.h"
#include "core/window_state.h"

namespace cli {

struct TerminalRun {
  core::MachineFacts facts;
  core::WindowState state;  // as the window would show it after the run
  core::RunEnvironment environment;
};

// The last run of this process; nullptr before one has finished.
const TerminalRun* LastTerminalRun();

}  // namespace cli
