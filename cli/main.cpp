#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace {

const char kUsage[] =
    "usage: quorvex-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  report FILE     convert a hardware report file and print what the program makes of it:\n"
    "                  every system specification line (KEY \"VALUE\"), an empty line, one line each\n"
    "                  for osp, cpup, cpucores, cpuclockp, ramp, ramtimip, mainbp, ramp1 to ramp4,\n"
    "                  MemoryClock, IDHASH and LargestCacheKBytes as NAME<TAB>TEXT, texts exactly\n"
    "                  as the program holds them (leading and trailing blanks kept)\n"
    "  report --live   run the carried hardware report tool on this machine and print the same\n"
    "  run             run the benchmark in the terminal (see quorvex-cli run --help)\n"
    "  compare         compare a result with the reference ranges (see quorvex-cli compare --help)\n"
    "  curve           the cache-and-memory curve and the all-core figures (see quorvex-cli curve --help)\n"
    "  --help          show this text\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "report") {
    if (!args.empty() && args.front() == "--live") return cli::ReportLive({args.begin() + 1, args.end()});
    return cli::ReportFile(args);
  }
  if (command == "run") return cli::Run(args);
  if (command == "compare") return cli::Compare(args);
  if (command == "curve") return cli::Curve(args);
  std::fprintf(stderr, "quorvex-cli: unknown command %s (try quorvex-cli --help)\n", command.c_str());
  return 2;
}
