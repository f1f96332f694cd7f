#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "core/report_summary.h"
#include "platform/file_io.h"
#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"

namespace cli {

int ReportFile(const ReportOptions& options) {
  std::string bytes, error;
  if (!platform::ReadWholeFile(options.file, &bytes, &error)) {
    std::fprintf(stderr, "quorvex-cli: cannot read %s: %s\n", options.file.c_str(), error.c_str());
    return 1;
  }
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::SplitLines(bytes));
  if (!sysinfo::IsHardwareReport(spec)) {
    std::fprintf(stderr, "quorvex-cli: %s is not a hardware report (no processors section)\n",
                 options.file.c_str());
    return 1;
  }
  core::PrintReportSummary(spec, stdout);
  return std::ferror(stdout) ? 1 : 0;
}

}  // namespace cli
