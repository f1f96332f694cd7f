// The curve's data path: module lines parsed, scaled as the main window scales, ordered, the
// pass raised for sizes the ms timer cannot resolve, the cache levels read from the converted
// hardware report, and the files written and read back.
#include "core/curve.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

#include "core/numeric.h"
#include "core/samples.h"
#include "tests/support/cache_spec.h"

namespace {

using testing_curve::CacheSpec;

std::string SweepLine(bool read, uint32_t kb, const char* figure) {
  char line[128];
  std::snprintf(line, sizeof line, "MMX (nt) & %s %8u Kb block: %s Mb/s", read ? "READING" : "WRITING", kb,
                figure);
  return line;
}

// A bandwidth module that answers every sweep with fixed figures, in its own order.
struct FakeModules {
  std::vector<std::string> calls;
  std::vector<std::vector<int32_t>> latencyCalls;
  std::map<uint32_t, std::string> readFigures, writeFigures;
  // By arguments, instead of the default: the lines of the first call, of the second call ...
  std::map<std::string, std::vector<std::vector<std::string>>> answers;
  std::map<std::string, size_t> answered;
  bool failBandwidth = false;
  std::map<uint32_t, double> latencyNs;  // by block, instead of the default

  core::CurveModules Modules() {
    core::CurveModules m;
    m.bandwidth = [this](const std::string& args, const std::function<void(const char*)>& out,
                         std::string* error) {
      calls.push_back(args);
      if (failBandwidth) {
        *error = "The benchmark module could not be written: disk full";
        return false;
      }
      out("1Gb per pass mode");
      const auto answer = answers.find(args);
      if (answer != answers.end() && answered[args] < answer->second.size()) {
        for (const std::string& line : answer->second[answered[args]++]) out(line.c_str());
        return true;
      }
      const bool read = args.rfind("-b11", 0) == 0;
      const auto& figures = read ? readFigures : writeFigures;
      // Largest first, with a stray line between: the curve must not rely on the order.
      for (auto it = figures.rbegin(); it != figures.rend(); ++it) {
        out(SweepLine(read, it->first, it->second.c_str()).c_str());
        out("(nt)  Copy:      8765.43 Mb/s  ");
      }
      return true;
    };
    m.latency = [this](int32_t rounds, int32_t kb, int32_t loads, std::string* text, std::string*) {
      latencyCalls.push_back({rounds, kb, loads});
      const auto shaped = latencyNs.find(static_cast<uint32_t>(kb));
      if (shaped != latencyNs.end())
        *text = core::FixedText(shaped->second, 2) + " ns";
      else
        *text = kb == 4 ? "Error: no memory" : std::to_string(kb >= 1024 ? 80 : 1) + ".4321 ns";
      return true;
    };
    return m;
  }
};

// A curve measured with the fakes, keeping every progress step it reported.
bool MeasureKeepingSteps(const core::CurvePlan& plan, FakeModules& fake,
                         std::vector<core::CurveProgress>* steps, core::Curve* curve, std::string* error) {
  return core::MeasureCurve(
      plan, fake.Modules(), [steps](const core::CurveProgress& p) { steps->push_back(p); }, nullptr, curve,
      error);
}

TEST(CurveLines, SweepLinesOfBothBenchmarksAreReadAndOthersAreNot) {
  uint32_t kb = 0;
  std::string figure;
  ASSERT_TRUE(core::ParseSweepLine("MMX (nt) & READING     1024 Kb block: 6400.00 Mb/s", &kb, &figure));
  EXPECT_EQ(kb, 1024u);
  EXPECT_EQ(figure, "6400.00");
  ASSERT_TRUE(core::ParseSweepLine("MMX (nt) & WRITING   262144 Kb block: 12.5 Mb/s", &kb, &figure));
  EXPECT_EQ(kb, 262144u);
  EXPECT_EQ(figure, "12.5");
  for (const char* other : {"1Gb per pass mode", "MMX (nt)  Copy:      8765.43 Mb/s  ", "[NTA prefetch]",
                            "MMX & READING         16 Kb block: 100.00 Mb/s",
                            "MMX (nt) & READING     Kb block: 1.0 Mb/s", "ERROR: invalid pass size", ""})
    EXPECT_FALSE(core::ParseSweepLine(other, &kb, &figure)) << other;
}

TEST(CurveLines, FiguresAreScaledAsTheMainWindowShowsThem) {
  // 12345 x 1.07025 = 13212 per sample; READ x 1.048 more = 13846; WRITE stays 13212.
  EXPECT_DOUBLE_EQ(core::ShownBandwidth("12345.67", core::kReadPrefix), 13846);
  EXPECT_DOUBLE_EQ(core::ShownBandwidth("12345.67", core::kWritePrefix), 13212);
  EXPECT_DOUBLE_EQ(core::ShownBandwidth(12345.67, core::kWritePrefix), 13212);
  EXPECT_EQ(core::ShownBandwidth("12345", core::kReadPrefix), -1);  // no point: not a figure
  EXPECT_EQ(core::ShownBandwidth("1x2.5", core::kReadPrefix), -1);
  EXPECT_DOUBLE_EQ(core::ShownLatency("65.4321 ns"), 65.43);
  EXPECT_EQ(core::ShownLatency("Error: the buffer does not fit"), -1);
}

TEST(CurvePlanning, SizesReachFourTimesTheLargestCacheWithinMemory) {
  const uint64_t plenty = 64ULL << 30;
  EXPECT_EQ(core::PlanCurve("32768", plenty).largestKb, 131072u);       // 32 MiB L3
  EXPECT_EQ(core::PlanCurve("36864", plenty).largestKb, 262144u);       // 36 MiB: next power of two
  EXPECT_EQ(core::PlanCurve("512", plenty).largestKb, 16384u);          // never below 16 MiB
  EXPECT_EQ(core::PlanCurve("524288", plenty).largestKb, 1048576u);     // never above 1 GiB
  EXPECT_EQ(core::PlanCurve("999999", plenty).largestKb, 262144u);      // unknown cache
  EXPECT_EQ(core::PlanCurve("262144", 1ULL << 30).largestKb, 262144u);  // small machine: 256 MiB
  EXPECT_EQ(core::PlanCurve("32768", 200ULL << 20).largestKb, 65536u);  // at most half of what is free
  const std::vector<uint32_t> sizes = core::CurveSizes(core::PlanCurve("32768", plenty));
  ASSERT_EQ(sizes.size(), 18u);
  EXPECT_EQ(sizes.front(), 1u);
  EXPECT_EQ(sizes.back(), 131072u);
}

// A guest told of its host's 508 MiB L3 whose own chase is in memory from 8 MiB: the curve ends at
// 32 MiB (4 x the 4 MiB the chase shows, and three sizes in memory) instead of 1 GiB; an honest
// report keeps its range.
TEST(CurvePlanning, AnImplausibleReportedCacheGivesWayToTheMeasuredOne) {
  const uint64_t plenty = 64ULL << 30;
  const double shape[] = {1.0,  1.0,  1.0,   1.1,   1.0,   1.1,   3.5,   3.7,   3.7,   4.0,  9.5,
                          14.0, 18.0, 125.0, 138.0, 146.0, 153.0, 161.0, 218.0, 290.0, 322.0};
  {
    FakeModules fake;
    for (uint32_t i = 0; i < 21; ++i) {
      fake.latencyNs[1u << i] = shape[i];
      fake.readFigures[1u << i] = "40000.00";
      fake.writeFigures[1u << i] = "30000.00";
    }
    core::CurvePlan plan = core::PlanCurve("520192", plenty);
    ASSERT_EQ(plan.largestKb, 1048576u);
    plan.minPointMs = 0;
    plan.sweeps = 1;
    std::vector<core::CurveProgress> steps;
    core::Curve curve;
    std::string error;
    ASSERT_TRUE(MeasureKeepingSteps(plan, fake, &steps, &curve, &error)) << error;
    EXPECT_EQ(curve.back().blockKb, 32768u);
    EXPECT_EQ(fake.latencyCalls.size(), 16u);
    EXPECT_EQ(fake.calls.front(), "-b11 -g1 -m32");  // the sweeps measure only the range kept
    EXPECT_EQ(steps.back().done, steps.back().total);
    EXPECT_EQ(steps.front().series, core::CurveSeries::Latency);
  }
  // Reported and measured agree: the reported 32 MiB L3's range stands.
  FakeModules fake;
  for (uint32_t kb = 1; kb <= 131072; kb *= 2) {
    fake.latencyNs[kb] = kb <= 32 ? 1 : kb <= 512 ? 4 : kb <= 32768 ? 12 : 80;
    fake.readFigures[kb] = fake.writeFigures[kb] = "30000.00";
  }
  core::CurvePlan plan = core::PlanCurve("32768", plenty);
  plan.minPointMs = 0;
  plan.sweeps = 1;
  core::Curve curve;
  std::string error;
  ASSERT_TRUE(core::MeasureCurve(plan, fake.Modules(), nullptr, nullptr, &curve, &error)) << error;
  EXPECT_EQ(curve.back().blockKb, 131072u);
}

TEST(CurvePlanning, CacheLevelsComeFromTheSystemSpecification) {
  const std::vector<core::CacheMark> marks = core::CacheMarks(CacheSpec());
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_EQ(marks[0].label, "L1");
  EXPECT_EQ(marks[0].kbytes, 32u);
  EXPECT_EQ(marks[1].label, "L2");
  EXPECT_EQ(marks[1].kbytes, 512u);
  EXPECT_EQ(marks[2].label, "L3");
  EXPECT_EQ(marks[2].kbytes, 32768u);
  EXPECT_EQ(core::CacheValueKBytes("2 x 6 MBytes"), 6144u);
  EXPECT_EQ(core::CacheValueKBytes("*"), 0u);
  EXPECT_EQ(core::CacheValueKBytes("unknown"), 0u);
  EXPECT_TRUE(core::CacheMarks(sysinfo::SystemSpec{}).empty());
}

TEST(CurveMeasuring, PointsAreParsedScaledAndOrdered) {
  FakeModules fake;
  core::CurvePlan plan;
  plan.largestKb = 16384;
  plan.minPointMs = 0;  // no second pass here
  plan.sweeps = 1;
  for (uint32_t kb = 1; kb <= plan.largestKb; kb *= 2) {
    fake.readFigures[kb] = "12345.67";
    fake.writeFigures[kb] = "7954.99";
  }
  fake.readFigures[64] = "garbled";  // a line the module garbled is skipped, not a zero
  std::vector<core::CurveProgress> steps;
  core::Curve curve;
  std::string error;
  ASSERT_TRUE(MeasureKeepingSteps(plan, fake, &steps, &curve, &error)) << error;
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"-b11 -g1 -m16", "-b10 -g1 -m16"}));
  ASSERT_EQ(curve.size(), 15u);
  for (size_t i = 0; i < curve.size(); ++i) {
    EXPECT_EQ(curve[i].blockKb, 1u << i);
    EXPECT_DOUBLE_EQ(curve[i].read, curve[i].blockKb == 64 ? -1 : 13846) << curve[i].blockKb;
    EXPECT_DOUBLE_EQ(curve[i].write, 8513);  // 7954 x 1.07025 = 8513.0
  }
  // One latency call per size, with the curve's arguments; an error text leaves the point empty.
  ASSERT_EQ(fake.latencyCalls.size(), 15u);
  EXPECT_EQ(fake.latencyCalls[10], (std::vector<int32_t>{3, 1024, 4000000}));
  EXPECT_DOUBLE_EQ(curve[0].latency, 1.43);
  EXPECT_EQ(curve[2].latency, -1);
  EXPECT_DOUBLE_EQ(curve[14].latency, 80.43);
  // Progress climbs to the total; every figure is reported as it arrives.
  ASSERT_FALSE(steps.empty());
  EXPECT_EQ(steps.back().done, steps.back().total);
  EXPECT_EQ(steps.back().total, 45);
  EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end(),
                             [](const auto& a, const auto& b) { return a.done < b.done; }));
}

