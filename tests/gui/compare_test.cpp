// The quick compare: what the dials make of the server's reply, the window built from it, and
// the request as it goes out.
#include "gui/compare.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/compare_model.h"
#include "online/rank_fetch.h"
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
  // The system's 252 x 382 with a 16-pixel value line under each dial; no rank was asked.
  EXPECT_EQ(form.size(), QSize(252, 382 + 3 * 16));
  EXPECT_EQ(form.gg_gbyte->geometry(), QRect(4, 4, 244, 122));
  EXPECT_EQ(form.gg_ramclk->geometry(), QRect(4, 130 + 16, 244, 122));
  EXPECT_EQ(form.gg_lat->geometry(), QRect(4, 256 + 32, 244, 122));
  EXPECT_EQ(form.b2->geometry(), QRect(3, 129 + 16, 246, 124));
  EXPECT_GT(form.clockValue->y(), form.gg_ramclk->geometry().bottom());
  EXPECT_LT(form.clockValue->geometry().bottom(), form.gg_lat->y());
  EXPECT_TRUE(form.rankLine->isHidden());
  EXPECT_GE(form.Memo1->x(), form.width());  // out of view
  EXPECT_EQ(form.Memo1->toPlainText(), QStringLiteral("30#60#1500#2400#40#90"));

  EXPECT_EQ(form.gg_gbyte->lower(), 30);
  EXPECT_EQ(form.gg_gbyte->upper(), 60);
  EXPECT_EQ(form.gg_gbyte->value(), 60);  // 75.30 sits at the upper end
  EXPECT_EQ(form.gg_ramclk->lower(), 1475);
  EXPECT_EQ(form.gg_lat->upper(), 90);
  EXPECT_EQ(form.gg_gbyte->tickLabels().front(), QStringLiteral("30.00"));
  EXPECT_EQ(form.gg_ramclk->tickLabels().back(), QStringLiteral("2400"));  // round, inside 2410
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

  // The user's own values, and an arrow instead of a pinned pointer for the score off the scale.
  EXPECT_EQ(form.scoreValue->text(), QStringLiteral("Yours: 75.30 GByte/s, above the scale"));
  EXPECT_EQ(form.clockValue->text(), QStringLiteral("Yours: 1600 MHz"));
  EXPECT_EQ(form.latencyValue->text(), QStringLiteral("Yours: 78.5 ns"));
  EXPECT_EQ(form.gg_gbyte->offScale(), gui::QuickDial::OffScale::Above);
  EXPECT_EQ(form.gg_ramclk->offScale(), gui::QuickDial::OffScale::None);
}

TEST(CompareDial, TicksAreRoundValuesInsideTheSystemsRange) {
  const auto labels = [](double lower, double upper, int decimals) {
    gui::QuickDial dial;
    dial.setRange(lower, upper);
    dial.setDecimals(decimals);
    return dial.tickLabels().join(QLatin1Char(' ')).toStdString();
  };
  // 11 to 32 used to read 11.00 13.33 15.67 ...
  EXPECT_EQ(labels(11, 32, 2), "15.00 20.00 25.00 30.00");
  EXPECT_EQ(labels(30, 60, 2), "30.00 35.00 40.00 45.00 50.00 55.00 60.00");
  EXPECT_EQ(labels(1475, 2410, 0), "1500 1600 1700 1800 1900 2000 2100 2200 2300 2400");
  EXPECT_EQ(labels(40, 90, 1), "40.0 50.0 60.0 70.0 80.0 90.0");
  EXPECT_EQ(labels(-25, 10, 0), "-25 -20 -15 -10 -5 0 5 10");
  EXPECT_EQ(labels(0, 0, 2), "");    // a failed fetch: no scale to label
  EXPECT_EQ(labels(60, 30, 2), "");  // inverted
  for (double upper : {1.0, 7.0, 123.0, 99999.0}) {
    const std::vector<double> ticks = core::RoundTicks(0.5, upper, 10);
    ASSERT_FALSE(ticks.empty()) << upper;
    EXPECT_LE(ticks.size(), 10u) << upper;
    EXPECT_GE(ticks.front(), 0.5);
    EXPECT_LE(ticks.back(), upper);
  }
}

TEST(CompareDial, OffScaleValuesAreMarkedAtTheirEnd) {
  gui::QuickDial dial;
  dial.setRange(11, 32);
  dial.setValue(44.07);
  EXPECT_EQ(dial.offScale(), gui::QuickDial::OffScale::Above);
  EXPECT_EQ(dial.value(), 32);
  dial.setValue(5);
  EXPECT_EQ(dial.offScale(), gui::QuickDial::OffScale::Below);
  dial.setValue(32);
  EXPECT_EQ(dial.offScale(), gui::QuickDial::OffScale::None);
  dial.setRange(0, 0);  // no range: nothing to be off
  EXPECT_EQ(dial.offScale(), gui::QuickDial::OffScale::None);

  core::DialSetup d;
  d.lower = 11;
  d.upper = 32;
  d.unit = "GByte/s";
  d.decimals = 2;
  d.value = 5;
  EXPECT_EQ(d.ValueText(), "Yours: 5.00 GByte/s, below the scale");
  d.value = 0;
  d.upper = 0;
  EXPECT_EQ(d.ValueText(), "Yours: 0.00 GByte/s");
}

