// The quick-compare window: its dials laid out and set up from the reply, a failed fetch, and the
// clicks that close it.
#include "gui/compare.h"

#include <gtest/gtest.h>

#include "core/compare_model.h"
#include "tests/support/qt_app.h"

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

}  // namespace