TEST(CurveMeasuring, SizesTooFastForTheTimerAreMeasuredAgainWithALargerPass) {
  FakeModules fake;
  core::CurvePlan plan;
  plan.largestKb = 16384;
  plan.sweeps = 1;
  // 1 Gb at 40960 Mb/s takes 25 ms: a 100 ms point needs -g4. Blocks from 8 Kb take 200 ms.
  for (uint32_t kb = 1; kb <= plan.largestKb; kb *= 2)
    fake.readFigures[kb] = kb <= 4 ? "40960.00" : "5120.00";
  fake.writeFigures = fake.readFigures;
  fake.answers["-b11 -g4 -m1"] = {{SweepLine(true, 1, "41000.00"), SweepLine(true, 2, "41000.00"),
                                   SweepLine(true, 4, "41000.00"), SweepLine(true, 8, "1.00")}};
  core::Curve curve;
  std::string error;
  ASSERT_TRUE(core::MeasureCurve(plan, fake.Modules(), nullptr, nullptr, &curve, &error)) << error;
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"-b11 -g1 -m16", "-b11 -g4 -m1", "-b10 -g1 -m16", "-b10 -g4 -m1"}));
  EXPECT_DOUBLE_EQ(curve[0].read, core::ShownBandwidth("41000.00", core::kReadPrefix));
  EXPECT_DOUBLE_EQ(curve[2].read, core::ShownBandwidth("41000.00", core::kReadPrefix));
  // The second pass only replaces what it was asked for.
  EXPECT_DOUBLE_EQ(curve[3].read, core::ShownBandwidth("5120.00", core::kReadPrefix));
}

