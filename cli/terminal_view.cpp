#include "cli/terminal_view.h"

#include <unistd.h>

#include <cstdio>

namespace cli {

TerminalView::TerminalView(core::WindowState& state) : state_(state), interactive_(::isatty(2) == 1) {
  state.SetListener([this](const core::WindowState::Change& change) {
    if (change.part == core::WindowState::Part::Progress) DrawProgress();
  });
}

void TerminalView::DrawProgress() {
  const int progress = state_.ProgressPosition();
  const int max = state_.ProgressMax();
  // A redrawn line only where someone watches; a log file gets the start and end lines.
  if (current_ && progress > 0 && interactive_) {
    const int width = 30;
    const int filled = max > 0 ? progress * width / max : 0;
    std::fprintf(stderr, "\r%-8s [%s%s] %d/%d", core::BarName(*current_), std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), progress, max);
    std::fflush(stderr);
    drawn_ = true;
  }
}

void TerminalView::ShowMessage(const std::string& title, const std::string& text) {
  EndProgressLine();
  std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  messages_.push_back(text);
}

void TerminalView::TestStarted(core::BarId id) {
  current_ = id;
  std::fprintf(stderr, interactive_ ? "%-8s running..." : "%-8s running...\n", core::BarName(id));
  std::fflush(stderr);
  drawn_ = interactive_;
}

void TerminalView::TestFinished(core::BarId id) {
  EndProgressLine();
  std::fprintf(stderr, "%-8s done: %s\n", core::BarName(id), state_.Bar(id).caption.c_str());
  current_.reset();
}

void TerminalView::ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string&) {
  spreads_[static_cast<int>(id)] = core::SpreadText(summary);
  summaries_[static_cast<int>(id)] = summary;
}

void TerminalView::EndProgressLine() {
  if (drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
}

}  // namespace cli
