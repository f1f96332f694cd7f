// The rate arithmetic and the entry's failure paths, with a fake processor, timer and kernels
// standing in for the real ones.
#include "procedures.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "cpuinfo.h"
#include "entry.h"
#include "format.h"
#include "scanner.h"

namespace {

using namespace membw_internal;
using Strings = std::vector<std::string>;

Strings messages;
void Collect(const char* m) { messages.push_back(m); }

// Every kernel call is recorded and answered with the next scripted time (the last one repeats).
std::vector<std::pair<uint32_t, uint32_t>> calls;
std::vector<uint32_t> times;
uint32_t FakeKernel(uint32_t size, uint32_t reps) {
  calls.emplace_back(size, reps);
  const size_t i = calls.size() - 1;
  return times.empty() ? 1000 : times[i < times.size() ? i : times.size() - 1];
}

uint32_t flags = kFlagMmx | kFlagMmxPlus;
int64_t frequency = 1000000000;
bool reportWritten = false;

Machine FakeMachine() {
  Machine m{};
  m.vectorFlags = [] { return flags; };
  m.frequency = [](int64_t* hz) {
    *hz = frequency;
    return frequency > 0;
  };
  for (Kernel& k : m.kernels) k = FakeKernel;
  m.cpuReport = [] { reportWritten = true; };
  return m;
}

int RunLine(const std::string& commandLine, std::vector<uint32_t> scripted = {}) {
  messages.clear();
  calls.clear();
  times = std::move(scripted);
  ResetScanner();  // each case stands for a fresh load of the module
  testing::internal::CaptureStdout();
  const int result = RunCommandLine(commandLine.c_str(), Collect, FakeMachine());
  testing::internal::GetCapturedStdout();
  return result;
}

class Entry : public testing::Test {
 protected:
  void SetUp() override {
    flags = kFlagMmx | kFlagMmxPlus;
    frequency = 1000000000;
    reportWritten = false;
  }
};

TEST_F(Entry, RatesFromElapsedTime) {
  ASSERT_EQ(RunLine("membw -b11 -m1 ", {1000, 3}), 0);
  ASSERT_EQ(messages.size(), 12u);
  EXPECT_EQ(messages[1], "MMX (nt) & READING        1 Kb block: 8192.00 Mb/s");
  EXPECT_EQ(messages[2], "MMX (nt) & READING        2 Kb block: 2730666.67 Mb/s");

  ASSERT_EQ(RunLine("membw -b12 -l1 ", {1000, 1000, 1000, 1000}), 0);
  EXPECT_EQ(messages[1], "MMX (nt)  Copy:      16384.00 Mb/s  ");
  EXPECT_EQ(messages[3], "MMX (nt)  Scale:     16384.00 Mb/s  ");
  EXPECT_EQ(messages[5], "MMX (nt)  Add:       24576.00 Mb/s  ");
  EXPECT_EQ(messages[7], "MMX (nt)  Triad:     24576.00 Mb/s  ");
  EXPECT_EQ(messages[9], "---\nMMX (nt)  AVERAGE:   20480.00 Mb/s");
}

TEST_F(Entry, SweepMovesTheSameVolumeThroughEveryBlock) {
  ASSERT_EQ(RunLine("membw -b1 -g2 -m4 "), 0);
  ASSERT_EQ(calls.size(), 13u);  // 1 Kb .. 4096 Kb
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].first, 1u << i);
    EXPECT_EQ(static_cast<uint64_t>(calls[i].first) * calls[i].second, 2ull << 20);
  }
  EXPECT_EQ(messages.back(), "INTEGER & WRITING      4096 Kb block: 2048.00 Mb/s");
}

TEST_F(Entry, SizesAndCountsFromTheOptions) {
  ASSERT_EQ(RunLine("membw -b10 -m256 "), 0);
  ASSERT_EQ(messages.size(), 20u);  // pass size and 19 blocks, 1 Kb to 262144 Kb
  EXPECT_EQ(messages.back(), "MMX (nt) & WRITING   262144 Kb block: 8192.00 Mb/s");
  EXPECT_EQ(calls.back(), std::make_pair(262144u, 32u));  // 8 Gb through a 256 Mb block
  for (const char* runs : {"-l0", "-l-3", "-lx"}) {
    ASSERT_EQ(RunLine(std::string("membw -b12 ") + runs + " "), 0) << runs;
    EXPECT_EQ(messages.size(), 10u) << runs;  // one run: no header, no "Benchmark #" lines
  }
}

