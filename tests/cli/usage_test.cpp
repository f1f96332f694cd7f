// quorvex-cli as a newcomer meets it: help and version, usage errors, files that are refused
// before anything is measured, and a run that cannot measure latency saying so.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/file_io.h"

namespace {

std::string Build() {
  const char* build = std::getenv("QUORVEX_BUILD_DIR");
  return build ? std::string(build) : std::string();
}

struct Outcome {
  int status = -1;
  std::string out, err;
};

// Runs a shell command line with quorvex-cli as $CLI; its standard output, error and exit status.
Outcome Shell(const std::string& command) {
  const std::string errFile = ::testing::TempDir() + "/usage_test.err";
  Outcome o;
  FILE* pipe =
      popen(("CLI='" + Build() + "/bin/quorvex-cli'; " + command + " 2>'" + errFile + "'").c_str(), "r");
  if (pipe == nullptr) return o;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) o.out.append(buffer, n);
  const int raw = pclose(pipe);
  o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  platform::ReadWholeFile(errFile, &o.err);
  return o;
}

size_t Lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

class CliUsageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Build().empty() || !platform::FileExists(Build() + "/bin/quorvex-cli"))
      GTEST_SKIP() << "quorvex-cli is not built";
  }
};

TEST_F(CliUsageTest, HelpAndVersionGoToStandardOutputInUsersWords) {
  Outcome o = Shell("$CLI --version");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "quorvex-cli 3.0.24.109\n");

  o = Shell("$CLI --help");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("upload"), std::string::npos) << o.out;
  for (const char* internal : {"osp", "cpup", "ramtimip", "mainbp"})
    EXPECT_EQ(o.out.find(internal), std::string::npos) << internal << "\n" << o.out;

  o = Shell("$CLI run --help");
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(o.err.empty()) << o.err;
  for (const char* option : {"--log", "--tests", "--upload", "--json"})
    EXPECT_NE(o.out.find(option), std::string::npos) << option << "\n" << o.out;
  o = Shell("$CLI report --help");
  for (const char* internal : {"osp", "cpup", "ramtimip"})
    EXPECT_EQ(o.out.find(internal), std::string::npos) << internal << "\n" << o.out;
}

TEST_F(CliUsageTest, WordsThatNameNothingAreUsageErrors) {
  for (const char* command : {"$CLI run --tests ''", "$CLI run --tests ,", "$CLI run --tests read,cache",
                              "$CLI compare --type DDR9 --score 10", "$CLI compare --channels abc --score 10",
                              "$CLI compare --channels 0 --score 10"}) {
    const Outcome o = Shell(command);
    EXPECT_EQ(o.status, 2) << command << "\n" << o.err;
    EXPECT_TRUE(o.out.empty()) << command;
  }
}

TEST_F(CliUsageTest, AFileThatIsNoHardwareReportIsRefusedInOneLine) {
  const Outcome o = Shell("$CLI report /etc/passwd");
  EXPECT_EQ(o.status, 1);
  EXPECT_TRUE(o.out.empty()) << o.out;
  EXPECT_EQ(Lines(o.err), 1u) << o.err;
  EXPECT_NE(o.err.find("/etc/passwd is not a hardware report"), std::string::npos) << o.err;

  const std::string fixture =
      std::string(std::getenv("QUORVEX_SOURCE_DIR")) + "/tests/fixtures/reports/desktop.txt";
  EXPECT_EQ(Shell("$CLI report '" + fixture + "'").status, 0);
}

TEST_F(CliUsageTest, CurveNamesAnUnwritablePathBeforeMeasuring) {
  for (const char* option : {"--csv", "--png", "--svg", "--loaded-csv"}) {
    const Outcome o = Shell(std::string("$CLI curve ") + option + " /nonexistent/x.csv");
    EXPECT_EQ(o.status, 1) << option;
    EXPECT_EQ(o.err, "quorvex-cli curve: cannot write /nonexistent/x.csv: its folder does not exist\n")
        << option;
    EXPECT_TRUE(o.out.empty()) << option;  // not even the caches: nothing was read or measured
  }
  EXPECT_NE(Shell("$CLI curve --csv /tmp").err.find("cannot write /tmp: it is a folder"), std::string::npos);
}

// Without the machine's facts (QUORVEX_SYSROOT points nowhere) no cache size is known.
TEST_F(CliUsageTest, LatencyWithoutACacheSizeSaysItWasNotMeasured) {
  Outcome o = Shell("QUORVEX_SYSROOT=/nonexistent $CLI run --tests latency");
  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.out.find("\nLATENCY  0.0  ns "), std::string::npos) << o.out;  // the caption stays
  EXPECT_NE(o.err.find("quorvex-cli: Latency could not be measured: the processor's cache size is unknown"),
            std::string::npos)
      << o.err;

  o = Shell("QUORVEX_SYSROOT=/nonexistent $CLI run --tests latency --json");
  EXPECT_EQ(o.status, 1);
  const nlohmann::json json = nlohmann::json::parse(o.out, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << o.out;
  EXPECT_EQ(json["tests"]["latency"]["caption"], "LATENCY  0.0  ns");
  EXPECT_TRUE(json["tests"]["latency"].contains("error"));
  EXPECT_EQ(json["score"], "--.--");
}

