// quorvex-cli compare: the quick compare of the window, printed. The reference ranges for this
// machine's memory type and channels are fetched exactly as the window fetches them; the score and
// latency come from the last logged run unless given.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/terminal_view.h"
#include "core/compare_model.h"
#include "core/gate.h"
#include "core/gathering.h"
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

const char* kUsage =
    "usage: quorvex-cli compare [--type TYPE] [--channels N] [--clock MHZ] [--score GBS] [--latency NS]\n"
    "                           [--log FILE]\n"
    "  Fetches the reference ranges for the memory type and channels from the program's web server\n"
    "  (QUORVEX_SERVER) and prints each dial: its range, band ends and where the pointer sits.\n"
    "  Type, channels and clock are read from this machine unless given; score and latency come\n"
    "  from the last run in the log (or FILE) unless given.\n";

struct Options {
  std::optional<std::string> type, channels, log;
  std::optional<double> clock, score, latency;
};

bool ParseOptions(const std::vector<std::string>& args, Options* o, std::string* error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto number = [&](std::optional<double>* out) {
      const auto text = value();
      const auto n = text ? core::ParseDecimal(*text) : std::nullopt;
      if (!n) {
        *error = a + " needs a number with \".\" as decimal point";
        return false;
      }
      *out = *n;
      return true;
    };
    if (a == "--type") {
      if (!(o->type = value())) return *error = "--type needs a memory type", false;
    } else if (a == "--channels") {
      if (!(o->channels = value())) return *error = "--channels needs a channel count", false;
    } else if (a == "--log") {
      if (!(o->log = value())) return *error = "--log needs a file", false;
    } else if (a == "--clock") {
      if (!number(&o->clock)) return false;
    } else if (a == "--score") {
      if (!number(&o->score)) return false;
    } else if (a == "--latency") {
      if (!number(&o->latency)) return false;
    } else {
      *error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

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

}  // namespace

int Compare(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  Options o;
  std::string error;
  if (!ParseOptions(args, &o, &error)) {
    std::fprintf(stderr, "quorvex-cli compare: %s\n%s", error.c_str(), kUsage);
    return 2;
  }

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
    return 1;
  }

  const std::string target = core::CompareRequestTarget(in.memoryType, in.channels);
  const online::FetchReply reply = online::FetchFromServer(target);
  const core::CompareSetup s = core::SetupDials(reply.ok ? reply.body : std::string(), in);

  std::printf("Quick compare %s\n", s.subtitle.c_str());
  std::printf("  server    %s\n", online::JoinUrl(online::ServerBase(), target).c_str());
  std::printf("  reply     %s\n\n", Printable(s.reply).c_str());
  PrintDial(s.score, "light red, light yellow, light green", 2);
  PrintDial(s.clock, "light blue first band only", 0);
  PrintDial(s.latency, "light green, light yellow, light red", 1);
  if (!reply.ok) {
    std::fprintf(stderr, "quorvex-cli compare: no reference data: %s\n", reply.error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace cli
