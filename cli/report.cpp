#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "core/report_summary.h"
#include "platform/file_io.h"
#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"

namespace cli {

int ReportFile(const std::vector<std::string>& args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(
        "usage: quorvex-cli report FILE\n"
        "Converts a hardware report file and prints what the program makes of it.\n",
        stdout);
    return 0;
  }
  if (args.size() != 1) {
    std::fputs("usage: quorvex-cli report FILE\n", stderr);
    return 2;
  }
  std::string bytes, error;
  if (!platform::ReadWholeFile(args[0], &bytes, &error)) {
    std::fprintf(stderr, "quorvex-cli: cannot read %s: %s\n", args[0].c_str(), error.c_str());
    return 1;
  }
  sysinfo::SystemSpec spec;
  spec.lines = sysinfo::ConvertReport(sysinfo::SplitLines(bytes));
  core::PrintReportSummary(spec, stdout);
  return std::ferror(stdout) ? 1 : 0;
}

}  // namespace cli