TEST_F(CliUsageTest, AnUploadThatCannotHappenIsRefusedBeforeTheRunWithWhatIsMissing) {
  Outcome o = Shell("QUORVEX_SYSROOT=/nonexistent $CLI run --upload --tests read");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.find("READ     running"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find(
                "Quorvex\xC2\xB2 - Upload: Cannot upload, no system spec\xC2\xB4s ! \n"
                "  memory type, clock and channels unknown: run once as root, or see README: memory facts\n"),
            std::string::npos)
      << o.err;

  o = Shell("$CLI upload --log /nonexistent/log.csv");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("no logged run to upload"), std::string::npos) << o.err;
}

TEST_F(CliUsageTest, TheWindowWithoutADisplayPointsToTheTerminal) {
  if (!platform::FileExists(Build() + "/bin/quorvex")) GTEST_SKIP() << "quorvex is not built";
  const std::string bare =
      "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + Build() + "/bin/quorvex'";
  Outcome o = Shell(bare);
  EXPECT_EQ(o.status, 1);  // not Qt's abort
  EXPECT_NE(o.err.find("needs a display"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("quorvex-cli run"), std::string::npos) << o.err;
  o = Shell(bare + " --help");
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("quorvex-cli"), std::string::npos) << o.out;
  EXPECT_EQ(Shell(bare + " --version").out, "quorvex 3.0.24.109\n");
}

TEST_F(CliUsageTest, CompareAndCurvePrintOneJsonObject) {
  const std::string fixture =
      std::string(std::getenv("QUORVEX_SOURCE_DIR")) + "/tests/fixtures/curves/client-4core-8m.csv";
  if (!platform::FileExists(fixture)) GTEST_SKIP() << fixture;
  Outcome o = Shell("$CLI curve --json --from '" + fixture + "'");
  EXPECT_EQ(o.status, 0) << o.err;
  const nlohmann::json curve = nlohmann::json::parse(o.out, nullptr, false);
  ASSERT_FALSE(curve.is_discarded()) << o.out;
  ASSERT_FALSE(curve["points"].empty());
  EXPECT_TRUE(curve["points"][0].contains("block_kb"));

  // Nothing listens on port 9: the dials are drawn without reference data, and it says so.
  o = Shell(
      "QUORVEX_SERVER=http://127.0.0.1:9 $CLI compare --json --type DDR4 --channels Dual --clock 1600 "
      "--score 10 --latency 70");
  EXPECT_EQ(o.status, 1);
  const nlohmann::json compare = nlohmann::json::parse(o.out, nullptr, false);
  ASSERT_FALSE(compare.is_discarded()) << o.out;
  EXPECT_EQ(compare["reference_data"], false);
  EXPECT_EQ(compare["score"]["value"], 10.0);
}

TEST_F(CliUsageTest, DrawingKeepsQtsOffscreenNoticesOffStandardError) {
  const std::string fixture =
      std::string(std::getenv("QUORVEX_SOURCE_DIR")) + "/tests/fixtures/curves/client-4core-8m.csv";
  const std::string png = ::testing::TempDir() + "/usage_test_curve.png";
  const Outcome o = Shell("env -u XDG_RUNTIME_DIR $CLI curve --from '" + fixture + "' --png '" + png + "'");
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(platform::FileExists(png));
  EXPECT_EQ(o.err.find("XDG_RUNTIME_DIR"), std::string::npos) << o.err;
  EXPECT_EQ(o.err.find("propagateSizeHints"), std::string::npos) << o.err;
}

// A logged run goes up only from the machine that made it, and only with its memory facts known.
TEST_F(CliUsageTest, UploadOfTheLastLoggedRunChecksTheMachineAndTheGate) {
  const std::string bare = "QUORVEX_SYSROOT=/nonexistent QUORVEX_SERVER=http://127.0.0.1:9 $CLI";
  const Outcome report = Shell(bare + " report --live");
  const size_t at = report.out.find("IDHASH\t");
  ASSERT_NE(at, std::string::npos) << report.out;
  const std::string idHash = report.out.substr(at + 7, 32);

  const auto logWith = [](const std::string& hash) {
    std::string header, data;
    const char* names[] = {
        "DATE",      "TIME",     "OS",      "CPU",    "Memory", "Timings (TRCD-TRP-TRAS-CR)",
        "Mainboard", "Ram#1",    "Ram#2",   "Ram#3",  "Ram#4",  "READ",
        "WRITE",     "COPY",     "LATENCY", "RESULT", "CPUCLK", "IDHASH",
        "COUNTRY",   "BENIMAGE", "VERSION", "CPUCORE"};
    const std::string values[] = {
        "2026-12-10", "12:00:00", "Linux", "CPU",  "*",    "*",     "*",    "*",  "*",  "*",
        "*",          "13847",    "7955",  "9381", "65.5", "10.39", "3700", hash, "--", "Quorvex2_LOG.csv",
        "3.0.24.109", "6"};
    for (const char* name : names) header += std::string("\"") + name + "\";";
    for (const std::string& value : values) data += "\"" + value + "\";";
    const std::string path = ::testing::TempDir() + "/usage_test_log.csv";
    std::string error;
    EXPECT_TRUE(platform::ReplaceFileAtomically(path, header + "\r\n" + data + "\r\n", &error)) << error;
    return path;
  };

  Outcome o = Shell(bare + " upload --log '" + logWith("00112233445566778899AABBCCDDEEFF") + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("was made on another machine"), std::string::npos) << o.err;

  o = Shell(bare + " upload --log '" + logWith(idHash) + "'");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(
      o.err.find("Cannot upload, no system spec\xC2\xB4s ! \n  memory type, clock and channels unknown"),
      std::string::npos)
      << o.err;
}

}  // namespace
