// The main window offscreen: start-up with the carried report tool over a fixture machine and a
// local version server, and the run rules with a quick host.
#include "gui/form1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "core/numeric.h"
#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/panels.h"
#include "sysinfo/text.h"
#include "tests/core/fakes.h"
#include "tests/online/local_server.h"
#include "tests/sysreport/fixture.h"

namespace {

const char* const kTitle = "Quorvex\xC2\xB2";

std::string Std(const QString& s) { return s.toStdString(); }

std::vector<std::string> FixtureReport(bool withCpuName = true) {
  const char* source = std::getenv("QUORVEX_SOURCE_DIR");
  std::string bytes;
  EXPECT_TRUE(platform::ReadWholeFile(
      std::string(source ? source : ".") + "/tests/fixtures/sysreport/ddr4-desktop.txt", &bytes));
  std::vector<std::string> lines = sysinfo::SplitLines(bytes);
  if (!withCpuName) {
    std::erase_if(lines, [](const std::string& l) { return l.rfind("Specification", 0) == 0; });
  }
  return lines;
}

struct Window : ::testing::Test {
  testing_http::LocalServer versionServer;
  std::string serverReply = "3.0.24.109";
  std::function<void()> beforeVersionReply;  // runs on the server's thread
  std::vector<std::string> messages;
  fakes::QuickHost* host = nullptr;
  std::string logPath;

  Window() {
    versionServer.Routes().Get("/version.php", [this](const httplib::Request&, httplib::Response& res) {
      if (beforeVersionReply) beforeVersionReply();
      res.set_content(serverReply, "text/html");
    });
    ::setenv("QUORVEX_SERVER", versionServer.Start().c_str(), 1);
    static int count = 0;
    const std::string folder = platform::PrivateFolder() + "/form-" + std::to_string(++count);
    platform::MakeFolders(folder);
    logPath = folder + "/Quorvex2_LOG.csv";
  }

  // A window whose gathering reads the given report at once and whose tests answer at once.
  window::FormOptions QuickOptions(std::vector<std::string> report) {
    window::FormOptions options;
    options.show = false;
    options.logPath = logPath;
    options.messageSink = [this](const std::string&, const std::string& text) { messages.push_back(text); };
    options.makeHost = [this](const sysinfo::SystemSpec&) {
      auto made = std::make_unique<fakes::QuickHost>();
      host = made.get();
      return std::unique_ptr<core::BenchHost>(std::move(made));
    };
    options.gatheringSteps = [report](core::BenchView&) {
      core::GatheringSteps steps;
      steps.runReportTool = [report](std::string*) { return report; };
      return steps;
    };
    return options;
  }
};

// --- Start-up ---

TEST_F(Window, StartUpShowsTitleVersionAndThePanelsOfTheReportTool) {
  fixture::Tree tree;
  fixture::Ddr4Desktop(tree);
  ::setenv("QUORVEX_SYSROOT", tree.Root().c_str(), 1);
  window::FormOptions options;
  options.show = false;
  options.messageSink = [this](const std::string&, const std::string& text) { messages.push_back(text); };
  TForm1 form(options);
  ::unsetenv("QUORVEX_SYSROOT");

  EXPECT_EQ(Std(form.windowTitle()), kTitle);
  EXPECT_EQ(Std(form.acLabel1->text()), std::string(" ") + kTitle + " ");
  EXPECT_EQ(form.JvgLabel2->text(), QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat) +
                                        QStringLiteral(" - v3.0.24.109"));
  EXPECT_EQ(form.VersionText(), "3.0.24.109");
  EXPECT_TRUE(messages.empty()) << messages.front();

