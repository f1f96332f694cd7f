// The main window: the machine summary, the score box, the button bar, the four result bars and
// the status bar. Its handlers keep the system's names; the rules they follow live in
// app/core/run_sequence.* and app/core/gathering.*, which the terminal front end shares.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "app/core/gathering.h"
#include "app/core/run_sequence.h"
#include "app/window/gradient_bar.h"
#include "sysinfo/runner.h"

class QCloseEvent;
class QContextMenuEvent;
class QIcon;
class QPaintEvent;

namespace window {

// A label that acts as a web link: underlined blue text, pointing hand, clicked() on release.
class LinkText : public QLabel {
  Q_OBJECT
 public:
  explicit LinkText(QWidget* parent = nullptr);
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

// The curve button's glyph (form1_curve.cpp).
QIcon CurveGlyph();

// Options for building the window; the defaults are the program's own start-up.
struct FormOptions {
  // Run the version check and the gathering as the program does at start-up.
  bool startUp = true;
  // Show the window (tests and offscreen pictures may keep it hidden).
  bool show = true;
  // The executable whose version the status bar shows; empty = this program.
  std::string programPath;
  // Where "LOG!" appends; empty = the program's log (core::LogFilePath()).
  std::string logPath;
  // Receives the window's messages instead of a message box (tests, offscreen pictures).
  std::function<void(const std::string& title, const std::string& text)> messageSink;
  // Replaces the steps of the gathering (tests); empty = the carried report tool.
  std::function<core::GatheringSteps(core::BenchView&)> gatheringSteps;
  // Replaces the module host (tests); empty = the carried modules.
  std::function<std::unique_ptr<core::BenchHost>(const sysinfo::SystemSpec&)> makeHost;
};

}  // namespace window

class TForm1 : public QWidget, private core::BenchView {
  Q_OBJECT

 public:
  explicit TForm1(const window::FormOptions& options = window::FormOptions(), QWidget* parent = nullptr);
  ~TForm1() override;

  // --- System summary (Panel1) ---
  QFrame* Panel1;
  QLabel *os, *cpu, *ram, *ramtimi, *mainb, *ram1, *ram2, *ram3, *ram4;
  QLabel *osp, *cpup, *ramp, *ramtimip, *mainbp, *ramp1, *ramp2, *ramp3, *ramp4;
  QLabel *cpucores, *cpuclockp;
  QFrame* Panel3;
  QLabel* acLabel3;  // the score
  QLabel* acLabel2;  // "GByte/s "

  // --- Button bar ---
  QFrame* buttonbar;
  QCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5;
  QPushButton* button7;
  QToolButton* upload;
  QToolButton* gauge;
  QToolButton* curve;  // opens the cache-and-memory curve (form1_curve.cpp)

  // --- Results ---
  QFrame* main;
  window::GradientBar *bread, *bwrite, *bcopy, *blaten;

  // --- Status bar (Panel2) ---
  QFrame* Panel2;
  QLabel* acLabel1;
  QProgressBar* ProgressBar1;
  QLabel* JvgLabel2;
  window::LinkText* JvgLabel1;

  // --- Out of view ---
  QPushButton *bbread, *bbwrite, *bbcopy, *bblaten;
  QPlainTextEdit* Memo2;
  QPushButton* Button2;

  // The window's menu (the context menu here): a separator and "About".
  QMenu* SystemMenu1;
  QAction* About1;
  QAction* Curve1;  // "Cache & memory curve", above the system's two entries

  // The load01 and load02 threads that keep the processor busy while the report tool looks at it.
  sysinfo::LoadWorkers loadWorkers;

  // --- Handlers ---
  void FormCreate();
  void Button2Click();
  void Button7Click();
  void bbreadClick();
  void bbwriteClick();
  void bbcopyClick();
  void bblatenClick();
  void uploadClick();  // form1_online.cpp
  void gaugeClick();   // form1_online.cpp
  void About1Click();  // form1_online.cpp
  void curveClick();   // form1_curve.cpp
  void JvgLabel1Click();

  // --- What the upload and the quick compare read ---
  const sysinfo::SystemSpec& Spec() const { return facts_.spec; }
  double MemoryClock() const { return facts_.memoryClock; }
  const std::string& MachineIdHash() const { return facts_.machineIdHash; }
  // "Quorvex²", perhaps followed by " [New version available]".
  const std::string& ApplicationTitle() const { return applicationTitle_; }
  // The program's own version text (3.0.24.109, or "000").
  const std::string& VersionText() const { return versionText_; }
  // The captions as 8-bit (UTF-8) texts, the way the record reads them.
  std::string Caption(const QLabel* label) const;
  std::string BarCaption(core::BarId id) const;
  std::string ScoreText() const;
  // The upload mark: 0 until an upload has been made since the program started.
  int UploadTag() const override { return uploadTag_; }
  void SetUploadTag(int tag) { uploadTag_ = tag; }
  // The record inputs as the window shows them now, for WriteResultRecord.
  core::RunEnvironment& Environment() { return run_->Environment(); }
  core::RunSequence& Run() { return *run_; }

  // Fills the window from a run made elsewhere (the terminal): facts, panels, bars and score.
  // bars in the order of core::BarId.
  void ShowResults(const core::MachineFacts& facts, const sysinfo::PanelTexts& panels,
                   const std::vector<core::BarValue>& bars, const std::string& score);
  // The record inputs as the window shows them now.
  core::RecordInputs CurrentRecordInputs() const;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Closing during a run: the module call in progress finishes, nothing more is measured or
  // logged, then the window closes and the program ends.
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildControls();
  QLabel* MakeCaption(const char* text, int top);
  QLabel* MakeValuePanel(int left, int top, int width);
  window::GradientBar* BarOf(core::BarId id) const;
  QWidget* ControlOf(core::Control control) const;
  QLabel* PanelOf(core::Panel panel) const;

  // core::BenchView
  core::BarValue Bar(core::BarId id) const override;
  void SetBar(core::BarId id, const core::BarValue& value) override;
  void FitBarWidth(core::BarId id) override;
  int ProgressPosition() const override;
  void SetProgressPosition(int position) override;
  void SetProgressMax(int max) override;
  void RepaintProgress() override;
  bool Checked(core::Control control) const override;
  void SetEnabled(core::Control control, bool enabled) override;
  std::string PanelText(core::Panel panel) const override;
  void SetPanelText(core::Panel panel, const std::string& text) override;
  std::string ScoreCaption() const override;
  void SetScoreCaption(const std::string& text) override;
  void SetBusyCursor(bool busy) override;
  void ProcessEvents() override;
  void SetReportLines(const std::vector<std::string>& lines) override;
  void ShowMessage(const std::string& title, const std::string& text) override;
  void ClickTestButton(core::BarId id) override;
  void ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string& prefix) override;
  void RunModuleCall(const core::ModuleWork& work, const std::function<void()>& onText) override;

  // Shows the window and waits (a little) until it has been painted once.
  void ShowAndPaint();
  // Closes the window for good once a run that a close interrupted is over.
  void CloseIfAsked();

  window::FormOptions options_;
  core::MachineFacts facts_;
  std::string applicationTitle_;
  std::string versionText_;
  int uploadTag_ = 0;
  bool painted_ = false;
  bool closeAfterRun_ = false;
  std::string resultAddress_;  // the page of the result this run uploaded, once stored
  std::unique_ptr<core::BenchHost> host_;
  std::unique_ptr<core::RunSequence> run_;
};
