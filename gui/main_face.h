// The main window's face: the machine summary, the score box, the button bar, the four result bars
// and the status bar, with the widgets' own names, drawing a core::WindowState. The window
// (TForm1) builds its handlers and menus on it; the terminal renders it offscreen for the upload's
// picture.
#pragma once

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QWidget>
#include <string>

#include "core/window_state.h"
#include "gui/gradient_bar.h"
#include "gui/link_label.h"

class QIcon;
class QTimer;

namespace gui {

// The outer window is 405 x 405 with the frame and caption bar the window picture draws; the face
// is what is left of it.
inline constexpr int kMainOuterSize = 405;

// The curve button's glyph.
QIcon CurveGlyph();

class MainFace : public QWidget {
  Q_OBJECT

 public:
  explicit MainFace(QWidget* parent = nullptr);

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
  QToolButton* curve;  // opens the cache-and-memory curve; usable when a run may start

  // --- Results ---
  QFrame* main;
  GradientBar *bread, *bwrite, *bcopy, *blaten;

  // --- Status bar (Panel2) ---
  QFrame* Panel2;
  QLabel* acLabel1;
  QProgressBar* ProgressBar1;
  QLabel* JvgLabel2;
  LinkLabel* JvgLabel1;
  // A passing note over the progress bar ("Result added to the log" and where); never in the
  // upload's picture.
  QLabel* StatusLine;

  // --- Out of view ---
  QPlainTextEdit* Memo2;  // the report buffer

  // Draws all of the model, or the part one change touched.
  void Render(const core::WindowState& state);
  void Render(const core::WindowState& state, const core::WindowState::Change& change);

  // The status bar's date and the program's version text (3.0.24.109, or "000").
  void ShowVersion(const std::string& versionText);
  // Shows a two-line note in the status bar for a while (the second line elided in the middle,
  // whole in the tooltip); HideStatus takes it away at once.
  void ShowStatus(const QString& first, const QString& second);
  void HideStatus();
  // Makes the bar as wide as the result panel's client width minus 9.
  void FitBarWidth(core::BarId id);

  GradientBar* BarOf(core::BarId id) const;
  QWidget* ControlOf(core::Control control) const;
  QCheckBox* BoxOf(core::Control control) const;

 private:
  // The parts of the window in the order they are made (and Tab walks them).
  void BuildSummary();
  void BuildScoreBox();
  void BuildButtonBar();
  void BuildResults();
  void BuildStatusBar();
  void LayOut();
  QLabel* MakeCaption(const char* text, int top);
  QLabel* MakeValuePanel(int left, int top, int width);
  void RenderPanels(const sysinfo::PanelTexts& panels);

  QTimer* statusTimer_;
};

}  // namespace gui
