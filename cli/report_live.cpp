#include <cstdio>

#include "cli/commands.h"
#include "core/report_summary.h"
#include "sysinfo/panels.h"
#include "sysinfo/runner.h"
#include "sysinfo/system_spec.h"

namespace cli {

// report --live: the start-up gathering's report step on this machine, printed like report FILE.
int ReportLive(const ReportOptions&) {
  sysinfo::LoadWorkers workers;
  workers.Start();
  sysinfo::PumpWait(666, nullptr);
  std::string error;
  const std::vector<std::string> report = sysinfo::RunReportTool(&error);
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(report);
  workers.Stop();
  if (!error.empty()) std::fprintf(stderr, "quorvex-cli: %s\n", error.c_str());
  if (const std::string notice = sysinfo::MemoryNotice(spec); !notice.empty())
    std::fprintf(stderr, "quorvex-cli: %s\n", notice.c_str());
  core::PrintReportSummary(spec, stdout);
  return std::ferror(stdout) || !error.empty() ? 1 : 0;
}

}  // namespace cli
