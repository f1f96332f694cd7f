// The main window: its handlers, menus and start-up over the face that main_face.* draws from
// the window's model. The rules the handlers follow live in core/ (run_sequence.*,
// gathering.*, window_state.*), which the terminal front end shares.
#pragma once

#include <QMenu>
#include <functional>
#include <memory>
#include <string>

#include "core/gathering.h"
#include "core/run_sequence.h"
#include "core/window_state.h"
#include "gui/main_face.h"
#include "sysinfo/runner.h"

class QCloseEvent;
class QContextMenuEvent;
class QPaintEvent;

namespace window {

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

class TForm1 : public gui::MainFace, private core::BenchView {
  Q_OBJECT

 public:
  explicit TForm1(const window::FormOptions& options = window::FormOptions(), QWidget* parent = nullptr);
  ~TForm1() override;

  // --- Out of view: the per-test buttons and the gathering's button ---
  QPushButton *bbread, *bbwrite, *bbcopy, *bblaten;
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

  // What the window shows; the face draws every change of it.
  core::WindowState& State() { return state_; }
  const core::WindowState& State() const { return state_; }
  // What the gathering learned, for the run, the record, upload and compare.
  const core::MachineFacts& Facts() const { return facts_; }
  // Takes facts gathered elsewhere (tests), the identity hash included.
  void UseFacts(const core::MachineFacts& facts);
  // The program's own version text (3.0.24.109, or "000").
  const std::string& VersionText() const { return Environment().versionText; }
  core::RunEnvironment& Environment() { return run_->Environment(); }
  const core::RunEnvironment& Environment() const { return run_->Environment(); }
  core::RunSequence& Run() { return *run_; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Closing during a run: the module call in progress finishes, nothing more is measured or
  // logged, then the window closes and the program ends. Closing during the start-up skips what
  // is left of it and ends the program.
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void BuildControls();
  // One test as its hidden button runs it.
  void RunOneTest(core::BarId id);

  // core::BenchView
  void FitBarWidth(core::BarId id) override;
  void RepaintProgress() override;
  void SetBusyCursor(bool busy) override;
  void ProcessEvents() override;
  void ShowMessage(const std::string& title, const std::string& text) override;
  void ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string& prefix) override;
  void RunModuleCall(const core::ModuleWork& work, const std::function<void()>& onText) override;

  // Shows the window and waits (a little) until it has been painted once.
  void ShowAndPaint();
  // Closes the window for good once a run that a close interrupted is over.
  void CloseIfAsked();
  // Closes the window and ends the message loop, also one that has not started yet.
  void EndProgram();

  window::FormOptions options_;
  core::WindowState state_;
  core::MachineFacts facts_;
  void TellLatencyNotMeasured();
  bool painted_ = false;
  bool closeAfterRun_ = false;
  bool startingUp_ = false;         // between the first paint and the end of the gathering
  bool closeAfterStartUp_ = false;  // closed while starting up: the program ends once it can
  std::string resultAddress_;       // the page of the result this run uploaded, once stored
  std::unique_ptr<core::BenchHost> host_;
  std::unique_ptr<core::RunSequence> run_;
};
