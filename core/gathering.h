// The start-up gathering of the machine's facts (behind the window's Button2Click): lock the controls, keep
// the processor busy, run the carried report tool, convert its report, compose the panels, compute the
// identity hash, unlock, and apply the upload gate. Written once for the window and the terminal.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/run_sequence.h"
#include "sysinfo/panels.h"
#include "sysinfo/runner.h"
#include "sysinfo/system_spec.h"

namespace core {

// What the gathering learns; the window keeps it for the run, the record, upload and compare.
struct MachineFacts {
  sysinfo::SystemSpec spec;
  double memoryClock = 0;
  std::string machineIdHash;
  std::vector<std::string> reportLines;  // the report buffer (Memo2)
};

// The pieces of the gathering that touch the machine, replaceable in tests.
struct GatheringSteps {
  // Starts the processor load (one worker on a single processor, two otherwise).
  std::function<void()> startLoad;
  // Stops both load workers, load01 first.
  std::function<void()> stopLoad;
  // Waits ms milliseconds while the view keeps processing events.
  std::function<void(unsigned ms)> pumpWait;
  // Writes and runs the report tool, returns the report's lines (empty on failure; error set when
  // the tool could not even be written).
  std::function<std::vector<std::string>(std::string* error)> runReportTool;
};

// The steps over the carried report tool and the given load workers.
GatheringSteps RealGatheringSteps(BenchView& view, sysinfo::LoadWorkers& workers);

// Runs the whole gathering; returns the facts. A failure on the way (the report tool could not be
// written) still composes the panels from what is known, unlocks the window, and is shown once.
MachineFacts Gather(WindowState& state, BenchView& view, const GatheringSteps& steps);

}  // namespace core
