#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/report_summary.h"
#include "sysinfo/text.h"

namespace {

std::string FixturePath(const std::string& name) {
  const char* root = std::getenv("QUORVEX_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/fixtures/reports/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Summary(const sysinfo::SystemSpec& spec) {
  std::FILE* out = std::tmpfile();
  core::PrintReportSummary(spec, out);
  std::rewind(out);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::fclose(out);
  return text;
}

}  // namespace

// Users and support compare this output across versions: it must not drift.
TEST(ReportSummary, DesktopReportMatchesItsStoredSummary) {
  const std::string report = ReadFile(FixturePath("desktop.txt"));
  ASSERT_FALSE(report.empty());
  const sysinfo::SystemSpec spec{sysinfo::ConvertReport(sysinfo::SplitLines(report))};
  EXPECT_EQ(Summary(spec), ReadFile(FixturePath("desktop.summary")));
}

TEST(ReportSummary, EmptySpecification) {
  const std::string expected =
      "\n"
      "osp\t*\ncpup\t*\ncpucores\t*\ncpuclockp\t0 MHz\nramp\t* - * - 0 MHz - * Channel\n"
      "ramtimip\t*-*-*-*-*-* (TRCD-TRP-TRAS-TRFC-CR)\nmainbp\t* - * - *\n"
      "ramp1\t* - *\nramp2\t* - *\nramp3\t* - *\nramp4\t* - *\nMemoryClock\t0\n"
      "IDHASH\t47C6B15ACA93873F58522F26300D181D\nLargestCacheKBytes\t999999\n";
  EXPECT_EQ(Summary(sysinfo::SystemSpec{}), expected);
}
