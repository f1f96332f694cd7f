// The main window's face draws the model: every part on a full render, one part per change, and
// nothing of its own (the terminal's upload picture relies on that).
#include "gui/main_face.h"

#include <gtest/gtest.h>

#include "tests/support/qt_app.h"

namespace {

using core::BarId;
using core::Control;

std::string Std(const QString& s) { return s.toStdString(); }

// A model after a run on a known machine, with a few controls locked.
core::WindowState AfterARun() {
  core::WindowState state;
  sysinfo::PanelTexts panels;
  panels.osp = "Debian GNU/Linux 12";
  panels.cpup = "Intel Core i7-8700K @ 3.70GHz";
  panels.cpucores = "12";
  panels.modules[1] = "8 GB - DDR4 - Kingston KHX3200C16D4/8GX - PC4-25600 (1600 MHz) - a rather long text";
  state.SetPanels(panels);
  state.SetBar(BarId::Read, {13846, 13846, "READ  13847  MByte/s"});
  state.SetBar(BarId::Write, {13846, 6923, "WRITE  6924  MByte/s"});
  state.SetBar(BarId::Latency, {1500, 750, "LATENCY  75.0  ns"});
  state.SetScoreCaption("10.54 ");
  state.SetChecked(Control::CopyBox, false);
  state.SetChecked(Control::LogBox, true);
  state.SetEnabled(Control::Upload, false);
  state.SetEnabled(Control::Start, false);
  state.SetProgressMax(35);
  state.SetProgressPosition(7);
  state.SetReportLines({"Quorvex hardware report", "Machine"});
  state.SetTitle(std::string(core::kTitles.program) + core::kTitles.newVersionMark);
  return state;
}

class MainFaceTest : public ::testing::Test {
 protected:
  testing_qt::AppReady app;
};

TEST_F(MainFaceTest, AFullRenderShowsEveryPartOfTheModel) {
  const core::WindowState state = AfterARun();
  gui::MainFace face;
  face.Render(state);
  EXPECT_EQ(Std(face.osp->text()), "Debian GNU/Linux 12");
  EXPECT_EQ(Std(face.cpucores->text()), "12");
  EXPECT_EQ(Std(face.ramp->text()), "* - *");
  // A panel text wider than its panel can be read whole in its tooltip.
  EXPECT_EQ(Std(face.ramp2->toolTip()), state.Panels().modules[1]);
  EXPECT_TRUE(face.osp->toolTip().isEmpty());
  EXPECT_EQ(face.bread->caption(), "READ  13847  MByte/s");
  EXPECT_DOUBLE_EQ(face.bwrite->fillRatio(), 6923.0 / 13846.0);
  EXPECT_DOUBLE_EQ(face.blaten->fillRatio(), 0.5);
  EXPECT_EQ(face.bcopy->caption(), "COPY");
  EXPECT_EQ(Std(face.acLabel3->text()), "10.54 ");
  EXPECT_TRUE(face.CheckBox1->isChecked());
  EXPECT_FALSE(face.CheckBox3->isChecked());
  EXPECT_TRUE(face.CheckBox5->isChecked());
  EXPECT_FALSE(face.upload->isEnabled());
  EXPECT_FALSE(face.button7->isEnabled());
  EXPECT_FALSE(face.curve->isEnabled());  // follows the start button
  EXPECT_TRUE(face.gauge->isEnabled());
  EXPECT_EQ(face.ProgressBar1->maximum(), 35);
  EXPECT_EQ(face.ProgressBar1->value(), 7);
  EXPECT_EQ(face.Memo2->toPlainText(), QStringLiteral("Quorvex hardware report\nMachine"));
  EXPECT_EQ(Std(face.windowTitle()), "Quorvex\xC2\xB2 [New version available]");
  // The logo keeps the plain name.
  EXPECT_EQ(Std(face.acLabel1->text()), " Quorvex\xC2\xB2 ");
}

TEST_F(MainFaceTest, AChangeRedrawsOnlyItsPart) {
  core::WindowState state;
  gui::MainFace face;
  face.Render(state);
  EXPECT_EQ(Std(face.acLabel3->text()), "--.--");
  EXPECT_EQ(face.blaten->caption(), "LATENCY");
  EXPECT_TRUE(face.CheckBox4->isChecked());

  state.SetListener([&](const core::WindowState::Change& change) { face.Render(state, change); });
  state.SetScoreCaption("11.54 ");
  state.SetEnabled(Control::Buttons, false);
  EXPECT_EQ(Std(face.acLabel3->text()), "11.54 ");
  EXPECT_FALSE(face.buttonbar->isEnabled());
  // Parts nobody changed keep what was drawn, even where the widget was changed behind the model.
  face.bread->setValue({1, 1, "elsewhere"});
  state.SetChecked(Control::LatencyBox, false);
  EXPECT_FALSE(face.CheckBox4->isChecked());
  EXPECT_EQ(face.bread->caption(), "elsewhere");
}

}  // namespace
