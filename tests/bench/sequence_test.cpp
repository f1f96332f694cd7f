// What the host sees from real runs: the ID 12 message sequence per prefetch mode and BatchRun
// count, figures with "." under a decimal-comma locale, and the -i report on this machine.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "module_support.h"
#include "platform/file_io.h"
#include "platform/process.h"
#include "platform/temp_folder.h"

namespace {

using bench_test::Messages;
using bench_test::ModuleCopy;
using Strings = std::vector<std::string>;

const std::regex kResultLine(
    R"(MMX \(nt\)  (Copy: {6}|Scale: {5}|Add: {7}|Triad: {5})[0-9]+\.[0-9]{2} Mb/s  )");
const std::regex kAverageLine(R"(---\nMMX \(nt\)  AVERAGE:   [0-9]+\.[0-9]{2} Mb/s)");

double Figure(const std::string& line) {
  const size_t colon = line.rfind(':');
  return std::strtod(line.c_str() + colon + 1, nullptr);
}

// Checks one run of the four sub-tests (9 messages from Copy to AVERAGE) starting at `at`.
void ExpectRun(const Strings& m, size_t at, const Strings& labels) {
  ASSERT_GE(m.size(), at + 9);
  double sum = 0;
  for (int k = 0; k < 4; ++k) {
    EXPECT_TRUE(std::regex_match(m[at + 2 * k], kResultLine)) << m[at + 2 * k];
    EXPECT_EQ(m[at + 2 * k + 1], labels[k]) << "label " << k;
    sum += Figure(m[at + 2 * k]);
  }
  EXPECT_TRUE(std::regex_match(m[at + 8], kAverageLine)) << m[at + 8];
  EXPECT_NEAR(Figure(m[at + 8]), sum / 4, 0.02);  // both sides rounded to 0.01
}

struct ModeCase {
  const char* option;
  Strings labels;
};

TEST(NonTemporalArrayTest, OneRunPerPrefetchMode) {
  const ModeCase cases[] = {
      {"", {"[NTA prefetch]", "[NTA prefetch]\n", "[T0 prefetch]", "[T0 prefetch]"}},
      {"-t1 ", {"[NTA prefetch]", "[NTA prefetch]\n", "[NTA prefetch]\n", "[NTA prefetch]"}},
      {"-t2 ", {"[T0 prefetch]", "[T0 prefetch]", "[T0 prefetch]", "[T0 prefetch]"}},
  };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.option);
    ModuleCopy copy;
    ASSERT_EQ(copy.Call(std::string("membw -b12 -g1 -m1 -l0 ") + c.option), 0);
    const Strings m = Messages();
    ASSERT_EQ(m.size(), 10u);  // pass size, four results with their labels, AVERAGE
    EXPECT_EQ(m[0], "1Gb per pass mode");
    ExpectRun(m, 1, c.labels);
  }
}

TEST(NonTemporalArrayTest, FiveRunsWithBatchRunSummary) {
  ModuleCopy copy;
  ASSERT_EQ(copy.Call("membw -b12 -g1 -m1 -l5 "), 0);
  const Strings m = Messages();
  ASSERT_EQ(m.size(), 2u + 5 * 10 + 9);
  EXPECT_EQ(m[1], "5-benchmark MMXmem (non-temporal) BatchRun mode");
  const Strings labels{"[NTA prefetch]", "[NTA prefetch]\n", "[T0 prefetch]", "[T0 prefetch]"};
  double sums[4] = {0, 0, 0, 0};
  for (int run = 0; run < 5; ++run) {
    const size_t at = 2 + 10 * run;
    EXPECT_EQ(m[at], "Benchmark #" + std::to_string(run + 1) + ":");
    ExpectRun(m, at + 1, labels);
    for (int k = 0; k < 4; ++k) sums[k] += Figure(m[at + 1 + 2 * k]);
  }
  const size_t at = 52;
  const char* names[4] = {"Copy:      ", "Scale:     ", "Add:       ", "Triad:     "};
  const Strings batchLabels{"[NTA prefetch]", "[NTA prefetch]\n", "[T0 prefetch]\n", "[T0 prefetch]\n"};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(m[at + 2 * k].rfind(std::string("MMX (nt) BatchRun  ") + names[k], 0), 0u) << m[at + 2 * k];
    EXPECT_NEAR(Figure(m[at + 2 * k]), sums[k] / 5, 0.02);
    EXPECT_EQ(m[at + 2 * k + 1], batchLabels[k]);
    // The host finds its Copy sample by this text; the summary must not carry it.
    EXPECT_EQ(m[at + 2 * k].find("(nt)  Copy"), std::string::npos);
  }
  EXPECT_EQ(m[at + 8].rfind("---\nMMX (nt) BatchRun  AVERAGE:   ", 0), 0u);
  EXPECT_EQ(m[at + 8].substr(m[at + 8].size() - 7), " Mb/s\n\n");
}

