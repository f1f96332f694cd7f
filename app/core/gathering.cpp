#include "app/core/gathering.h"

#include <exception>

#include "app/core/host.h"

namespace core {

GatheringSteps RealGatheringSteps(BenchView& view, sysinfo::LoadWorkers& workers) {
  GatheringSteps steps;
  steps.startLoad = [&workers] { workers.Start(); };
  steps.stopLoad = [&workers] { workers.Stop(); };
  steps.pumpWait = [&view](unsigned ms) { sysinfo::PumpWait(ms, [&view] { view.ProcessEvents(); }); };
  steps.runReportTool = [](std::string* error) { return sysinfo::RunReportTool(error); };
  return steps;
}

MachineFacts Button2Click(BenchView& view, const GatheringSteps& steps) {
  MachineFacts facts;
  facts.memoryClock = 0;
  for (Panel p : {Panel::osp, Panel::cpup, Panel::ramp, Panel::ramtimip, Panel::ramp1, Panel::ramp2,
                  Panel::ramp3, Panel::ramp4, Panel::mainbp}) {
    view.SetPanelText(p, sysinfo::kPanelPlaceholder);
  }
  for (Control c :
       {Control::ButtonBar, Control::Button7, Control::CheckBox1, Control::CheckBox2, Control::CheckBox3,
        Control::CheckBox4, Control::Upload, Control::Gauge, Control::CheckBox5}) {
    view.SetEnabled(c, false);
  }
  view.SetBusyCursor(true);
  view.SetReportLines({});

  std::string failure;
  try {
    if (steps.startLoad) steps.startLoad();
    if (steps.pumpWait) steps.pumpWait(666);
    std::string error;
    if (steps.runReportTool) facts.reportLines = steps.runReportTool(&error);
    if (!error.empty()) failure = error;
    view.SetReportLines(facts.reportLines);
    facts.spec.lines = sysinfo::ConvertReport(facts.reportLines);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // The workers spin until told to stop, so they are stopped whatever happened above.
  if (steps.stopLoad) steps.stopLoad();

  try {
    facts.memoryClock = sysinfo::MemoryClock(facts.spec);
    ShowPanels(view, sysinfo::ComposePanels(facts.spec, facts.memoryClock));
    facts.machineIdHash = sysinfo::MachineIdHash(facts.spec);
  } catch (const std::exception& e) {
    if (failure.empty()) failure = e.what();
  }

  view.SetEnabled(Control::ButtonBar, true);
  view.SetBusyCursor(false);
  for (Control c :
       {Control::Button7, Control::CheckBox1, Control::CheckBox2, Control::CheckBox3, Control::CheckBox4}) {
    view.SetEnabled(c, true);
  }
  view.SetEnabled(Control::Upload, view.UploadTag() == 0);
  view.SetEnabled(Control::CheckBox5, true);
  view.SetEnabled(Control::Gauge, true);
  std::string cache = kUnknownCacheKBytes;
  try {
    cache = LargestCacheKBytes(facts.spec);
  } catch (const std::exception&) {
  }
  ApplyUploadGate(view, cache);

  if (!failure.empty()) {
    view.ShowMessage(kMessageTitleGathering,
                     "The system information could not be gathered: " + failure +
                         "\n\nThe summary shows what could be read; the benchmark still runs.");
  }
  return facts;
}

}  // namespace core
