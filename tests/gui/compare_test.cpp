// The quick compare: what the dials make of the server's reply, the window built from it, and
// the request as it goes out.
#include "gui/compare.h"

#include <gtest/gtest.h>

#include "core/compare_model.h"
#include "tests/support/qt_app.h"
#include "tests/support/recorder.h"

namespace {

core::ShareFacts Inputs() {
  core::ShareFacts in;
  in.memoryType = "DDR4";
  in.channels = "Dual";
  in.memoryClock = 1600;
  in.scoreCaption = "40.12 ";
  in.latencyCaption = "LATENCY  78.5  ns";
  return in;
}

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

class CompareWindowTest : public ::testing::Test {
 protected:
  testing_qt::AppReady app;
};

TEST_F(CompareWindowTest, DialsAreLaidOutAndSetUpFromTheReply) {
  std::vector<std::string> asked;
  core::ShareFacts in = Inputs();
  in.scoreCaption = "75.30 ";
  gui::Tfqcompare form(in, [&](const std::string& target) {
    asked.push_back(target);
    return online::FetchReply{true, "30<br />60<br />1500<br />2400<br />40<br />90", ""};
  });
  ASSERT_EQ(asked, std::vector<std::string>{"/compare.php?P1=DDR4&&P2=Dual"});
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Quick compare"));
  EXPECT_EQ(form.size(), QSize(252, 382));
  EXPECT_EQ(form.gg_gbyte->geometry(), QRect(4, 4, 244, 122));
  EXPECT_EQ(form.gg_ramclk->geometry(), QRect(4, 130, 244, 122));
  EXPECT_EQ(form.gg_lat->geometry(), QRect(4, 256, 244, 122));
  EXPECT_EQ(form.b2->geometry(), QRect(3, 129, 246, 124));
  EXPECT_GE(form.Memo1->x(), form.width());  // out of view
  EXPECT_EQ(form.Memo1->toPlainText(), QStringLiteral("30#60#1500#2400#40#90"));

  EXPECT_EQ(form.gg_gbyte->lower(), 30);
  EXPECT_EQ(form.gg_gbyte->upper(), 60);
  EXPECT_EQ(form.gg_gbyte->value(), 60);  // 75.30 sits at the upper end
  EXPECT_EQ(form.gg_ramclk->lower(), 1475);
  EXPECT_EQ(form.gg_lat->upper(), 90);
  EXPECT_EQ(form.gg_gbyte->tickLabels().front(), QStringLiteral("30.00"));
  EXPECT_EQ(form.gg_ramclk->tickLabels().back(), QStringLiteral("2410"));
  EXPECT_EQ(form.gg_lat->tickLabels().front(), QStringLiteral("40.0"));
  EXPECT_EQ(form.gg_gbyte->bands().size(), 3u);
  EXPECT_EQ(form.gg_ramclk->bands().size(), 1u);
  EXPECT_EQ(form.gg_ramclk->bands()[0].colour, QColor(168, 211, 255));
  EXPECT_EQ(form.gg_lat->bands()[0].colour, QColor(128, 255, 128));
  EXPECT_EQ(form.gg_lat->bands()[2].colour, QColor(255, 128, 128));
  EXPECT_TRUE(form.gg_lat->raisedFace());
  EXPECT_FALSE(form.gg_gbyte->raisedFace());
  EXPECT_FALSE(form.fetchFailed());
  EXPECT_FALSE(form.gg_lat->isHidden());
}

TEST_F(CompareWindowTest, FailedFetchSaysSoAndHidesAMissingLatency) {
  core::ShareFacts in = Inputs();
  in.latencyCaption = "LATENCY";
  gui::Tfqcompare form(in, [](const std::string&) {
    return online::FetchReply{false, "", "cannot connect"};
  });
  EXPECT_TRUE(form.fetchFailed());
  EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Quick compare")));
  EXPECT_NE(form.windowTitle(), QStringLiteral("Quick compare"));
  EXPECT_TRUE(form.gg_lat->isHidden());
  EXPECT_FALSE(form.gg_gbyte->isHidden());
  EXPECT_EQ(form.gg_ramclk->lower(), -25);
  EXPECT_EQ(form.gg_ramclk->value(), 10);
}

TEST_F(CompareWindowTest, ClickOnAnyDialOrTheBackgroundCloses) {
  auto reply = [](const std::string&) { return online::FetchReply{true, "1#2#3#4#5#6", ""}; };
  for (int target = 0; target < 4; ++target) {
    gui::Tfqcompare form(Inputs(), reply);
    form.show();
    ASSERT_TRUE(form.isVisible());
    if (target == 0) emit form.gg_gbyte->clicked();
    if (target == 1) emit form.gg_ramclk->clicked();
    if (target == 2) emit form.gg_lat->clicked();
    if (target == 3) form.FormClick();
    EXPECT_FALSE(form.isVisible()) << target;
  }
}

TEST(CompareFetch, RequestGoesOutWithTheCompareClientSettings) {
  testing_http::Recorder server;
  server.SetAnswers({{200, "30<BR />60<BR />1500<BR />2400<BR />40<BR />90"}, {404, "gone"}});
  setenv("QUORVEX_SERVER", server.Base().c_str(), 1);
  const online::FetchReply first =
      online::FetchFromServer(core::CompareRequestTarget("DDR3 (PC3-10600)", "Dual"));
  const online::FetchReply second = online::FetchFromServer("/compare.php?P1=X&&P2=Y");
  unsetenv("QUORVEX_SERVER");
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.body, "30<BR />60<BR />1500<BR />2400<BR />40<BR />90");
  EXPECT_FALSE(second.ok);
  EXPECT_NE(second.error.find("404"), std::string::npos) << second.error;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")), "GET /compare.php?P1=DDR3%20&&P2=Dual HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"),
            std::string::npos);
  EXPECT_NE(requests[0].find("\r\nAccept: text/html, */*\r\n"), std::string::npos);
  EXPECT_EQ(requests[0].find("Cookie"), std::string::npos);
}

}  // namespace
