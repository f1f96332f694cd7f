#include "core/gathering.h"

#include <exception>

#include "core/gate.h"
#include "core/host.h"

namespace core {

GatheringSteps RealGatheringSteps(BenchView& view, sysinfo::LoadWorkers& workers) {
  GatheringSteps steps;
  steps.startLoad = [&workers] { workers.Start(); };
  steps.stopLoad = [&workers] { workers.Stop(); };
  steps.pumpWait = [&view](unsigned ms) { sysinfo::PumpWait(ms, [&view] { view.ProcessEvents(); }); };
  steps.runReportTool = [](std::string* error) { return sysinfo::RunReportTool(error); };
  return steps;
}

MachineFacts Gather(WindowState& state, BenchView& view, const GatheringSteps& steps) {
  MachineFacts facts;
  facts.memoryClock = 0;
  // Every panel waits for the report but the processor's threads and clock, which stay as they are.
  sysinfo::PanelTexts waiting;
  waiting.cpucores = state.Panels().cpucores;
  waiting.cpuclockp = state.Panels().cpuclockp;
  state.SetPanels(waiting);
  state.SetEnabled(Control::Buttons, false);
  LockControls(state);
  view.SetBusyCursor(true);
  state.SetReportLines({});

  std::string failure;
  try {
    if (steps.startLoad) steps.startLoad();
    if (steps.pumpWait) steps.pumpWait(666);
    std::string error;
    if (steps.runReportTool) facts.reportLines = steps.runReportTool(&error);
    if (!error.empty()) failure = error;
    state.SetReportLines(facts.reportLines);
    facts.spec.lines = sysinfo::ConvertReport(facts.reportLines);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // The workers spin until told to stop, so they are stopped whatever happened above.
  if (steps.stopLoad) steps.stopLoad();

  try {
    facts.memoryClock = sysinfo::MemoryClock(facts.spec);
    state.SetPanels(sysinfo::ComposePanels(facts.spec, facts.memoryClock));
    facts.machineIdHash = sysinfo::MachineIdHash(facts.spec);
  } catch (const std::exception& e) {
    if (failure.empty()) failure = e.what();
  }

  state.SetEnabled(Control::Buttons, true);
  view.SetBusyCursor(false);
  UnlockControls(state);
  state.SetEnabled(Control::Compare, true);
  std::string cache = kUnknownCacheKBytes;
  try {
    cache = LargestCacheKBytes(facts.spec);
  } catch (const std::exception&) {
    // an unreadable cache size is an unknown one, which closes the upload gate below
  }
  ApplyUploadGate(state, cache);

  if (!failure.empty()) {
    view.ShowMessage(kTitles.gathering,
                     "The system information could not be gathered: " + failure +
                         "\n\nThe summary shows what could be read; the benchmark still runs.");
  }
  return facts;
}

}  // namespace core