TEST_F(Entry, ArrayTestPassesAndBatchRunAverages) {
  // Run 1 takes 1000 ms per kernel, run 2 takes 500 ms: every BatchRun figure is the mean.
  ASSERT_EQ(RunLine("membw -b6 -g8 -l2 ", {1000, 1000, 1000, 1000, 500, 500, 500, 500}), 0);
  ASSERT_EQ(calls.size(), 8u);
  for (const auto& c : calls)
    EXPECT_EQ(c, std::make_pair(32768u, 256u));  // defaults: 32 Mb arrays, 256 passes
  const Strings expected{"8Gb per pass mode",
                         "2-benchmark FLOATmem BatchRun mode",
                         "Benchmark #1:",
                         "FL-POINT  Copy:      16384.00 Mb/s",
                         "FL-POINT  Scale:     16384.00 Mb/s",
                         "FL-POINT  Add:       24576.00 Mb/s",
                         "FL-POINT  Triad:     24576.00 Mb/s",
                         "---\nFL-POINT  AVERAGE:   20480.00 Mb/s",
                         "Benchmark #2:",
                         "FL-POINT  Copy:      32768.00 Mb/s",
                         "FL-POINT  Scale:     32768.00 Mb/s",
                         "FL-POINT  Add:       49152.00 Mb/s",
                         "FL-POINT  Triad:     49152.00 Mb/s",
                         "---\nFL-POINT  AVERAGE:   40960.00 Mb/s",
                         "FL-POINT BatchRun  Copy:      24576.00 Mb/s",
                         "FL-POINT BatchRun  Scale:     24576.00 Mb/s",
                         "FL-POINT BatchRun  Add:       36864.00 Mb/s",
                         "FL-POINT BatchRun  Triad:     36864.00 Mb/s",
                         "---\nFL-POINT BatchRun  AVERAGE:   30720.00 Mb/s"};
  EXPECT_EQ(messages, expected);
}

// Kernels that record which of them ran, by their place in the table.
std::vector<int> used;
template <int K>
uint32_t RecordingKernel(uint32_t, uint32_t) {
  if (used.empty() || used.back() != K) used.push_back(K);  // a sweep calls its kernel per block
  return 1000u;
}

Machine RecordingMachine() {
  Machine m = FakeMachine();
  [&m]<int... K>(std::integer_sequence<int, K...>) { ((m.kernels[K] = RecordingKernel<K>), ...); }
  (std::make_integer_sequence<int, kKernelCount>{});
  return m;
}

TEST_F(Entry, EveryBenchmarkRunsItsOwnKernels) {
  namespace k = kernel;
  const std::vector<int> expected[] = {
      {},
      {k::intwr},
      {k::intrd},
      {k::intcp, k::intsc, k::intad, k::inttr},
      {k::floatwr},
      {k::floatrd},
      {k::floatcp, k::floatsc, k::floatad, k::floattr},
      {k::mmxwr},
      {k::mmxrd},
      {k::mmxcp, k::mmxsc, k::mmxad, k::mmxtr},
      {k::mmxwr_nt},
      {k::mmxrd_nt},
      {k::mmxcp_nt, k::mmxsc_nt, k::mmxad_nt_t0, k::mmxtr_nt_t0},  // the default prefetch mode
  };
  const Machine m = RecordingMachine();
  for (int id = 1; id <= 12; ++id) {
    used.clear();
    ResetScanner();
    const std::string line = "membw -b" + std::to_string(id) + " -m1 ";
    ASSERT_EQ(RunCommandLine(line.c_str(), Collect, m), 0) << line;
    EXPECT_EQ(used, expected[id]) << line;
  }
}

TEST_F(Entry, PrefetchModeChoosesTheKernels) {
  const Machine m = RecordingMachine();
  const std::vector<int> expected[3] = {
      {kernel::mmxcp_nt, kernel::mmxsc_nt, kernel::mmxad_nt_t0, kernel::mmxtr_nt_t0},
      {kernel::mmxcp_nt, kernel::mmxsc_nt, kernel::mmxad_nt, kernel::mmxtr_nt},
      {kernel::mmxcp_nt_t0, kernel::mmxsc_nt_t0, kernel::mmxad_nt_t0, kernel::mmxtr_nt_t0}};
  for (int mode = 0; mode < 3; ++mode) {
    used.clear();
    ResetScanner();
    messages.clear();
    const std::string line = "membw -b12 -t" + std::to_string(mode) + " ";
    ASSERT_EQ(RunCommandLine(line.c_str(), Collect, m), 0);
    EXPECT_EQ(used, expected[mode]) << "mode " << mode;
  }
}

TEST_F(Entry, KernelFailuresEndTheCallWithAMessage) {
  EXPECT_EQ(RunLine("membw -b10 -m1 ", {1000, 0}), 1);
  EXPECT_EQ(messages, (Strings{"8Gb per pass mode", "MMX (nt) & WRITING        1 Kb block: 8192.00 Mb/s",
                               "ERROR: measurement too short to time (0 ms), use a larger pass size"}));
  EXPECT_EQ(RunLine("membw -b9 ", {kKernelNoMemory}), 1);
  EXPECT_EQ(messages, (Strings{"8Gb per pass mode", "ERROR: not enough memory for the benchmark buffers"}));
  for (const std::string& m : messages) EXPECT_EQ(m.find("inf"), std::string::npos);
}