TEST(CurveMeasuring, EachSizeKeepsTheBestOfItsSweeps) {
  FakeModules fake;
  core::CurvePlan plan;
  plan.largestKb = 4;
  plan.minPointMs = 0;
  ASSERT_EQ(plan.sweeps, 2);
  // The second read sweep is better at 1 and 4 Kb, worse at 2 Kb (another program took the memory).
  fake.answers["-b11 -g1 -m1"] = {
      {SweepLine(true, 1, "1000.00"), SweepLine(true, 2, "3000.00"), SweepLine(true, 4, "1000.00")},
      {SweepLine(true, 1, "2000.00"), SweepLine(true, 2, "1000.00"), SweepLine(true, 4, "4000.00")}};
  fake.writeFigures = {{1, "500.00"}, {2, "500.00"}, {4, "500.00"}};
  std::vector<core::CurveProgress> steps;
  core::Curve curve;
  std::string error;
  ASSERT_TRUE(MeasureKeepingSteps(plan, fake, &steps, &curve, &error)) << error;
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"-b11 -g1 -m1", "-b11 -g1 -m1", "-b10 -g1 -m1", "-b10 -g1 -m1"}));
  ASSERT_EQ(curve.size(), 3u);
  EXPECT_DOUBLE_EQ(curve[0].read, core::ShownBandwidth("2000.00", core::kReadPrefix));
  EXPECT_DOUBLE_EQ(curve[1].read, core::ShownBandwidth("3000.00", core::kReadPrefix));
  EXPECT_DOUBLE_EQ(curve[2].read, core::ShownBandwidth("4000.00", core::kReadPrefix));
  EXPECT_DOUBLE_EQ(curve[2].write, core::ShownBandwidth("500.00", core::kWritePrefix));
  EXPECT_EQ(steps.back().total, 15);  // 3 sizes x (2 read + 2 write + 1 latency)
  EXPECT_EQ(steps.back().done, 15);
}