  // The tool's report of the fixture machine, composed as the gathering composes it.
  ASSERT_FALSE(form.Memo2->toPlainText().isEmpty());
  const sysinfo::PanelTexts expected = sysinfo::ComposePanels(form.Facts().spec, form.Facts().memoryClock);
  EXPECT_EQ(form.State().Panels().cpup, "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(form.State().Panels().cpucores, "12");
  EXPECT_EQ(form.State().Panels().osp, expected.osp);
  EXPECT_EQ(form.State().Panels().ramp, expected.ramp);
  EXPECT_EQ(form.State().Panels().modules[0], expected.modules[0]);
  EXPECT_EQ(form.State().Panels().mainbp, expected.mainbp);
  EXPECT_EQ(form.State().Panels().ramp.rfind("16 GB - DDR4", 0), 0u) << form.State().Panels().ramp;
  EXPECT_EQ(form.Facts().machineIdHash.size(), 32u);

  // Unlocked, with the upload allowed for a machine whose facts are known.
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_TRUE(form.buttonbar->isEnabled());
  EXPECT_TRUE(form.upload->isEnabled());
  EXPECT_TRUE(form.gauge->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(Std(form.acLabel3->text()), "--.--");
  EXPECT_EQ(Std(form.acLabel2->text()), "GByte/s ");
  EXPECT_TRUE(form.CheckBox1->isChecked() && form.CheckBox4->isChecked());
  EXPECT_FALSE(form.CheckBox5->isChecked());
  // The per-test buttons and the report buffer lie outside the window.
  EXPECT_FALSE(form.rect().intersects(form.bbread->geometry()));
  EXPECT_FALSE(form.rect().intersects(form.Memo2->geometry()));
}

TEST_F(Window, AnotherServerVersionMarksTheTitleButNotTheLogo) {
  for (const char* reply : {"3.0.24.110", "3.0.24.108"}) {
    serverReply = reply;
    TForm1 form(QuickOptions(FixtureReport()));
    EXPECT_EQ(Std(form.windowTitle()), std::string(kTitle) + " [New version available]") << reply;
    EXPECT_EQ(form.State().Title(), std::string(kTitle) + " [New version available]");
    EXPECT_EQ(Std(form.acLabel1->text()), std::string(" ") + kTitle + " ");
  }
}

TEST_F(Window, AnEmptySystemReportClosesTheUploadGate) {
  TForm1 form(QuickOptions({}));
  EXPECT_EQ(form.State().Panels().cpup, "*");
  EXPECT_EQ(form.State().Panels().osp, "*");
  EXPECT_FALSE(form.upload->isEnabled());
  EXPECT_TRUE(form.button7->isEnabled());
}

TEST_F(Window, MemoryFactsRootAloneCouldReadAreExplainedInTheMemoryPanelsTooltip) {
  TForm1 form(QuickOptions({"Quorvex hardware report", "Machine", "", "Chipset", "--------", "",
                            "Memory Size\t\t16 GBytes",
                            "Memory Access\t\tSMBIOS table root only, no udev memory entry, no SPD EEPROM"}));
  EXPECT_EQ(form.State().Panels().ramp, "16 GB - * - 0 MHz - * Channel");
  EXPECT_EQ(Std(form.ramp->toolTip()), sysinfo::MemoryNotice(form.Facts().spec));
  EXPECT_NE(Std(form.ramp->toolTip()), "");
  EXPECT_TRUE(messages.empty());  // told quietly, never in a message box
  // No clock, so nothing about it.
  EXPECT_EQ(Std(form.ramp->toolTip()).find("MHz"), std::string::npos);
  TForm1 known(QuickOptions(FixtureReport()));
  ASSERT_GT(known.Facts().memoryClock, 0);
  // Nothing is missing; the clock's figure is explained, in the record's own form.
  const std::string clock =
      core::FixedText(known.Facts().memoryClock, 0) + " MHz is the modules' transfer rate";
  EXPECT_EQ(Std(known.ramp->toolTip()).rfind(clock, 0), 0u) << Std(known.ramp->toolTip());
  EXPECT_NE(Std(known.ramp->toolTip()).find("a DDR4-3200 kit reads 3201 MHz"), std::string::npos);
  EXPECT_NE(known.State().Panels().ramp.find(core::FixedText(known.Facts().memoryClock, 0) + " MHz"),
            std::string::npos);
}

// --- The run ---

// The locking rules are the model's (tests/core); here the window shows them and the wait cursor.
TEST_F(Window, TheRunLocksTheWindowWhileItRuns) {
  TForm1 form(QuickOptions(FixtureReport()));
  int checks = 0;
  host->onCall = [&] {
    ++checks;
    EXPECT_FALSE(form.button7->isEnabled());
    EXPECT_FALSE(form.CheckBox1->isEnabled());
    EXPECT_FALSE(form.CheckBox5->isEnabled());
    EXPECT_FALSE(form.upload->isEnabled());
    EXPECT_FALSE(form.gauge->isEnabled());
    EXPECT_FALSE(form.curve->isEnabled());
    EXPECT_FALSE(form.Curve1->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  };
  form.button7->click();
  EXPECT_EQ(checks, 11);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_TRUE(form.curve->isEnabled());
  EXPECT_EQ(form.ProgressBar1->value(), 0);
}

TEST_F(Window, TheCheckBoxesAreTheModelsAndTheWindowDrawsItsResults) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.CheckBox2->setChecked(false);  // as a click would
  EXPECT_FALSE(form.State().Checked(core::Control::WriteBox));
  form.State().SetChecked(core::Control::CopyBox, false);
  EXPECT_FALSE(form.CheckBox3->isChecked());
  form.button7->click();
  EXPECT_EQ(host->calls.size(), 6u);  // READ twice, LATENCY four times
  EXPECT_EQ(form.bread->caption(), "READ  13847  MByte/s");
  EXPECT_EQ(form.bwrite->caption(), "WRITE");
  EXPECT_EQ(Std(form.acLabel3->text()), "--.--");
  EXPECT_DOUBLE_EQ(form.bread->fillRatio(), 1.0);
  EXPECT_NEAR(form.blaten->fillRatio(), 655.0 / 1500.0, 1e-9);
}

TEST_F(Window, AFailingModuleShowsOneMessageAndLeavesTheWindowUsable) {
  TForm1 form(QuickOptions(FixtureReport()));
  host->failArguments = "-b10 -g8 -m128";
  form.button7->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("WRITE:"), std::string::npos);
  EXPECT_EQ(form.State().Bar(core::BarId::Write).caption, "WRITE  0  MByte/s");
  EXPECT_EQ(form.State().Bar(core::BarId::Copy).caption, "COPY  9831  MByte/s");
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// The terminal's upload renders the face alone from its run's model: the same picture as the window.
TEST_F(Window, TheFaceAloneDrawsTheSamePictureAsTheWindow) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.CheckBox5->setChecked(true);
  form.Environment().countryLookup = [] { return std::string("DE"); };
  form.button7->click();
  // The note of where the log went is the window's alone, and passes.
  EXPECT_TRUE(form.StatusLine->isVisibleTo(&form));
  form.HideStatus();
  gui::MainFace face;
  face.ShowVersion(form.VersionText());
  face.Render(form.State());
  EXPECT_EQ(face.grab().toImage(), form.grab().toImage());
}

TEST_F(Window, ARunThatLogsSaysOnceWhereTheLogIsAndTheMenuOpensItsFolder) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.Environment().countryLookup = [] { return std::string("DE"); };
  form.button7->click();  // LOG! unticked: nothing written, nothing said
  EXPECT_FALSE(form.StatusLine->isVisibleTo(&form));
  form.CheckBox5->setChecked(true);
  form.button7->click();
  ASSERT_TRUE(form.StatusLine->isVisibleTo(&form));
  EXPECT_EQ(Std(form.StatusLine->toolTip()), logPath);
  EXPECT_TRUE(form.StatusLine->text().startsWith(QStringLiteral("Result added to the log:\n")));
  EXPECT_TRUE(form.StatusLine->text().endsWith(QStringLiteral("Quorvex2_LOG.csv")));
  // Over the progress bar, clear of the date and the link.
  for (const QLabel* right :
       {static_cast<const QLabel*>(form.JvgLabel2), static_cast<const QLabel*>(form.JvgLabel1)})
    EXPECT_LT(form.StatusLine->geometry().right(),
              right->geometry().right() - right->fontMetrics().horizontalAdvance(right->text()));
  EXPECT_TRUE(messages.empty());

