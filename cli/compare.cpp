// quorvex-cli compare: the quick compare of the window, printed. The reference ranges for this
// machine's memory type and channels are fetched exactly as the window fetches them; the score and
// latency come from the last logged run unless given.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_view.h"
#include "core/compare_model.h"
#include "core/gate.h"
#include "core/gathering.h"
#include "core/notices.h"
#include "core/numeric.h"
#include "core/record.h"
#include "core/score.h"
#include "core/titles.h"
#include "core/window_state.h"
#include "online/compare_fetch.h"
#include "online/http_client.h"
#include "platform/file_io.h"
#include "sysinfo/runner.h"
#include "sysinfo/system_spec.h"
#include "sysinfo/text.h"

namespace cli {

namespace {

// The score and latency captions a logged run gives the window's model.
void ShowLoggedResult(const core::ResultRecord& record, core::WindowState& state) {
  if (record[core::RecordField::Result] != core::kNoScoreCaption)
    state.SetScoreCaption(core::ScoreCaptionOf(record[core::RecordField::Result]));
  if (core::NumericText(record[core::RecordField::Latency]) != "0") {
    core::BarValue latency = state.Bar(core::BarId::Latency);
    latency.caption = core::ResultCaption(core::BarId::Latency, record[core::RecordField::Latency]);
    state.SetBar(core::BarId::Latency, latency);
  }
}

// Server bytes on a terminal: control characters (escape sequences among them) shown as "?".
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  }
  return out;
}

void PrintDial(const core::DialSetup& d, const char* colours, int decimals) {
  auto n = [decimals](double v) { return core::FixedText(v, decimals); };
  std::printf("%s\n", d.title.c_str());
  if (!d.visible) {
    std::printf("  hidden (no latency result)\n");
    return;
  }
  std::printf("  range     %s .. %s\n", n(d.lower).c_str(), n(d.upper).c_str());
  std::printf("  bands     %s | %s | %s | %s   (%s)\n", n(d.lower).c_str(), n(d.firstBandEnd).c_str(),
              n(d.secondBandEnd).c_str(), n(d.upper).c_str(), colours);
  std::printf("  pointer   %s", n(d.Pointer()).c_str());
  if (d.Pointer() != d.value) std::printf("   (value %s, outside the range)", n(d.value).c_str());
  std::printf("\n");
}

void PrintSetup(const core::CompareSetup& s, const std::string& target) {
  std::printf("Quick compare %s\n", s.subtitle.c_str());
  std::printf("  server    %s\n", online::JoinUrl(online::ServerBase(), target).c_str());
  std::printf("  reply     %s\n\n", Printable(s.reply).c_str());
  PrintDial(s.score, "light red, light yellow, light green", 2);
  PrintDial(s.clock, "light blue first band only", 0);
  PrintDial(s.latency, "light green, light yellow, light red", 1);
}

nlohmann::json DialJson(const core::DialSetup& d) {
  if (!d.visible) return {{"title", d.title}, {"visible", false}};
  return {{"title", d.title},
          {"visible", true},
          {"lower", d.lower},
          {"upper", d.upper},
          {"bands", {d.lower, d.firstBandEnd, d.secondBandEnd, d.upper}},
          {"value", d.value},
          {"pointer", d.Pointer()}};
}

}  // namespace

int Compare(const CompareOptions& o) {
  std::string error;
  // What the window would show: this machine's facts from the same gathering as its start-up
  // (processor load included), the score and latency of the last logged run.
  core::WindowState state;
  core::MachineFacts facts;
  if (!o.type || !o.channels || !o.clock) {
    TerminalView view(state);
    sysinfo::LoadWorkers workers;
    facts = core::Gather(state, view, core::RealGatheringSteps(view, workers));
  }
  if (!o.score || !o.latency) {
    const std::string log = o.log ? *o.log : core::LogFilePath();
    error.clear();
    core::ResultRecord record;
    if (core::ReadLastRecord(log, &record, &error)) {
      ShowLoggedResult(record, state);
    } else if (!o.score) {
      std::fprintf(stderr,
                   "quorvex-cli compare: no logged run to compare (%s); log one with `quorvex-cli run --log`"
                   " or give --score\n",
                   error.c_str());
    }
  }
  core::ShareFacts in = core::ShareFactsOf(state, facts);
  if (o.type) in.memoryType = *o.type;
  if (o.channels) in.channels = *o.channels;
  if (o.clock) in.memoryClock = *o.clock;
  const core::WindowState opening;
  if (o.score) in.scoreCaption = core::ScoreCaptionOf(core::FixedText(*o.score, 2));
  if (o.latency) {
    in.latencyCaption = *o.latency > 0
                            ? core::ResultCaption(core::BarId::Latency, core::FixedText(*o.latency, 1))
                            : opening.Bar(core::BarId::Latency).caption;
  }

  const std::string stop = core::ShareStop(core::Share::Compare, in);
  if (!stop.empty()) {
    std::fprintf(stderr, "%s:%s\n", core::kTitles.compare, stop.c_str());
    if (stop == core::kNoSystemSpecToCompare) {
      if (const std::string missing = core::MissingMemoryFacts(in); !missing.empty())
        std::fprintf(stderr, "  %s\n", missing.c_str());
    }
    return 1;
  }

  const std::string target = core::CompareRequestTarget(in.memoryType, in.channels);
  const online::FetchReply reply = online::FetchFromServer(target);
  const core::CompareSetup s = core::SetupDials(reply.ok ? reply.body : std::string(), in);

  if (o.json) {
    const nlohmann::json out = {{"subtitle", s.subtitle},
                                {"server", online::JoinUrl(online::ServerBase(), target)},
                                {"reply", s.reply},
                                {"reference_data", reply.ok},
                                {"score", DialJson(s.score)},
                                {"clock", DialJson(s.clock)},
                                {"latency", DialJson(s.latency)}};
    std::printf("%s\n", out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else {
    PrintSetup(s, target);
  }
  if (!reply.ok) {
    std::fprintf(stderr, "quorvex-cli compare: no reference data: %s\n", reply.error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace cli
