#include <gtest/gtest.h>

#include "core/host.h"
#include "core/numeric.h"
#include "core/samples.h"
#include "core/score.h"
#include "decimal_comma_locale.h"
#include "sysinfo/text.h"

using namespace core;

TEST(NumericText, Examples) {
  EXPECT_EQ(NumericText("READ  13847  MByte/s"), "13847");
  EXPECT_EQ(NumericText("LATENCY  65.5  ns"), "65.5");
  EXPECT_EQ(NumericText("12,34"), "12.34");
  EXPECT_EQ(NumericText("--.--"), "--.--");
  EXPECT_EQ(NumericText("READ"), "0");
  EXPECT_EQ(NumericText(""), "0");
  EXPECT_EQ(NumericText("1...2..3"), "1.2.3");
  EXPECT_EQ(NumericText("4389 MHz"), "4389");
  EXPECT_EQ(NumericText("10.39 "), "10.39");
  EXPECT_EQ(NumericText("\xB2"
                        "5/6:7"),
            "567");
}

TEST(FixedText, RoundsHalfAwayFromZero) {
  EXPECT_EQ(FixedText(13847.224, 0), "13847");
  EXPECT_EQ(FixedText(2.5, 0), "3");
  EXPECT_EQ(FixedText(-2.5, 0), "-3");
  EXPECT_EQ(FixedText(65.25, 1), "65.3");
  EXPECT_EQ(FixedText(0.05, 2), "0.05");
  EXPECT_EQ(FixedText(10.394333, 2), "10.39");
  EXPECT_EQ(FixedText(-0.001, 2), "0.00");
  EXPECT_EQ(FixedText(1e300, 0).substr(0, 4), "1000");
}

TEST(Samples, ScaleBandwidthSample) {
  EXPECT_EQ(ScaleBandwidthSample("12345"), "13212");
  EXPECT_EQ(ScaleBandwidthSample("8765"), "9381");
  EXPECT_EQ(ScaleBandwidthSample(""), "0");
  EXPECT_EQ(ScaleBandwidthSample("x"), "0");
}

TEST(Samples, OutputParserPatterns) {
  SampleList samples;
  BandwidthOutputParser parser(samples);
  parser.SetPrefix(kReadPrefix);
  EXPECT_EQ(parser.OnLibraryOutput("  32768 Kb block: 12345.67 Mb/s"), 1);
  EXPECT_EQ(parser.OnLibraryOutput("  16384 Kb block: 12345.67 Mb/s"), 0);
  EXPECT_EQ(parser.OnLibraryOutput("262144 Kb block: 12345 Mb/s"), 1);  // no point: sample 0
  EXPECT_EQ(parser.OnLibraryOutput("131072 Kb block: abc.5 Mb/s"), 0);  // garbled figure: no sample
  EXPECT_EQ(parser.OnLibraryOutput("65536 Kb block"), 1);               // nothing after: sample 0
  EXPECT_EQ(parser.OnLibraryOutput(nullptr), 0);
  parser.SetPrefix(kCopyPrefix);
  EXPECT_EQ(parser.OnLibraryOutput("MMX (nt)  Copy:    8765.43 Mb/s"), 1);
  EXPECT_EQ(parser.OnLibraryOutput("MMX (nt) Copy:    8765.43 Mb/s"), 0);
  const SampleList expected{"READ-013212", "READ-00", "READ-00", "COPY-09381"};
  EXPECT_EQ(samples, expected);
}

TEST(Samples, Averages) {
  EXPECT_EQ(AverageSamples({"WRITE-07954", "WRITE-07957"}, kWritePrefix), "7955");
  EXPECT_EQ(AverageSamples({"READ-013212", "READ-013214", "WRITE-01"}, kReadPrefix), "13847");
  EXPECT_EQ(AverageSamples({"COPY-09381"}, kCopyPrefix), "9831");
  EXPECT_EQ(AverageSamples({"LAT-06543", "LAT-06550", "LAT-06561", "LAT-06548"}, kLatencyPrefix), "65.5");
  EXPECT_EQ(AverageSamples({"READ-01"}, kWritePrefix), "0");
  EXPECT_EQ(AverageSamples({}, kLatencyPrefix), "0");
  EXPECT_EQ(AverageSamples({"LAT-06543", "LAT-0x"}, kLatencyPrefix), "0");
}

