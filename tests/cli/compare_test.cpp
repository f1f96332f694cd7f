// quorvex-cli compare as a user runs it: the request it makes and the dials it prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "tests/support/recorder.h"

namespace {

std::string Cli() {
  const char* build = std::getenv("QUORVEX_BUILD_DIR");
  return build ? std::string(build) + "/bin/quorvex-cli" : std::string();
}

// Standard output of a shell command line, and its exit status.
std::string Output(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

class CliCompareTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Cli().empty() || !platform::FileExists(Cli())) GTEST_SKIP() << "quorvex-cli is not built";
    server.SetAnswers({{200, "30<br />60<br />1500<br />2400<br />40<br />90<br />\x1b]0;owned\x07"}});
  }
  std::string Run(const std::string& options, int* status) {
    return Output("QUORVEX_SERVER=" + server.Base() + " " + Cli() + " compare " + options + " 2>/dev/null",
                  status);
  }
  testing_http::Recorder server;
};

TEST_F(CliCompareTest, PrintsRangesBandEndsAndClampedPointers) {
  int status = -1;
  const std::string out =
      Run("--type DDR4 --channels Dual --clock 2600 --score 25.5 --latency 78.5", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("Quick compare (Using DDR4 Dual Channel scale)"), std::string::npos) << out;
  EXPECT_NE(out.find("  range     30.00 .. 60.00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  bands     30.00 | 33.50 | 41.50 | 60.00"), std::string::npos) << out;
  EXPECT_NE(out.find("  pointer   30.00   (value 25.50, outside the range)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  range     1475 .. 2410\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  pointer   2410   (value 2600, outside the range)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  range     40.0 .. 90.0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  pointer   78.5\n"), std::string::npos) << out;
  // The reply is shown, but never a control character from the server.
  EXPECT_NE(out.find("  reply     30#60#1500#2400#40#90#?]0;OWNED?\n"), std::string::npos) << out;
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("GET /compare.php?P1=DDR4&&P2=Dual HTTP/1.1\r\n", 0), 0u);
}

TEST_F(CliCompareTest, ScoreAndLatencyComeFromTheLastLoggedRun) {
  const std::string log = platform::PrivateFolder() + "/compare_log.csv";
  platform::DeleteFile(log);
  const std::string header =
      "\"DATE\";\"TIME\";\"OS\";\"CPU\";\"Memory\";\"Timings "
      "(TRCD-TRP-TRAS-CR)\";\"Mainboard\";\"Ram#1\";\"Ram#2\";"
      "\"Ram#3\";\"Ram#4\";\"READ\";\"WRITE\";\"COPY\";\"LATENCY\";\"RESULT\";\"CPUCLK\";\"IDHASH\";"
      "\"COUNTRY\";"
      "\"BENIMAGE\";\"VERSION\";\"CPUCORE\";\r\n";
  auto line = [](const std::string& latency, const std::string& result) {
    return "\"2026-12-08\";\"03:00:00\";\"os\";\"cpu\";\"mem\";\"t\";\"mb\";\"r1\";\"r2\";\"r3\";\"r4\";"
           "\"13847\";"
           "\"7955\";\"9381\";\"" +
           latency + "\";\"" + result +
           "\";\"3000\";\"ID\";\"DE\";\"Quorvex2_LOG.csv\";"
           "\"3.0.24.109\";\"2\";\r\n";
  };
  const std::string bytes = header + line("99.9", "11.11") + line("0", "45.67");
  ASSERT_TRUE(platform::WriteFileExclusive(log, bytes.data(), bytes.size(), nullptr));
  int status = -1;
  const std::string out = Run("--type DDR4 --channels Dual --clock 2000 --log " + log, &status);
  platform::DeleteFile(log);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("  pointer   45.67\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Latency (ns)\n  hidden"), std::string::npos) << out;
}

TEST_F(CliCompareTest, NoScoreAndNoServerAreFailures) {
  int status = -1;
  Run("--type DDR4 --channels Dual --clock 2000 --log /nonexistent/Quorvex2_LOG.csv", &status);
  EXPECT_EQ(status, 1);
  const std::string dead = "http://127.0.0.1:" + std::to_string(testing_http::DeadPort());
  const std::string out = Output("QUORVEX_SERVER=" + dead + " " + Cli() +
                                     " compare --type DDR4 --channels Dual --clock 2000 --score 20 2>&1",
                                 &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("no reference data"), std::string::npos) << out;
}

}  // namespace
