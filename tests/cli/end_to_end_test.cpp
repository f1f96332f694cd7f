// One whole run with the real modules and the real arguments, through the terminal front end:
// gathering, the four tests, the score and the log line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"

namespace {

// Runs a shell command, returns its standard output and exit status.
std::string Capture(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  *status = ::pclose(pipe);
  return out;
}

TEST(EndToEnd, AFullRunShowsFourResultsAScoreAndLogsThem) {
  // A copy of the program in a folder of its own, so the log lands there.
  const std::string folder = platform::PrivateFolder() + "/e2e";
  ASSERT_TRUE(platform::MakeFolders(folder));
  const std::string program = folder + "/quorvex-cli";
  std::filesystem::copy_file(QUORVEX_CLI, program, std::filesystem::copy_options::overwrite_existing);

  int status = -1;
  // Nothing listens on port 9: the country lookup fails, and the record is written with "--".
  const std::string out =
      Capture("QUORVEX_GEOLOCATION=http://127.0.0.1:9 '" + program + "' run --log 2>/dev/null", &status);
  ASSERT_EQ(status, 0) << out;

  std::smatch m;
  for (const char* test : {"READ", "WRITE", "COPY"}) {
    ASSERT_TRUE(std::regex_search(
        out, m, std::regex(std::string("\n") + test + "  ([0-9]+)  MByte/s +[0-9]+ samples, spread ")))
        << out;
    EXPECT_GT(std::stoi(m[1]), 100) << test;
  }
  ASSERT_TRUE(std::regex_search(out, m, std::regex("\nLATENCY  ([0-9]+\\.[0-9])  ns +4 samples, spread ")))
      << out;
  EXPECT_GT(std::stod(m[1]), 0.0);
  ASSERT_TRUE(std::regex_search(out, m, std::regex("\n([0-9]+\\.[0-9]{2}) GByte/s\n"))) << out;

  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(folder + "/Quorvex2_LOG.csv", &bytes));
  const std::vector<std::string> lines = sysinfo::SplitLines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[1].find("\"" + m[1].str() + "\";"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"--\";\"Quorvex2_LOG.csv\";\"3.0.24.109\";"), std::string::npos) << lines[1];
}

TEST(EndToEnd, CtrlCEndsTheRunCleanlyAndLogsNothing) {
  const std::string folder = platform::PrivateFolder() + "/e2e-interrupted";
  ASSERT_TRUE(platform::MakeFolders(folder));
  const std::string program = folder + "/quorvex-cli";
  std::filesystem::copy_file(QUORVEX_CLI, program, std::filesystem::copy_options::overwrite_existing);

  int err[2];
  ASSERT_EQ(::pipe(err), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::dup2(err[1], 2);
    ::close(err[0]);
    ::close(err[1]);
    ::setenv("QUORVEX_GEOLOCATION", "http://127.0.0.1:9", 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execl(program.c_str(), program.c_str(), "run", "--log", "--tests", "read,write",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(err[1]);
  // Ctrl+C once the READ test has begun; a module call under way would be let finish.
  std::string text;
  char buffer[512];
  bool interrupted = false;
  ssize_t n;
  while ((n = ::read(err[0], buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(n));
    if (!interrupted && text.find("READ     running") != std::string::npos) {
      ::kill(pid, SIGINT);
      interrupted = true;
    }
  }
  ::close(err[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(interrupted) << text;
  ASSERT_TRUE(WIFEXITED(status)) << text;  // ended by the program, not by the signal
  EXPECT_EQ(WEXITSTATUS(status), 130) << text;
  EXPECT_NE(text.find("Stopped: the run was interrupted; nothing was logged."), std::string::npos) << text;
  EXPECT_EQ(text.find("WRITE    running"), std::string::npos) << text;  // no further test began
  EXPECT_FALSE(platform::FileExists(folder + "/Quorvex2_LOG.csv"));
}

}  // namespace
