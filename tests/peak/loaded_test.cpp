#include "peak/loaded.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "platform/processors.h"

namespace peak {
namespace {

TEST(LoadLevels, NoLoadThenEveryStreamThenPaced) {
  const std::vector<LoadedPoint> levels = PlanLoadLevels(64, true);
  ASSERT_EQ(levels.size(), 66u);
  for (int k = 0; k < 64; ++k) {
    EXPECT_EQ(levels[k].streams, k);
    EXPECT_EQ(levels[k].pace, 1);
  }
  EXPECT_EQ(levels[64].streams, 63);
  EXPECT_EQ(levels[64].pace, 0.25);
  EXPECT_EQ(levels[65].pace, 0.5);
  EXPECT_EQ(PlanLoadLevels(64, false).size(), 64u);
  ASSERT_EQ(PlanLoadLevels(1, true).size(), 1u);
  EXPECT_EQ(PlanLoadLevels(1, true)[0].streams, 0);
}

LoadedOptions Tiny(int processors) {
  LoadedOptions options;
  // Three threads share the first processor where there is only one; the shape is the same.
  const std::vector<int> allowed = platform::AllowedProcessors();
  for (int i = 0; i < processors; ++i)
    options.cpus.push_back(allowed[static_cast<size_t>(i) % allowed.size()]);
  options.chaseBytes = 1 << 20;
  options.streamBytes = 256 << 10;
  options.budgetSeconds = 0.01;  // every point at its shortest
  return options;
}

TEST(LoadedSweep, OnePointPerLevelInOrder) {
  std::vector<std::string> told;
  const LoadedSweep sweep = MeasureLoadedLatency(Tiny(3), [&](int, int total, const std::string& next) {
    EXPECT_EQ(total, 5);
    told.push_back(next);
  });
  ASSERT_TRUE(sweep.ok) << sweep.error;
  EXPECT_FALSE(sweep.stopped);
  const std::vector<LoadedPoint> plan = PlanLoadLevels(3, true);
  ASSERT_EQ(sweep.points.size(), plan.size());
  for (size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(sweep.points[i].streams, plan[i].streams);
    EXPECT_EQ(sweep.points[i].pace, plan[i].pace);
    EXPECT_GT(sweep.points[i].latencyNs, 0);
    if (plan[i].streams == 0)
      EXPECT_EQ(sweep.points[i].streamMBps, 0);
    else
      EXPECT_GT(sweep.points[i].streamMBps, 0);
  }
  EXPECT_EQ(told.front(), "no load");
  EXPECT_EQ(told.back(), "");
  EXPECT_EQ(told[3], "2 streams at 1/4 rate");
  EXPECT_EQ(told[4], "2 streams at 1/2 rate");
}

TEST(LoadedSweep, StopEndsItAtTheNextRound) {
  std::atomic<bool> stop{false};
  // Asked for while the second point starts: that point is cut short and left out.
  const LoadedSweep sweep = MeasureLoadedLatency(
      Tiny(2),
      [&](int done, int, const std::string&) {
        if (done == 1) stop = true;
      },
      &stop);
  EXPECT_TRUE(sweep.stopped);
  ASSERT_EQ(sweep.points.size(), 1u);
  EXPECT_EQ(sweep.points[0].streams, 0);

  const LoadedSweep none = MeasureLoadedLatency(Tiny(2), {}, &stop);
  EXPECT_TRUE(none.stopped);
  EXPECT_FALSE(none.ok);
  EXPECT_TRUE(none.points.empty());
}

TEST(LoadedSweep, ABudgetThatIsNoNumberStillEnds) {
  LoadedOptions options = Tiny(1);
  options.budgetSeconds = std::nan("");
  const LoadedSweep sweep = MeasureLoadedLatency(options);
  ASSERT_TRUE(sweep.ok) << sweep.error;
  EXPECT_EQ(sweep.points.size(), 1u);
}

TEST(LoadedSweep, RefusesBuffersThatDoNotFit) {
  LoadedOptions options = Tiny(2);
  options.chaseBytes = 1ull << 50;
  const LoadedSweep sweep = MeasureLoadedLatency(options);
  EXPECT_FALSE(sweep.ok);
  EXPECT_FALSE(sweep.error.empty());
}

TEST(Csv, OneLinePerPointAndPerRunThatRan) {
  LoadedSweep sweep;
  sweep.points = {{0, 1, 171.55, 0}, {1, 0.25, 174.04, 6248.25}, {63, 0.5, 1203.96, 123456.78}};
  EXPECT_EQ(LoadedSweepCsv(sweep),
            "streams,pace,latency_ns,stream_mbytes_per_s\n"
            "0,1.00,171.6,0.0\n"
            "1,0.25,174.0,6248.3\n"
            "63,0.50,1204.0,123456.8\n");
  std::vector<PeakResult> results(2);
  results[0].ok = true;
  results[0].kernel = FindKernel(Operation::kCopy, Isa::kAvx2);
  results[0].threads = 2;
  results[0].arrayBytes = 256000000;
  results[0].mbytesPerSecond = 17728.04;
  results[1].error = "refused";  // a failed run has no line
  EXPECT_EQ(PeakTableCsv(results),
            "kernel,isa,threads,array_bytes,mbytes_per_s\n"
            "copy_avx2,AVX2,2,256000000,17728.0\n");
}

}  // namespace
}  // namespace peak
