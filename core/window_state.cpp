#include "core/window_state.h"

#include <algorithm>

#include "core/score.h"

namespace core {

void BarValue::SetMax(int value) {
  max = std::max(0, value);
  position = std::min(position, max);
}

void BarValue::SetPosition(int value) { position = std::clamp(value, 0, max); }

const char* BarName(BarId id) {
  static const char* const kNames[] = {"READ", "WRITE", "COPY", "LATENCY"};
  return kNames[static_cast<int>(id)];
}

std::string ResultCaption(BarId id, const std::string& value) {
  const char* unit = id == BarId::Latency ? "  ns" : "  MByte/s";
  return std::string(BarName(id)) + "  " + value + unit;
}

std::string ScoreCaptionOf(const std::string& figure) { return figure + " "; }

WindowState::WindowState() : score_(kNoScoreCaption) {
  for (BarId id : kBars) {
    bars_[static_cast<int>(id)].caption = BarName(id);
    // Tenths of a nanosecond: the latency bar is full at 150.0 ns.
    if (id == BarId::Latency) bars_[static_cast<int>(id)].max = 1500;
    checked_[static_cast<int>(TestBox(id))] = true;
  }
  enabled_.fill(true);
}

void WindowState::SetBar(BarId id, const BarValue& value) {
  bars_[static_cast<int>(id)] = value;
  Tell(Part::Bar, static_cast<int>(id));
}

void WindowState::SetProgressPosition(int position) {
  progress_ = std::clamp(position, 0, progressMax_);
  Tell(Part::Progress);
}

void WindowState::SetProgressMax(int max) {
  progressMax_ = std::max(0, max);
  progress_ = std::min(progress_, progressMax_);
  Tell(Part::Progress);
}

void WindowState::SetChecked(Control control, bool checked) {
  checked_[static_cast<int>(control)] = checked;
  Tell(Part::Checked, static_cast<int>(control));
}

void WindowState::SetEnabled(Control control, bool enabled) {
  enabled_[static_cast<int>(control)] = enabled;
  Tell(Part::Enabled, static_cast<int>(control));
}

void WindowState::SetPanels(const sysinfo::PanelTexts& panels) {
  panels_ = panels;
  Tell(Part::Panels);
}

void WindowState::SetScoreCaption(const std::string& caption) {
  score_ = caption;
  Tell(Part::Score);
}

void WindowState::SetUploadTag(int tag) {
  uploadTag_ = tag;
  Tell(Part::UploadTag);
}

void WindowState::SetReportLines(const std::vector<std::string>& lines) {
  reportLines_ = lines;
  Tell(Part::ReportLines);
}

void WindowState::SetTitle(const std::string& title) {
  title_ = title;
  Tell(Part::Title);
}

}  // namespace core
