// Starting a program hidden and waiting for it with a limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessOutcome {
  bool started = false;   // the program could be started
  bool timedOut = false;  // it was still running at the limit and was killed (SIGKILL)
  uint32_t exitCode = 0;  // its exit code; 0 when killed or not started
  std::string error;      // why it could not be started
};

// Runs program with the given arguments (argv[0] is program itself, then args, each passed as
// one argument, blanks and all), standard input, output and error on /dev/null. Waits at most
// limitMs milliseconds (0 = no limit). The child inherits the current directory and environment.
ProcessOutcome RunProgram(const std::string& program, const std::vector<std::string>& args, uint32_t limitMs);

// Number of processors the system has online.
int ProcessorCount();

// Asks the desktop to open a web address (xdg-open), without waiting for it.
bool OpenWebAddress(const std::string& url);

}  // namespace platform