TEST_F(Entry, MissingFeaturesAreReportedAfterThePassSize) {
  flags = kFlagMmx;  // MMX without MMX+
  for (const char* id : {"10", "11", "12"}) {
    EXPECT_EQ(RunLine(std::string("membw -b") + id + " "), 1);
    EXPECT_EQ(messages, (Strings{"8Gb per pass mode", "ERROR: no MMX+ support available"}));
  }
  EXPECT_EQ(RunLine("membw -b9 -m1 "), 0);
  flags = 0;
  EXPECT_EQ(RunLine("membw -b7 "), 1);
  EXPECT_EQ(messages, (Strings{"8Gb per pass mode", "ERROR: no MMX support available"}));
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(RunLine("membw -b3 -m1 "), 0);  // the integer family needs nothing
}

TEST_F(Entry, TimerMustTickAtLeastEveryMillisecond) {
  frequency = 0;
  EXPECT_EQ(RunLine("membw -b12 "), 1);
  EXPECT_EQ(messages, Strings{"ERROR: no support for high-resolution time counters"});
  frequency = 999;
  EXPECT_EQ(RunLine("membw -b12 "), 1);
  EXPECT_EQ(messages, Strings{"ERROR: no support for high-resolution time counters"});
  frequency = 1000;
  EXPECT_EQ(RunLine("membw -b12 -m1 "), 0);
}

TEST_F(Entry, InformationRequestIgnoresEverythingElse) {
  EXPECT_EQ(RunLine("membw -b12 -i -g4 "), 0);
  EXPECT_TRUE(reportWritten);
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(calls.empty());
}

TEST(ReadNumber, ReadsLikeAtoiButSaturates) {
  EXPECT_EQ(ReadNumber("12"), 12);
  EXPECT_EQ(ReadNumber("  +7x"), 7);
  EXPECT_EQ(ReadNumber("\t-3"), -3);
  EXPECT_EQ(ReadNumber("x"), 0);
  EXPECT_EQ(ReadNumber(""), 0);
  EXPECT_EQ(ReadNumber("- 4"), 0);
  EXPECT_EQ(ReadNumber("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ReadNumber("-99999999999999999999"), INT_MIN);
  EXPECT_EQ(ReadNumber("-2147483648"), INT_MIN);
}

TEST(FormatText, ConversionsTheCatalogueUses) {
  char b[64];
  FormatText(b, sizeof b, "%8u|%u|%X|%c|%s|%.2f|%%", 16384u, 7u, 0xABu, 'K', "ok", 2730666.666666667);
  EXPECT_STREQ(b, "   16384|7|AB|K|ok|2730666.67|%");
  FormatText(b, sizeof b, "%.2f %.2f", 0.005, 1e9 / 3);
  EXPECT_STREQ(b, "0.01 333333333.33");
  EXPECT_EQ(FormatText(b, 8, "%s", "truncated text"), 7u);
  EXPECT_STREQ(b, "truncat");
}

TEST(PrefetchLabels, FollowThePickedKernels) {
  const bool modeZero[4] = {false, false, true, true};
  const Labels zero = PrefetchLabels(modeZero);
  EXPECT_STREQ(zero.result[1], "[NTA prefetch]\n");
  EXPECT_STREQ(zero.batch[0], "[NTA prefetch]");
  EXPECT_STREQ(zero.batch[2], "[T0 prefetch]\n");
  const bool allNta[4] = {};
  const Labels one = PrefetchLabels(allNta);
  EXPECT_STREQ(one.result[2], "[NTA prefetch]\n");
  EXPECT_STREQ(one.result[3], "[NTA prefetch]");
  EXPECT_STREQ(one.batch[3], "[NTA prefetch]\n");
  const bool allT0[4] = {true, true, true, true};
  const Labels two = PrefetchLabels(allT0);
  EXPECT_STREQ(two.result[1], "[T0 prefetch]");
  EXPECT_STREQ(two.batch[0], "[T0 prefetch]");
  EXPECT_STREQ(two.batch[1], "[T0 prefetch]\n");
}

TEST(VendorCode, ByTheLastFourCharacters) {
  EXPECT_EQ(VendorCode("GenuineIntel"), 1);
  EXPECT_EQ(VendorCode("AuthenticAMD"), 2);
  EXPECT_EQ(VendorCode("CyrixInstead"), 3);
  EXPECT_EQ(VendorCode("CentaurHauls"), 4);
  EXPECT_EQ(VendorCode("Geode by NSC"), 9);
  EXPECT_EQ(VendorCode("HygonGenuine"), 0);
  EXPECT_STREQ(ProcessorName(2, 0x1A, 0x02), "AMD EPYC (Zen 5 Turin, 4 nm)");
  EXPECT_EQ(ProcessorName(1, 6, 0xFF), nullptr);
}

}  // namespace
