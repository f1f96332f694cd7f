// The main window offscreen: start-up with the carried report tool over a fixture machine and a
// local version server, and the run rules with a quick host.
#include "app/window/form1.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <cstdlib>

#include "platform/file_io.h"
#include "platform/temp_folder.h"
#include "sysinfo/panels.h"
#include "sysinfo/text.h"
#include "tests/online/local_server.h"
#include "tests/sysreport/fixture.h"
#include "tests/window/fakes.h"

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
  std::vector<std::string> messages;
  fakes::QuickHost* host = nullptr;
  std::string logPath;

  Window() {
    versionServer.Routes().Get("/version.php", [this](const httplib::Request&, httplib::Response& res) {
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
  const sysinfo::PanelTexts expected = sysinfo::ComposePanels(form.Spec(), form.MemoryClock());
  EXPECT_EQ(form.Caption(form.cpup), "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(form.Caption(form.cpucores), "12");
  EXPECT_EQ(form.Caption(form.osp), expected.osp);
  EXPECT_EQ(form.Caption(form.ramp), expected.ramp);
  EXPECT_EQ(form.Caption(form.ramp1), expected.modules[0]);
  EXPECT_EQ(form.Caption(form.mainbp), expected.mainbp);
  EXPECT_EQ(form.Caption(form.ramp).rfind("16 GB - DDR4", 0), 0u) << form.Caption(form.ramp);
  EXPECT_EQ(form.MachineIdHash().size(), 32u);

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
    EXPECT_EQ(form.ApplicationTitle(), std::string(kTitle) + " [New version available]");
    EXPECT_EQ(Std(form.acLabel1->text()), std::string(" ") + kTitle + " ");
  }
}

TEST_F(Window, AnEmptySystemReportClosesTheUploadGate) {
  TForm1 form(QuickOptions({}));
  EXPECT_EQ(form.Caption(form.cpup), "*");
  EXPECT_EQ(form.Caption(form.osp), "*");
  EXPECT_FALSE(form.upload->isEnabled());
  EXPECT_TRUE(form.button7->isEnabled());
}

TEST_F(Window, MemoryFactsRootAloneCouldReadAreExplainedInTheMemoryPanelsTooltip) {
  TForm1 form(QuickOptions({"Quorvex hardware report", "Machine", "", "Chipset", "--------", "",
                            "Memory Size\t\t16 GBytes",
                            "Memory Access\t\tSMBIOS table root only, no udev memory entry, no SPD EEPROM"}));
  EXPECT_EQ(form.Caption(form.ramp), "16 GB - * - 0 MHz - * Channel");
  EXPECT_EQ(Std(form.ramp->toolTip()), sysinfo::MemoryNotice(form.Spec()));
  EXPECT_NE(Std(form.ramp->toolTip()), "");
  EXPECT_TRUE(messages.empty());  // told quietly, never in a message box
  TForm1 known(QuickOptions(FixtureReport()));
  EXPECT_TRUE(known.ramp->toolTip().isEmpty());
}

// --- The run ---

TEST_F(Window, WithNoTestSelectedTheRunOnlyRecomputesTheScore) {
  TForm1 form(QuickOptions(FixtureReport()));
  for (QCheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4})
    box->setChecked(false);
  form.button7->click();
  EXPECT_TRUE(host->calls.empty());
  EXPECT_EQ(Std(form.acLabel3->text()), "--.--");
  EXPECT_EQ(form.BarCaption(core::BarId::Read), "READ");

  for (QCheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4})
    box->setChecked(true);
  form.button7->click();
  for (QCheckBox* box : {form.CheckBox1, form.CheckBox2, form.CheckBox3, form.CheckBox4})
    box->setChecked(false);
  host->calls.clear();
  form.button7->click();
  EXPECT_TRUE(host->calls.empty());
  EXPECT_EQ(Std(form.acLabel3->text()), "10.54 ");  // from the captions left by the earlier run
  EXPECT_TRUE(form.upload->isEnabled());
  EXPECT_TRUE(form.gauge->isEnabled());
}

TEST_F(Window, OnlyReadAfterAFullRunKeepsTheOtherResults) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.button7->click();
  EXPECT_EQ(Std(form.acLabel3->text()), "10.54 ");

  host->figures["-b11 -g4 -m64"] = {"15000.00"};
  host->figures["-b11 -g4 -m128"] = {"15000.00"};
  host->calls.clear();
  for (QCheckBox* box : {form.CheckBox2, form.CheckBox3, form.CheckBox4}) box->setChecked(false);
  form.button7->click();
  EXPECT_EQ(host->calls, (std::vector<std::string>{"-b11 -g4 -m64|READ-", "-b11 -g4 -m128|READ-"}));
  // 15000 x 1.07025 = 16053.75 -> 16054, x 1.048 = 16824.6
  EXPECT_EQ(form.BarCaption(core::BarId::Read), "READ  16825  MByte/s");
  EXPECT_EQ(form.BarCaption(core::BarId::Write), "WRITE  7955  MByte/s");
  EXPECT_EQ(form.BarCaption(core::BarId::Copy), "COPY  9831  MByte/s");
  EXPECT_EQ(form.BarCaption(core::BarId::Latency), "LATENCY  65.5  ns");
  EXPECT_EQ(Std(form.acLabel3->text()), "11.54 ");  // (16825 + 7955 + 9831) / 3000
  EXPECT_EQ(form.Run().SharedBarMax(), 16824);
  EXPECT_DOUBLE_EQ(form.bread->fillRatio(), 1.0);
  EXPECT_NEAR(form.bwrite->fillRatio(), 7954.0 / 16824.0, 1e-9);
}

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
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  };
  form.button7->click();
  EXPECT_EQ(checks, 11);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_EQ(form.ProgressBar1->value(), 0);
}

