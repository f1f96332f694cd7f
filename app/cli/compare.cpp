#include <cstdio>

#include "app/cli/commands.h"

namespace cli {

int Compare(const std::vector<std::string>&) {
  std::fprintf(stderr, "quorvex-cli: this command is not built yet\n");
  return 2;
}

}  // namespace cli
