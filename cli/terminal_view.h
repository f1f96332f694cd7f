// The terminal's side of a run: progress lines on standard error while a test runs, messages as
// lines, the samples' spread kept for the summary. What the run shows lives in the model.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/run_sequence.h"
#include "core/window_state.h"

namespace cli {

class TerminalView : public core::BenchView {
 public:
  // Draws the progress of state, which must outlive the view, as it changes.
  explicit TerminalView(core::WindowState& state);

  const std::vector<std::string>& Messages() const { return messages_; }
  // "5 samples, spread 0.42 %" for a test of this run, empty for one that did not run.
  const std::string& Spread(core::BarId id) const { return spreads_[static_cast<int>(id)]; }

  // The samples behind that result (empty values for one that did not run).
  const core::SampleSummary& Summary(core::BarId id) const { return summaries_[static_cast<int>(id)]; }

  void ShowMessage(const std::string& title, const std::string& text) override;
  void TestStarted(core::BarId id) override;
  void TestFinished(core::BarId id) override;
  void ShowSamples(core::BarId id, const core::SampleSummary& summary, const std::string&) override;

 private:
  void DrawProgress();
  void EndProgressLine();

  const core::WindowState& state_;
  std::array<std::string, 4> spreads_;
  std::array<core::SampleSummary, 4> summaries_;
  std::optional<core::BarId> current_;
  bool drawn_ = false;
  bool interactive_;
  std::vector<std::string> messages_;
};

}  // namespace cli