TEST(CurveMeasuring, AModuleThatCannotBeCalledEndsTheCurveWithItsMessage) {
  FakeModules fake;
  fake.failBandwidth = true;
  core::CurvePlan plan;
  plan.largestKb = 1024;
  core::Curve curve;
  std::string error;
  EXPECT_FALSE(core::MeasureCurve(plan, fake.Modules(), nullptr, nullptr, &curve, &error));
  EXPECT_EQ(error, "The benchmark module could not be written: disk full");
  EXPECT_TRUE(fake.latencyCalls.empty());

  FakeModules silent;  // runs, but says nothing the curve can use
  error.clear();
  EXPECT_FALSE(core::MeasureCurve(plan, silent.Modules(), nullptr, nullptr, &curve, &error));
  EXPECT_EQ(error, "The bandwidth module delivered no figure.");
}

TEST(CurveMeasuring, AStopBetweenCallsKeepsWhatWasMeasured) {
  FakeModules fake;
  core::CurvePlan plan;
  plan.largestKb = 1024;
  plan.minPointMs = 0;
  plan.sweeps = 1;
  for (uint32_t kb = 1; kb <= plan.largestKb; kb *= 2) fake.readFigures[kb] = "5000.00";
  std::atomic<bool> stop{false};
  core::Curve curve;
  std::string error;
  EXPECT_TRUE(core::MeasureCurve(
      plan, fake.Modules(), [&](const core::CurveProgress&) { stop = true; }, &stop, &curve, &error));
  EXPECT_EQ(fake.calls.size(), 1u);
  EXPECT_EQ(curve.size(), 11u);
  EXPECT_GT(curve[0].read, 0);
  EXPECT_EQ(curve[0].write, -1);
}

core::Curve SampleCurve() {
  core::Curve curve;
  for (uint32_t kb = 1; kb <= 131072; kb *= 2)
    curve.push_back({kb, kb <= 32 ? 16000.0 : kb <= 32768 ? 12000.0 : 6000.0, 9000, kb <= 32 ? 1.5 : 120.25});
  curve[3].latency = -1;
  return curve;
}

