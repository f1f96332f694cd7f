// What `quorvex-cli run` leaves behind for the steps after it (the upload renders the main window
// offscreen from it).
#pragma once

#include <string>
#include <vector>

#include "app/core/gathering.h"
#include "app/core/run_sequence.h"
#include "sysinfo/panels.h"

namespace cli {

struct TerminalRun {
  core::MachineFacts facts;
  sysinfo::PanelTexts panels;
  std::vector<core::BarValue> bars;  // in the order of core::BarId
  std::string score;                 // as acLabel3 shows it ("--.--" or "10.39 ")
  core::RunEnvironment environment;
  int uploadTag = 0;
  bool uploadAllowed = false;  // the upload button's state after the run
};

// The last run of this process; nullptr before one has finished.
const TerminalRun* LastTerminalRun();

}  // namespace cli