TEST(OtherFamilies, ArrayTestLinesAndSweepLineEnds) {
  ModuleCopy copy;
  ASSERT_EQ(copy.Call("membw -b3 -g1 -m1 "), 0);
  const Strings m = Messages();
  ASSERT_EQ(m.size(), 6u);
  EXPECT_EQ(m[1].rfind("INTEGER   Copy:      ", 0), 0u);
  EXPECT_EQ(m[4].rfind("INTEGER   Triad:     ", 0), 0u);
  EXPECT_EQ(m[5].rfind("---\nINTEGER   AVERAGE:   ", 0), 0u);

  ModuleCopy mmx;
  ASSERT_EQ(mmx.Call("membw -b7 -g1 -m1 "), 0);
  ASSERT_EQ(Messages().size(), 12u);
  for (size_t i = 1; i < 12; ++i) EXPECT_EQ(Messages()[i].back(), '\n') << i;  // only this family's sweep
}

// A locale whose decimal point is a comma: an installed one, or one built for the test.
bool UseDecimalCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
    if (std::setlocale(LC_ALL, name)) return true;
  const std::string folder = platform::PrivateFolder() + "/locales";
  if (!platform::MakeFolders(folder)) return false;
  const platform::ProcessOutcome built = platform::RunProgram(
      "/usr/bin/localedef", {"-i", "de_DE", "-f", "UTF-8", folder + "/de_DE.UTF-8"}, 60000);
  if (!built.started || built.timedOut) return false;
  setenv("LOCPATH", folder.c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(Figures, UseAPointUnderADecimalCommaLocale) {
  if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no decimal-comma locale available or buildable";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 1.5);
  ASSERT_STREQ(probe, "1,50") << "the locale should print a decimal comma";
  ModuleCopy copy;
  const int result = copy.Call("membw -b11 -g1 -m1 ");
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(result, 0);
  ASSERT_EQ(Messages().size(), 12u);
  const std::regex line(R"(MMX \(nt\) & READING +[0-9]+ Kb block: [0-9]+\.[0-9]{2} Mb/s)");
  for (size_t i = 1; i < Messages().size(); ++i)
    EXPECT_TRUE(std::regex_match(Messages()[i], line)) << Messages()[i];
}

std::string ProcCpuinfoField(const std::string& key) {
  std::ifstream in("/proc/cpuinfo");
  for (std::string l; std::getline(in, l);)
    if (l.rfind(key, 0) == 0) return l.substr(l.find(':') + 2);
  return {};
}

TEST(CpuReport, DescribesThisMachine) {
  ModuleCopy copy;
  std::string out;
  ASSERT_EQ(copy.Call("membw -i -b12 ", &out), 0);
  EXPECT_TRUE(Messages().empty());
  std::istringstream lines(out);
  std::string first, second;
  std::getline(lines, first);
  std::getline(lines, second);
  const std::string vendor = ProcCpuinfoField("vendor_id");
  EXPECT_EQ(first.rfind(vendor + " family ", 0), 0u) << first;
  EXPECT_TRUE(
      std::regex_match(first, std::regex(R"(\w{12} family [0-9A-F] model [0-9A-F] stepping [0-9A-F])")))
      << first;
  EXPECT_EQ(second.substr(second.size() - 10), " processor");
  // Lines the enthusiast checks first: brand, caches, and the vector units the kernels need.
  EXPECT_NE(out.find("BIOS name string: \""), std::string::npos);
  EXPECT_TRUE(std::regex_search(out, std::regex(R"(1x D-cache: [0-9]+Kb, [0-9]+-way)"))) << out;
  EXPECT_NE(out.find("\nScalar: FPU CMOV CX8 "), std::string::npos) << out;
  EXPECT_NE(out.find("\nVector: MMX MMX+ "), std::string::npos) << out;
  for (const char* label : {"General: ", "Addressing: ", "Monitoring: ", "Other: "})
    EXPECT_NE(out.find(std::string("\n") + label), std::string::npos) << label;
  EXPECT_EQ(out.back(), '\n');
  if (vendor == "AuthenticAMD") {
    EXPECT_EQ(out.find("HTT:"), std::string::npos);  // Intel family 15 only
  }
}

}  // namespace
