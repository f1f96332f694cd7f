#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fprintf(stderr, "usage: quorvex-cli report FILE | report --live | run | compare\n");
    return 2;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "report") {
    if (!args.empty() && args.front() == "--live") return cli::ReportLive({args.begin() + 1, args.end()});
    return cli::ReportFile(args);
  }
  if (command == "run") return cli::Run(args);
  if (command == "compare") return cli::Compare(args);
  std::fprintf(stderr, "quorvex-cli: unknown command %s\n", command.c_str());
  return 2;
}