  // Beside "Cache & memory curve", above the system's "-" and "About".
  QStringList entries;
  for (QAction* a : form.SystemMenu1->actions())
    entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(entries.join(QLatin1Char('|')).toStdString(), "Cache && memory curve|Open log folder|-|About");

  // A log whose folder is gone is named, not opened.
  window::FormOptions options = QuickOptions(FixtureReport());
  options.logPath = "/nonexistent-quorvex/Quorvex2_LOG.csv";
  TForm1 missing(options);
  missing.SystemMenu1->actions().at(1)->trigger();
  ASSERT_TRUE(missing.StatusLine->isVisibleTo(&missing));
  EXPECT_EQ(Std(missing.StatusLine->toolTip()), options.logPath);
}

// --- Closing while it starts ---

// Closes every main window, as the user's click on the title bar's close button does.
void CloseTheWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* form = qobject_cast<TForm1*>(w)) form->close();
}

// Runs the message loop as main() does after the start-up; true when it ended by itself.
bool MessageLoopEnds() {
  bool hung = false;
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&hung] {
    hung = true;
    QApplication::exit(3);
  });
  watchdog.start(20000);
  QApplication::exec();
  return !hung;
}

TEST_F(Window, AClosedWhileItFirstPaintsEndsTheProgramWithoutGathering) {
  window::FormOptions options = QuickOptions(FixtureReport());
  options.show = true;
  bool gathered = false;
  options.gatheringSteps = [&gathered](core::BenchView&) {
    core::GatheringSteps steps;
    steps.runReportTool = [&gathered](std::string*) {
      gathered = true;
      return std::vector<std::string>{};
    };
    return steps;
  };
  QTimer::singleShot(0, CloseTheWindow);  // the first pass of the loop in the paint wait
  TForm1 form(options);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(gathered);
  EXPECT_TRUE(MessageLoopEnds());
}

TEST_F(Window, AClosedDuringTheGatheringsWaitEndsTheProgramOnceTheGatheringIsOver) {
  window::FormOptions options = QuickOptions(FixtureReport());
  options.show = true;
  options.gatheringSteps = [](core::BenchView& view) {
    core::GatheringSteps steps;
    steps.pumpWait = [&view](unsigned) {
      CloseTheWindow();
      view.ProcessEvents();
    };
    steps.stopLoad = [] {};
    return steps;
  };
  TForm1 form(options);
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(form.button7->isEnabled());  // the gathering finished and unlocked the window
  EXPECT_TRUE(MessageLoopEnds());
}

TEST_F(Window, AClosedDuringASlowVersionCheckEndsTheProgram) {
  // The close comes while the check blocks and is handled in the gathering's wait.
  beforeVersionReply = [] {
    QMetaObject::invokeMethod(QCoreApplication::instance(), CloseTheWindow, Qt::QueuedConnection);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  };
  window::FormOptions options = QuickOptions(FixtureReport());
  options.show = true;
  options.gatheringSteps = [](core::BenchView& view) {
    core::GatheringSteps steps;
    steps.pumpWait = [&view](unsigned) { view.ProcessEvents(); };
    return steps;
  };
  TForm1 form(options);
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(MessageLoopEnds());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
