#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include "platform/clock.h"

extern char** environ;

namespace platform {
namespace {

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, bool searchPath,
            std::string* error) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int rc = searchPath ? posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ)
                            : posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = "cannot start " + program + ": " + std::strerror(rc);
    return -1;
  }
  return pid;
}

}  // namespace

ProcessOutcome RunProgram(const std::string& program, const std::vector<std::string>& args,
                          uint32_t limitMs) {
  ProcessOutcome out;
  const pid_t pid = Spawn(program, args, false, &out.error);
  if (pid < 0) return out;
  out.started = true;

  const uint32_t start = TickCount();
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, limitMs == 0 ? 0 : WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      out.error = std::string("lost the started program: ") + std::strerror(errno);
      return out;
    }
    if (r == 0) {
      if (static_cast<uint32_t>(TickCount() - start) >= limitMs) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        out.timedOut = true;
        out.exitCode = 0;
        return out;
      }
      SleepMs(2);
    }
  }
  out.exitCode = WIFEXITED(status) ? static_cast<uint32_t>(WEXITSTATUS(status)) : 0;
  return out;
}

int ProcessorCount() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool OpenWebAddress(const std::string& url) {
  const pid_t pid = Spawn("xdg-open", {url}, true, nullptr);
  if (pid < 0) return false;
  // Reap it in the background so no zombie is left; the browser outlives xdg-open anyway.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

}  // namespace platform