TEST_F(Window, AfterAnUploadTheUploadButtonStaysDisabled) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.SetUploadTag(1);
  form.upload->setEnabled(false);
  form.button7->click();
  EXPECT_FALSE(form.upload->isEnabled());
  EXPECT_TRUE(form.gauge->isEnabled());
}

TEST_F(Window, ACpuPanelOfExactlyAStarDisablesUpload) {
  TForm1 form(QuickOptions(FixtureReport(false)));
  EXPECT_EQ(form.Caption(form.cpup), "*");
  EXPECT_NE(form.Caption(form.osp), "*");
  EXPECT_FALSE(form.upload->isEnabled());
  form.button7->click();
  EXPECT_EQ(Std(form.acLabel3->text()), "10.54 ");  // every test succeeded
  EXPECT_FALSE(form.upload->isEnabled());
}

TEST_F(Window, TheLogIsWrittenBeforeTheUploadRules) {
  TForm1 form(QuickOptions(FixtureReport()));
  form.CheckBox5->setChecked(true);
  host->cache = "999999";  // the gate will close after the log
  bool uploadEnabledWhileLogging = false;
  int lookups = 0;
  form.Environment().countryLookup = [&] {
    ++lookups;
    uploadEnabledWhileLogging = form.upload->isEnabled();
    return std::string("DE");
  };
  form.button7->click();
  EXPECT_EQ(lookups, 1);
  EXPECT_TRUE(uploadEnabledWhileLogging);
  EXPECT_FALSE(form.upload->isEnabled());
  std::string bytes;
  ASSERT_TRUE(platform::ReadWholeFile(logPath, &bytes));
  const std::vector<std::string> lines = sysinfo::SplitLines(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("\"DATE\";\"TIME\";", 0), 0u);
  EXPECT_NE(lines[1].find("\"13847\";\"7955\";\"9831\";\"65.5\";\"10.54\";"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"DE\";\"Quorvex2_LOG.csv\";\"3.0.24.109\";\"12\";"), std::string::npos)
      << lines[1];

  form.button7->click();  // a second logged run adds exactly one line
  ASSERT_TRUE(platform::ReadWholeFile(logPath, &bytes));
  EXPECT_EQ(sysinfo::SplitLines(bytes).size(), 3u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Window, WithoutLogNoFileIsTouched) {
  TForm1 form(QuickOptions(FixtureReport()));
  int lookups = 0;
  form.Environment().countryLookup = [&] {
    ++lookups;
    return std::string("DE");
  };
  form.button7->click();
  EXPECT_EQ(lookups, 0);
  EXPECT_FALSE(platform::FileExists(logPath));
}

TEST_F(Window, AFailingModuleShowsOneMessageAndLeavesTheWindowUsable) {
  TForm1 form(QuickOptions(FixtureReport()));
  host->failArguments = "-b10 -g8 -m128";
  form.button7->click();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("WRITE:"), std::string::npos);
  EXPECT_EQ(form.BarCaption(core::BarId::Write), "WRITE  0  MByte/s");
  EXPECT_EQ(form.BarCaption(core::BarId::Copy), "COPY  9831  MByte/s");
  EXPECT_TRUE(form.button7->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Window, ResultsOfATerminalRunCanBeShown) {
  window::FormOptions options;
  options.startUp = false;
  options.show = false;
  TForm1 form(options);
  core::MachineFacts facts;
  facts.machineIdHash = "0123456789ABCDEF0123456789ABCDEF";
  sysinfo::PanelTexts panels;
  panels.cpup = "Intel Core i7-8700K @ 3.70GHz";
  std::vector<core::BarValue> bars(4);
  bars[0] = {13846, 13846, "READ  13847  MByte/s"};
  bars[3] = {1500, 655, "LATENCY  65.5  ns"};
  form.ShowResults(facts, panels, bars, "10.54 ");
  EXPECT_EQ(form.Caption(form.cpup), "Intel Core i7-8700K @ 3.70GHz");
  EXPECT_EQ(form.BarCaption(core::BarId::Read), "READ  13847  MByte/s");
  EXPECT_EQ(Std(form.acLabel3->text()), "10.54 ");
  EXPECT_EQ(form.CurrentRecordInputs().idHash, "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(form.CurrentRecordInputs().latencyCaption, "LATENCY  65.5  ns");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