TEST_F(CompareWindowTest, TheSitesRankIsShownWhenItKnowsOneAndNothingElseOtherwise) {
  std::vector<std::string> asked;
  const auto open = [&](online::RankReply reply) {
    return std::make_unique<gui::Tfqcompare>(
        Inputs(),
        [](const std::string&) {
          return online::FetchReply{true, "30#60#1500#2400#40#90", ""};
        },
        nullptr,
        [&asked, reply](const std::string& target) {
          asked.push_back(target);
          return reply;
        });
  };
  const auto known = open({true, 73, "faster than 73 % of DDR4 dual-channel results", ""});
  ASSERT_EQ(asked, std::vector<std::string>{"/rank.json?type=DDR4&channels=Dual&score=40.12"});
  EXPECT_FALSE(known->rankLine->isHidden());
  EXPECT_EQ(known->rankLine->text(), QStringLiteral("faster than 73 % of DDR4 dual-channel results"));
  EXPECT_GT(known->rankLine->y(), known->latencyValue->geometry().bottom());
  EXPECT_GE(known->height(), known->rankLine->geometry().bottom());

  const auto unknown = open({false, -1, "", "too few DDR4 dual-channel results for a rank"});
  EXPECT_TRUE(unknown->rankLine->isHidden());
  EXPECT_EQ(unknown->size(), QSize(252, 382 + 3 * 16));
  EXPECT_EQ(unknown->windowTitle(), QStringLiteral("Quick compare"));

  // No reference line, no second wait for a rank.
  asked.clear();
  gui::Tfqcompare offline(
      Inputs(),
      [](const std::string&) {
        return online::FetchReply{false, "", "cannot connect"};
      },
      nullptr,
      [&asked](const std::string& target) {
        asked.push_back(target);
        return online::RankReply{true, 50, "faster than 50 %", ""};
      });
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(offline.rankLine->isHidden());
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

TEST(CompareRank, TheAnswerIsReadOnlyWithAPercentAndAText) {
  const online::RankReply known = online::RankFromReply(
      200,
      R"({"type":"DDR4","channels":"Dual","kind":"DDR4 dual-channel","score":27.5,"floor":20,"percent":73,)"
      R"("voices":41,"text":"faster than 73 % of DDR4 dual-channel results"})");
  EXPECT_TRUE(known.ok);
  EXPECT_EQ(known.percent, 73);
  EXPECT_EQ(known.text, "faster than 73 % of DDR4 dual-channel results");
  const online::RankReply few = online::RankFromReply(
      404, R"({"percent":null,"voices":3,"error":"too few DDR4 dual-channel results for a rank"})");
  EXPECT_FALSE(few.ok);
  EXPECT_EQ(few.error, "too few DDR4 dual-channel results for a rank");
  EXPECT_FALSE(online::RankFromReply(400, R"({"error":"a rank needs type"})").ok);
  EXPECT_FALSE(online::RankFromReply(200, "<html>gateway</html>").ok);
  EXPECT_FALSE(online::RankFromReply(200, R"({"percent":"73","text":"x"})").ok);
  EXPECT_FALSE(online::RankFromReply(200, R"([1,2])").ok);

  // The type without its parenthesised part and trimmed, the score as the site reads numbers.
  EXPECT_EQ(online::RankRequestTarget("DDR3 (PC3-10600)", "Dual", 27.5),
            "/rank.json?type=DDR3&channels=Dual&score=27.50");
  EXPECT_EQ(online::RankRequestTarget("DDR&4", "a b", 9.999),
            "/rank.json?type=DDR%264&channels=a%20b&score=10.00");
  EXPECT_EQ(online::RankRequestTarget("DDR4", "Dual", 0), "");
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

TEST(CompareFetch, RankGoesOutWithTheSameSettingsAndAFailureIsNoRank) {
  testing_http::Recorder server;
  server.SetAnswers({{200, R"({"percent":73,"text":"faster than 73 % of DDR4 dual-channel results"})"},
                     {404, R"({"percent":null,"error":"too few"})"}});
  setenv("QUORVEX_SERVER", server.Base().c_str(), 1);
  const online::RankReply first = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=27.50");
  const online::RankReply second = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=1.00");
  setenv("QUORVEX_SERVER", "http://127.0.0.1:1", 1);  // nothing listens there
  const online::RankReply third = online::FetchRank("/rank.json?type=DDR4&channels=Dual&score=1.00");
  unsetenv("QUORVEX_SERVER");
  EXPECT_TRUE(first.ok);
  EXPECT_EQ(first.text, "faster than 73 % of DDR4 dual-channel results");
  EXPECT_FALSE(second.ok);
  EXPECT_EQ(second.error, "too few");
  EXPECT_FALSE(third.ok);
  EXPECT_FALSE(third.error.empty());
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].substr(0, requests[0].find("\r\n")),
            "GET /rank.json?type=DDR4&channels=Dual&score=27.50 HTTP/1.1");
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows 98)\r\n"),
            std::string::npos);
}

}  // namespace
