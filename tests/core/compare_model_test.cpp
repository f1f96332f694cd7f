// What the quick compare makes of the server's reply: the words, the dials' ranges, bands and
// pointers, and the request target.
#include "core/compare_model.h"

#include <gtest/gtest.h>

#include "tests/support/share_facts.h"

namespace {

core::ShareFacts Inputs() { return testsupport::Ddr4DualRun(); }

TEST(CompareReply, SixNumbersByBreakTagInAnyCaseOrHash) {
  for (const std::string body :
       {"30<br />60<BR />1500<Br />2400<bR />40<BR />90", "30#60#1500#2400#40#90",
        "##30###60#1500#2400#40#90##", "30<br />60#1500<BR />2400#40<br />90<br />"}) {
    const core::CompareSetup s = core::SetupDials(body, Inputs());
    EXPECT_EQ(s.score.lower, 30) << body;
    EXPECT_EQ(s.score.upper, 60) << body;
    EXPECT_EQ(s.clock.lower, 1475) << body;
    EXPECT_EQ(s.clock.upper, 2410) << body;
    EXPECT_EQ(s.latency.lower, 40) << body;
    EXPECT_EQ(s.latency.upper, 90) << body;
  }
}

TEST(CompareReply, StrayByteSequencesAreRemovedBeforeTheWords) {
  const std::string body =
      "3\xC3\xD0\xBD\xAD\xC1"
      "0#6\xF2\xF5\xF2\xF5\xF2\xF5"
      "0#1500#2400#40#90";
  EXPECT_EQ(core::CleanCompareReply(body), "30#60#1500#2400#40#90");
  // A partial sequence stays (and so spoils nothing but its own word).
  EXPECT_EQ(core::CleanCompareReply("\xF2\xF5\xF2\xF5#7"), "\xF2\xF5\xF2\xF5#7");
}

TEST(CompareReply, BandEndsFollowTheFactors) {
  const core::CompareSetup s = core::SetupDials("10#40#1000#2000#50#110", Inputs());
  EXPECT_DOUBLE_EQ(s.score.firstBandEnd, 13.5);
  EXPECT_DOUBLE_EQ(s.score.secondBandEnd, 21.5);
  // Clock -25/+10: 975..2010, a range of 1035.
  EXPECT_DOUBLE_EQ(s.clock.firstBandEnd, 975 + 1035 / 3.0 * 0.5);
  EXPECT_DOUBLE_EQ(s.clock.secondBandEnd, 975 + 1035 / 3.0 * 1.75);
  EXPECT_DOUBLE_EQ(s.latency.firstBandEnd, 50 + 60 / 3.0 * 1.19);
  EXPECT_DOUBLE_EQ(s.latency.secondBandEnd, 50 + 60 / 3.0 * 2.39);
}

TEST(CompareReply, ValuesComeFromTheCaptionsAndTheClock) {
  const core::CompareSetup s = core::SetupDials("30#60#1500#2400#40#90", Inputs());
  EXPECT_DOUBLE_EQ(s.score.value, 40.12);
  EXPECT_DOUBLE_EQ(s.clock.value, 1600);
  EXPECT_DOUBLE_EQ(s.latency.value, 78.5);
  EXPECT_TRUE(s.latency.visible);
  EXPECT_EQ(s.subtitle, "(Using DDR4 Dual Channel scale)");
  EXPECT_EQ(s.score.title, "Memory score (GByte/sec.)");
  EXPECT_EQ(s.clock.title, "Memory clock (MHz)");
  EXPECT_EQ(s.latency.title, "Latency (ns)");
}

TEST(CompareReply, LatencyDialHiddenWithoutALatency) {
  core::ShareFacts in = Inputs();
  in.latencyCaption = "LATENCY";
  const core::CompareSetup s = core::SetupDials("30#60#1500#2400#40#90", in);
  EXPECT_FALSE(s.latency.visible);
  EXPECT_TRUE(s.score.visible);
  EXPECT_TRUE(s.clock.visible);
}

TEST(CompareReply, PointerIsClampedIntoTheRange) {
  core::ShareFacts in = Inputs();
  in.scoreCaption = "75.30 ";  // above the server's upper end
  in.memoryClock = 800;        // below the lower end
  const core::CompareSetup s = core::SetupDials("30#60#1500#2400#40#90", in);
  EXPECT_DOUBLE_EQ(s.score.value, 75.30);
  EXPECT_DOUBLE_EQ(s.score.Pointer(), 60);
  EXPECT_DOUBLE_EQ(s.clock.Pointer(), 1475);
}

TEST(CompareReply, EmptyReplyGivesZeroRangesWithClampedPointers) {
  const core::CompareSetup s = core::SetupDials("", Inputs());
  EXPECT_EQ(s.score.lower, 0);
  EXPECT_EQ(s.score.upper, 0);
  EXPECT_EQ(s.clock.lower, -25);
  EXPECT_EQ(s.clock.upper, 10);
  EXPECT_EQ(s.latency.lower, 0);
  EXPECT_EQ(s.latency.upper, 0);
  EXPECT_DOUBLE_EQ(s.score.Pointer(), 0);
  EXPECT_DOUBLE_EQ(s.clock.Pointer(), 10);
  EXPECT_DOUBLE_EQ(s.latency.Pointer(), 0);
}

TEST(CompareReply, WordsThatAreNotWholeNumbersReadAsTheNearestOne) {
  EXPECT_EQ(core::ReferenceNumber("30.6"), 31);
  EXPECT_EQ(core::ReferenceNumber("1500,4"), 1500);
  EXPECT_EQ(core::ReferenceNumber(" 42 GB/S"), 42);
  EXPECT_EQ(core::ReferenceNumber("-3.5"), -4);
  EXPECT_EQ(core::ReferenceNumber(""), 0);
  EXPECT_EQ(core::ReferenceNumber("N/A"), 0);
  EXPECT_EQ(core::ReferenceNumber("+-"), 0);
  EXPECT_EQ(core::ReferenceNumber("99999999999999"), 2147483647);
  const core::CompareSetup s = core::SetupDials("29.5#60.2#1500#2400.7#40#90", Inputs());
  EXPECT_EQ(s.score.lower, 30);
  EXPECT_EQ(s.score.upper, 60);
  EXPECT_EQ(s.clock.upper, 2411);
}

TEST(CompareRequest, TypeLosesItsParenthesesAndTheBlankIsEscaped) {
  EXPECT_EQ(core::CompareRequestTarget("DDR4", "Dual"), "/compare.php?P1=DDR4&&P2=Dual");
  // "DDR3 (PC3-10600)" is sent as "DDR3 " with its one trailing blank.
  EXPECT_EQ(core::CompareRequestTarget("DDR3 (PC3-10600)", "2"), "/compare.php?P1=DDR3%20&&P2=2");
  EXPECT_EQ(core::CompareRequestTarget("DDR&R", "a=b"), "/compare.php?P1=DDR%26R&&P2=a%3Db");
  core::ShareFacts in = Inputs();
  in.memoryType = "DDR3 (PC3-10600)";
  EXPECT_EQ(core::SetupDials("", in).subtitle, "(Using DDR3 Dual Channel scale)");
}

}  // namespace
