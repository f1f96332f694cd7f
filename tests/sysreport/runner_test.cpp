// The runner: the carried tool really runs and its files are cleaned up, a tool that hangs is
// ended at the limit, the memory-file fallback, the load workers' processor rule, and the wait
// across a wrapping tick counter.
#include "sysinfo/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& l : lines)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

TEST(ReportRunner, CarriedToolWritesAReportAndEveryFileIsGone) {
  std::string error;
  std::vector<std::string> args;
  sysinfo::ReportToolOptions options;
  options.run = [&](const std::string& program, const std::vector<std::string>& a, uint32_t limit) {
    args = a;
    EXPECT_EQ(limit, sysinfo::kReportToolLimitMs);
    return platform::RunProgram(program, a, limit);
  };
  const std::vector<std::string> lines = sysinfo::RunReportTool(&error, options);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(Contains(lines, "Processors Information"));
  const std::string folder = platform::PrivateFolder();
  ASSERT_EQ(args.size(), 1u);
  EXPECT_EQ(args[0], "-txt=" + folder + "/txtdump");
  for (const char* name : {"sysreport", "txtdump.txt", "txtdump.txt.part"})
    EXPECT_FALSE(platform::FileExists(folder + "/" + name)) << name;
}

TEST(ReportRunner, FromAnInMemoryFileWhenTheFolderForbidsRunning) {
  sysinfo::ReportToolOptions options;
  options.forceInMemory = true;
  std::string error;
  const std::vector<std::string> lines = sysinfo::RunReportTool(&error, options);
  EXPECT_EQ(error, "");
  EXPECT_TRUE(Contains(lines, "Processors Information"));
}

TEST(ReportRunner, ToolThatHangsIsEndedAtTheLimitAndYieldsNoLines) {
  // A shell script standing in for the tool: it never writes its report.
  const std::string script = "#!/bin/sh\nexec sleep 30\n";
  sysinfo::ReportToolOptions options;
  options.image =
      platform::EmbeddedImage{reinterpret_cast<const unsigned char*>(script.data()), script.size()};
  options.limitMs = 300;
  bool timedOut = false;
  options.run = [&](const std::string& program, const std::vector<std::string>& a, uint32_t limit) {
    platform::ProcessOutcome o = platform::RunProgram(program, a, limit);
    timedOut = o.timedOut;
    return o;
  };
  std::string error;
  const std::vector<std::string> lines = sysinfo::RunReportTool(&error, options);
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(error, "");  // the tool ran; only an image that cannot be put anywhere is an error
}

TEST(ReportRunner, RunHiddenReportsATimeOutAsFailureAndPassesParametersAsOneArgument) {
  uint32_t exitCode = 7;
  std::vector<std::string> seen;
  auto fake = [&](const std::string&, const std::vector<std::string>& a, uint32_t) {
    seen = a;
    platform::ProcessOutcome o;
    o.started = true;
    o.timedOut = true;
    return o;
  };
  EXPECT_FALSE(sysinfo::RunHidden("/x/tool", "-txt=/tmp/with blanks/txtdump", 99999, &exitCode, fake));
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(seen, std::vector<std::string>{"-txt=/tmp/with blanks/txtdump"});
  auto notStarted = [](const std::string&, const std::vector<std::string>&, uint32_t) {
    return platform::ProcessOutcome{};
  };
  EXPECT_FALSE(sysinfo::RunHidden("/x/tool", "", 0, &exitCode, notStarted));
}

TEST(ReportRunner, FolderThatCannotTakeTheToolFallsBackToAMemoryCopy) {
  sysinfo::ReportToolOptions options;
  const std::string bytes = "x";
  options.image = platform::EmbeddedImage{reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()};
  options.folder = "/nonexistent-folder/quorvex";
  std::vector<std::string> programs;
  options.run = [&](const std::string& program, const std::vector<std::string>&, uint32_t) {
    programs.push_back(program);
    return platform::ProcessOutcome{};  // and that copy does not start either
  };
  std::string error;
  EXPECT_TRUE(sysinfo::RunReportTool(&error, options).empty());
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_EQ(programs[0].rfind("/proc/self/fd/", 0), 0u);
  EXPECT_EQ(error, "");  // a tool that cannot start is treated like one that wrote nothing
}

TEST(LoadWorkers, OneProcessorStartsOnlyLoad01AndStopIsSafeForTheOther) {
  sysinfo::LoadWorkers one(1);
  one.Start();
  EXPECT_EQ(one.RunningCount(), 1);
  one.Stop();
  EXPECT_EQ(one.RunningCount(), 0);
  one.Stop();

  sysinfo::LoadWorkers two(2);
  two.Start();
  EXPECT_EQ(two.RunningCount(), 2);
  two.Start();  // a second start replaces the running instances
  EXPECT_EQ(two.RunningCount(), 2);
  two.Stop();
  EXPECT_EQ(two.RunningCount(), 0);
}

TEST(LoadWorkers, BodiesEndWhenStopIsRaised) {
  std::atomic<bool> stop{true};
  sysinfo::load01Execute(stop);
  sysinfo::load02Execute(stop);
  SUCCEED();
}

// A counter under the test's control; each sleep advances it by the slept milliseconds.
struct FakeTicks {
  uint32_t now;
  int sleeps = 0;
  sysinfo::TickSource Source() {
    return sysinfo::TickSource{[this] { return now; },
                               [this](uint32_t ms) {
                                 now += ms;
                                 ++sleeps;
                               }};
  }
};

TEST(PumpWait, WaitsMoreThanTheTimeAlsoWhenTheCounterWraps) {
  for (uint32_t start : {0u, 1000u, 0xFFFFFFFFu - 300u, 0xFFFFFFFFu}) {
    FakeTicks ticks{start};
    int pumped = 0;
    sysinfo::PumpWait(
        666, [&] { ++pumped; }, ticks.Source());
    EXPECT_EQ(ticks.sleeps, 667) << start;  // more than 666 ms: the 667th millisecond ends it
    EXPECT_EQ(pumped, 2 + 667) << start;
  }
}

TEST(PumpWait, RealClockWaitsAtLeastTheTime) {
  const uint32_t t0 = platform::TickCount();
  sysinfo::PumpWait(50, nullptr);
  EXPECT_GT(static_cast<uint32_t>(platform::TickCount() - t0), 50u);
}

}  // namespace
