// What the main window shows, as one plain model: the four result bars, the progress, the check
// boxes, which controls may be used, the summary panels, the score, the upload mark and the report
// buffer. The run and the gathering change it; the window and the terminal only draw it.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/titles.h"
#include "sysinfo/panels.h"

namespace core {

enum class BarId { Read = 0, Write = 1, Copy = 2, Latency = 3 };
inline constexpr BarId kBars[] = {BarId::Read, BarId::Write, BarId::Copy, BarId::Latency};

// A bar's range as the window's bars keep it: minimum 0, a maximum and a position, both clamped.
struct BarValue {
  int max = 100;
  int position = 0;
  std::string caption;

  // A maximum below 0 becomes 0; the position follows a lowered maximum.
  void SetMax(int value);
  // A position outside 0..max is clamped into it.
  void SetPosition(int value);
};

// The controls the run and the gathering lock and unlock, by what they are. The four test boxes
// come first, in the order of BarId.
enum class Control {
  ReadBox,
  WriteBox,
  CopyBox,
  LatencyBox,
  LogBox,
  Start,    // " Start Bench!"
  Upload,   // the score upload
  Compare,  // the quick compare
  Buttons,  // the whole row of buttons and boxes
};
inline constexpr int kControlCount = static_cast<int>(Control::Buttons) + 1;

// "READ", "WRITE", "COPY", "LATENCY": a bar's caption while it has no result, and its test's name.
const char* BarName(BarId id);
// A bar's caption with its result: "READ  13847  MByte/s", "LATENCY  65.5  ns".
std::string ResultCaption(BarId id, const std::string& value);
// The score box's caption for a figure with two decimals: "10.54" gives "10.54 ".
std::string ScoreCaptionOf(const std::string& figure);

// The check box that selects a test.
constexpr Control TestBox(BarId id) { return static_cast<Control>(static_cast<int>(id)); }

class WindowState {
 public:
  // What a change touched; index is the bar or the control for those parts.
  enum class Part { Bar, Progress, Checked, Enabled, Panels, Score, UploadTag, ReportLines, Title };
  struct Change {
    Part part;
    int index = 0;
  };
  using Listener = std::function<void(const Change&)>;

  // The window as it opens: plain captions, LATENCY full at 150.0 ns, the four tests checked and
  // LOG! not, no score, every control usable, the panels waiting for the gathering.
  WindowState();

  // One listener, told after every change (also when a value is set to what it was).
  void SetListener(Listener listener) { listener_ = std::move(listener); }

  const BarValue& Bar(BarId id) const { return bars_[static_cast<int>(id)]; }
  void SetBar(BarId id, const BarValue& value);

  // The status bar's progress, clamped into 0..max as the bars clamp.
  int ProgressPosition() const { return progress_; }
  int ProgressMax() const { return progressMax_; }
  void SetProgressPosition(int position);
  void SetProgressMax(int max);

  bool Checked(Control control) const { return checked_[static_cast<int>(control)]; }
  void SetChecked(Control control, bool checked);
  bool Enabled(Control control) const { return enabled_[static_cast<int>(control)]; }
  void SetEnabled(Control control, bool enabled);

  const sysinfo::PanelTexts& Panels() const { return panels_; }
  void SetPanels(const sysinfo::PanelTexts& panels);

  // "--.--" (kNoScoreCaption) or the score with its trailing blank ("10.54 ").
  const std::string& ScoreCaption() const { return score_; }
  void SetScoreCaption(const std::string& caption);

  // The upload mark: 0 until an upload has been made since the program started.
  int UploadTag() const { return uploadTag_; }
  void SetUploadTag(int tag);

  // The report buffer (Memo2): the report tool's lines.
  const std::vector<std::string>& ReportLines() const { return reportLines_; }
  void SetReportLines(const std::vector<std::string>& lines);

  // kTitles.program, perhaps followed by kTitles.newVersionMark.
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);

 private:
  void Tell(Part part, int index = 0) const {
    if (listener_) listener_(Change{part, index});
  }

  std::array<BarValue, 4> bars_;
  int progress_ = 0;
  int progressMax_ = 100;
  std::array<bool, kControlCount> checked_{};
  std::array<bool, kControlCount> enabled_{};
  sysinfo::PanelTexts panels_;
  std::string score_;
  int uploadTag_ = 0;
  std::vector<std::string> reportLines_;
  std::string title_ = kTitles.program;
  Listener listener_;
};

}  // namespace core
