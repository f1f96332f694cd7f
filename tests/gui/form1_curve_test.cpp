// The main window's ways into the curve: the glyph button in the score box and the context menu's
// entry above the system's two.
#include <gtest/gtest.h>

#include "gui/form1.h"
#include "tests/support/qt_app.h"

namespace {

class MainWindowCurve : public ::testing::Test {
 protected:
  testing_qt::AppReady app;
};

TEST_F(MainWindowCurve, ButtonInTheScoreBoxAndFirstEntryOfTheMenu) {
  window::FormOptions options;
  options.show = false;
  options.messageSink = [](const std::string&, const std::string&) {};
  options.gatheringSteps = [](core::BenchView&) {
    core::GatheringSteps steps;
    steps.runReportTool = [](std::string*) { return std::vector<std::string>{}; };
    return steps;
  };
  TForm1 form(options);

  ASSERT_NE(form.curve, nullptr);
  EXPECT_EQ(form.curve->parentWidget(), form.Panel3);
  EXPECT_TRUE(form.Panel3->rect().contains(form.curve->geometry()));
  EXPECT_FALSE(form.curve->geometry().intersects(form.acLabel3->geometry()));  // never over the score
  EXPECT_EQ(form.curve->toolTip(), QStringLiteral("Cache & memory curve"));
  EXPECT_FALSE(form.curve->icon().isNull());

  const QList<QAction*> entries = form.SystemMenu1->actions();
  ASSERT_EQ(entries.size(), 4);
  EXPECT_EQ(entries[0], form.Curve1);
  EXPECT_EQ(entries[0]->text(), QStringLiteral("Cache && memory curve"));  // shown with one "&"
  EXPECT_EQ(entries[1]->text(), QStringLiteral("Open log folder"));
  EXPECT_TRUE(entries[2]->isSeparator());
  EXPECT_EQ(entries[3], form.About1);

  // Open for use once the start-up has unlocked the window, like " Start Bench!".
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_TRUE(form.curve->isEnabled());
  EXPECT_TRUE(form.Curve1->isEnabled());
}

}  // namespace
