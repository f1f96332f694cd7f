// The quick-compare window: its dials laid out and set up from the reply, a failed fetch, and the
// clicks that close it.
#include "gui/compare.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/compare_model.h"
#include "online/rank_fetch.h"
#include "tests/support/qt_app.h"
#include "tests/support/share_facts.h"

namespace {

core::ShareFacts Inputs() { return testsupport::Ddr4DualRun(); }

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

}  // namespace
