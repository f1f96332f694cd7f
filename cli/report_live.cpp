#include <cstdio>

#include "cli/commands.h"
#include "core/report_summary.h"
#include "sysinfo/panels.h"
#include "sysinfo/runner.h"
#include "sysinfo/system_spec.h"

namespace cli {

// report --live: the start-up gathering's report step on this machine, printed like report FILE.
int ReportLive(const std::vector<std::string>& args) {
  if (!args.empty()) {
    const bool help = args.size() == 1 && (args[0] == "--help" || args[0] == "-h");
    std::fputs(
        "usage: quorvex-cli report --live\n"
        "Runs the carried hardware report tool on this machine (processors kept busy as at\n"
        "start-up) and prints what the program makes of its report, as report FILE does.\n",
        help ? stdout : stderr);
    return help ? 0 : 2;
  }
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