TEST(Samples, LatencyText) {
  EXPECT_EQ(LatencySampleFromText("65.4321 ns"), "06543");
  EXPECT_EQ(LatencySampleFromText("123.4"), "01234");
  EXPECT_EQ(LatencySampleFromText("Error: no memory"), "0");
  EXPECT_EQ(LatencySampleFromText(" +65.43% "), "06543");
  EXPECT_EQ(LatencySampleFromText(""), "0");
}

TEST(Host, LargestCache) {
  using sysinfo::SystemSpec;
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L3_CACHE: \"8 MBytes\""}}), "8192");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L2_CACHE: \"2 x 256 KBytes\""}}), "256");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L2_CACHE: \"3072 KBytes\""}}), "3072");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L2_CACHE: \"2 x 6 MBytes\""}}), "6144");
  // The first level listed wins, even when it gives nothing usable.
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L3_CACHE: \"\"", "PI_L2_CACHE: \"512 KBytes\""}}), "999999");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L4_CACHE: \"128 MBytes\"", "PI_L3_CACHE: \"8 MBytes\""}}),
            "131072");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{}), "999999");
  EXPECT_EQ(LargestCacheKBytes(SystemSpec{{"PI_L3_CACHE: \"1.5 MBytes\""}}), "1.5");
  int32_t size = 0;
  ASSERT_TRUE(LatencyTestSize("8192", &size));
  EXPECT_EQ(size, 44646);
  EXPECT_FALSE(LatencyTestSize("1.5", &size));
  EXPECT_FALSE(LatencyTestSize("99999999999", &size));
  EXPECT_EQ(BandwidthCommandLine("-b11 -g4 -m64"), "membw -b11 -g4 -m64 ");
}

TEST(Score, SharedMaximumAndCaption) {
  const ScoreUpdate s =
      ComputeScore(13000, 15000, 9000, "READ  13847  MByte/s", "WRITE  7955  MByte/s", "COPY  9381  MByte/s");
  EXPECT_EQ(s.sharedMax, 15000);
  EXPECT_EQ(s.caption, "10.39 ");
  EXPECT_EQ(ComputeScore(-5, -1, -2, "READ", "WRITE", "COPY").sharedMax, 0);
  EXPECT_EQ(ComputeScore(1, 1, 1, "READ", "WRITE  7955  MByte/s", "COPY  9381  MByte/s").caption, "--.--");
  EXPECT_EQ(ScoreCaption(1, 1, 0), "--.--");
}

TEST(Score, PointUnderDecimalCommaLocale) {
  DecimalCommaLocale locale;
  if (!locale.Active()) GTEST_SKIP() << "no decimal-comma locale could be made (localedef, locales package)";
  EXPECT_EQ(ScoreCaption(13847, 7955, 9381), "10.39 ");
  EXPECT_EQ(AverageSamples({"LAT-06543", "LAT-06550"}, kLatencyPrefix), "65.5");
  EXPECT_EQ(FixedText(1234.5, 1), "1234.5");
  EXPECT_EQ(sysinfo::ShortestNumberText(1600.5), "1600.5");
  EXPECT_EQ(sysinfo::MemoryClock(sysinfo::SystemSpec{{"CHIP_MEMORY_FREQUENCY: \"1600.2 MHz\""}}), 3201);
}

TEST(Notices, BusyWarningAboveTheThresholdOnly) {
  SampleSummary calm{{13800, 13900}, 0.72};
  EXPECT_EQ(BusyWarning(calm), "");
  SampleSummary busy{{9000, 15000}, 52.1};
  EXPECT_EQ(BusyWarning(busy), "the machine was busy: run again (spread 52.10 %)");
  // The window's tooltip carries the same word under the spread.
  const std::string tooltip =
      SamplesTooltip(SummariseSamples({"WRITE-09000", "WRITE-015000"}, kWritePrefix), kWritePrefix);
  EXPECT_NE(tooltip.find("\nthe machine was busy: run again (spread "), std::string::npos) << tooltip;
  SampleSummary edge{{1, 2}, kBusySpreadPercent};
  EXPECT_EQ(BusyWarning(edge), "");
  SampleSummary one{{9000}, 80};  // one sample has no spread to judge
  EXPECT_EQ(BusyWarning(one), "");
}