TEST(CurveFiles, CsvIsWrittenAndReadBack) {
  const core::Curve curve = SampleCurve();
  const std::string csv = core::CurveCsv(curve);
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "block_kb;read_mbyte_s;write_mbyte_s;latency_ns");
  EXPECT_NE(csv.find("\n8;16000;9000;\n"), std::string::npos);  // unmeasured figure left empty
  EXPECT_NE(csv.find("\n131072;6000;9000;120.25\n"), std::string::npos);
  core::Curve back;
  ASSERT_TRUE(core::ParseCurveCsv(csv, &back));
  ASSERT_EQ(back.size(), curve.size());
  for (size_t i = 0; i < curve.size(); ++i) {
    EXPECT_EQ(back[i].blockKb, curve[i].blockKb);
    EXPECT_DOUBLE_EQ(back[i].read, curve[i].read);
    EXPECT_DOUBLE_EQ(back[i].latency, curve[i].latency);
  }
  for (const char* bad :
       {"", "block;read\n1;2\n", "block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n2;1;1;1\n1;1;1;1\n",
        "block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n1;x;1;1\n",
        "block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n1;1;1\n",
        "block_kb;read_mbyte_s;write_mbyte_s;latency_ns\n0;1;1;1\n"})
    EXPECT_FALSE(core::ParseCurveCsv(bad, &back)) << bad;
}

TEST(CurveFiles, SvgHoldsTheThreeLinesAndTheCacheLevelsWhereTheyBelong) {
  const core::Curve curve = SampleCurve();
  const std::string svg = core::CurveSvg(curve, core::CacheMarks(CacheSpec()), "Cache & memory curve",
                                         "All cores (2 threads):  READ 13000 (x1.90) MByte/s");
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_NE(svg.find("Cache &amp; memory curve"), std::string::npos);
  EXPECT_NE(svg.find("All cores (2 threads)"), std::string::npos);
  for (const char* label : {"4 KiB", "1 MiB", "32 MiB", "L1 32 KiB", "L2 512 KiB", "L3 32 MiB"})
    EXPECT_NE(svg.find(std::string(">") + label + "<"), std::string::npos) << label;

  const auto polyline = [&](const std::string& id) {
    std::smatch m;
    const std::regex re("<polyline id=\"" + id + "\"[^>]*points=\"([^\"]*)\"");
    EXPECT_TRUE(std::regex_search(svg, m, re)) << id;
    std::vector<std::pair<double, double>> points;
    std::istringstream in(m[1].str());
    for (std::string pair; in >> pair;)
      points.push_back({std::stod(pair), std::stod(pair.substr(pair.find(',') + 1))});
    return points;
  };
  const auto read = polyline("read"), write = polyline("write"), latency = polyline("latency");
  EXPECT_EQ(read.size(), 18u);
  EXPECT_EQ(write.size(), 18u);
  EXPECT_EQ(latency.size(), 17u);  // the unmeasured point is left out
  EXPECT_TRUE(std::is_sorted(read.begin(), read.end()));
  EXPECT_LT(read[0].second, read[17].second);  // faster is higher up

  // Each cache line stands at the x of the point of its size.
  std::vector<double> cacheX;
  const std::regex cacheRe("<line class=\"cache\" x1=\"([0-9.]+)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), cacheRe); it != std::sregex_iterator(); ++it)
    cacheX.push_back(std::stod((*it)[1].str()));
  ASSERT_EQ(cacheX.size(), 3u);
  EXPECT_NEAR(cacheX[0], read[5].first, 0.11);   // 32 KiB
  EXPECT_NEAR(cacheX[1], read[9].first, 0.11);   // 512 KiB
  EXPECT_NEAR(cacheX[2], read[15].first, 0.11);  // 32 MiB
}

TEST(CurveFiles, BlockSizesReadAsPeopleWriteThem) {
  EXPECT_EQ(core::BlockSizeText(4), "4 KiB");
  EXPECT_EQ(core::BlockSizeText(32), "32 KiB");
  EXPECT_EQ(core::BlockSizeText(1024), "1 MiB");
  EXPECT_EQ(core::BlockSizeText(32768), "32 MiB");
  EXPECT_EQ(core::BlockSizeText(1048576), "1 GiB");
  EXPECT_EQ(core::BlockSizeText(1536), "1536 KiB");
}

}  // namespace
