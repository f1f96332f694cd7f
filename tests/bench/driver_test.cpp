// The membw console driver: the arguments become the command line, every message is one unit
// ending in a line end, and the module's result is the exit code.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

struct DriverRun {
  uint32_t exitCode = 0;
  std::vector<std::string> lines;
};

DriverRun RunDriver(const std::string& arguments) {
  const std::string out = platform::PrivateFolder() + "/driver-output.txt";
  const std::string command =
      "'" + std::string(MEMBW_DRIVER_PATH) + "' " + arguments + " > '" + out + "' 2>&1";
  const platform::ProcessOutcome outcome = platform::RunProgram("/bin/sh", {"-c", command}, 120000);
  DriverRun run;
  EXPECT_TRUE(outcome.started) << outcome.error;
  run.exitCode = outcome.exitCode;
  std::ifstream in(out);
  for (std::string line; std::getline(in, line);) run.lines.push_back(line);
  platform::DeleteFile(out);
  return run;
}

TEST(Driver, SweepPrintsThePassSizeAndOneLinePerBlock) {
  const DriverRun run = RunDriver("-b11 -g1 -m64");
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.lines.size(), 18u);
  EXPECT_EQ(run.lines[0], "1Gb per pass mode");
  EXPECT_EQ(run.lines[17].rfind("MMX (nt) & READING    65536 Kb block: ", 0), 0u) << run.lines[17];
}

TEST(Driver, ErrorsAndUsageGiveExitCodeOne) {
  const DriverRun unknown = RunDriver("-b13");
  EXPECT_EQ(unknown.exitCode, 1u);
  ASSERT_FALSE(unknown.lines.empty());
  EXPECT_EQ(unknown.lines.back(), "ERROR: unknown benchmark ID");

  const DriverRun bare = RunDriver("");
  EXPECT_EQ(bare.exitCode, 1u);
  ASSERT_GE(bare.lines.size(), 2u);
  EXPECT_EQ(bare.lines[1], "USAGE: membw -b ID [-g size] [-m size] [-l runs]");
}

TEST(Driver, LabelsArriveAsTheirOwnLines) {
  const DriverRun run = RunDriver("-b12 -g1 -m1 -t2");
  EXPECT_EQ(run.exitCode, 0u);
  ASSERT_EQ(run.lines.size(), 11u);  // AVERAGE brings a line of its own ("---")
  EXPECT_EQ(run.lines[2], "[T0 prefetch]");
  EXPECT_EQ(run.lines[9], "---");
}

}  // namespace
