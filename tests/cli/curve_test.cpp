// quorvex-cli curve as a user runs it, on a saved curve (no measuring): the table, the three
// files, and refusals of bad arguments and bad files.
#include "core/curve.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "platform/file_io.h"
#include "platform/temp_folder.h"

namespace {

std::string Cli() { return std::string(std::getenv("QUORVEX_BUILD_DIR")) + "/bin/quorvex-cli"; }

// Standard output and error of quorvex-cli with the given words after its name, and its status.
std::string CliOutput(const std::string& arguments, int* status) {
  FILE* pipe = popen((Cli() + " " + arguments + " 2>&1").c_str(), "r");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string Output(const std::string& arguments, int* status) {
  return CliOutput("curve " + arguments, status);
}

TEST(CurveCommand, DrawsASavedCurveIntoTheFilesAskedFor) {
  ASSERT_TRUE(platform::FileExists(Cli()));
  const std::string folder = platform::PrivateFolder();
  core::Curve curve;
  for (uint32_t kb = 1; kb <= 65536; kb *= 2)
    curve.push_back({kb, kb <= 512 ? 15000.0 : 6000.0, 8000, 1.5 * kb});
  ASSERT_TRUE(platform::ReplaceFileAtomically(folder + "/in.csv", core::CurveCsv(curve), nullptr));

  int status = -1;
  const std::string out = Output("--from " + folder + "/in.csv --csv " + folder + "/out.csv --svg " + folder +
                                     "/out.svg --png " + folder + "/out.png",
                                 &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("     block       READ      WRITE    LATENCY\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    32 KiB      15000       8000      48.00\n"), std::string::npos) << out;
  EXPECT_NE(out.find("(MByte/s = module Mb/s x 1.07025, READ x 1.048 more)"), std::string::npos) << out;

  std::string text;
  ASSERT_TRUE(platform::ReadWholeFile(folder + "/out.csv", &text));
  EXPECT_EQ(text, core::CurveCsv(curve));
  ASSERT_TRUE(platform::ReadWholeFile(folder + "/out.svg", &text));
  EXPECT_NE(text.find("<polyline id=\"read\""), std::string::npos);
  EXPECT_NE(text.find("</svg>"), std::string::npos);
  // A PNG of the chart: signature, then IHDR with 900 x 560.
  ASSERT_TRUE(platform::ReadWholeFile(folder + "/out.png", &text));
  ASSERT_GT(text.size(), 24u);
  EXPECT_EQ(text.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  EXPECT_EQ(text.substr(16, 8), std::string("\0\0\x03\x84\0\0\x02\x30", 8));
  for (const char* name : {"in.csv", "out.csv", "out.svg", "out.png"})
    platform::DeleteFile(folder + "/" + name);
}

TEST(CurveCommand, RefusesBadArgumentsAndFilesThatAreNoCurve) {
  ASSERT_TRUE(platform::FileExists(Cli()));
  int status = -1;
  std::string out = Output("--pass 3", &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(out.find("--pass: takes 1, 2, 4 ... 64"), std::string::npos) << out;
  out = Output("--png", &status);
  EXPECT_EQ(status, 2);
  const std::string bad = platform::PrivateFolder() + "/not-a-curve.csv";
  ASSERT_TRUE(platform::ReplaceFileAtomically(bad, "READ;WRITE\n1;2\n", nullptr));
  out = Output("--from " + bad, &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("is not a curve saved by --csv"), std::string::npos) << out;
  platform::DeleteFile(bad);
  out = Output("--help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("Usage: quorvex-cli curve"), std::string::npos);
  EXPECT_NE(out.find("--all-cores"), std::string::npos);
}

// Every command reads its words the same way: a usage error says why and ends with 2, before
// anything is measured or fetched.
TEST(CommandLine, UsageErrorsEndWithTwoAndSayWhy) {
  ASSERT_TRUE(platform::FileExists(Cli()));
  int status = -1;
  for (const char* words : {"", "bench", "run --bogus", "run --tests read,foo", "compare --clock",
                            "compare --score 1,5", "report", "report a.txt --live", "curve --pass"}) {
    const std::string out = CliOutput(words, &status);
    EXPECT_EQ(status, 2) << words;
    EXPECT_NE(out.find("Run with --help"), std::string::npos) << words << ": " << out;
  }
  EXPECT_NE(CliOutput("compare --score 1,5", &status).find("decimal point"), std::string::npos);
  EXPECT_NE(CliOutput("run --tests read,foo", &status).find("unknown test \"foo\""), std::string::npos);
  const std::string help = CliOutput("--help", &status);
  EXPECT_EQ(status, 0);
  for (const char* command : {"report", "run", "compare", "curve"})
    EXPECT_NE(help.find(command), std::string::npos);
  EXPECT_EQ(CliOutput("help", &status), help);
}

}  // namespace
