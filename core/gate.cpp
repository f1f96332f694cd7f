#include "core/gate.h"

#include "core/host.h"
#include "core/score.h"
#include "sysinfo/report_keys.h"
#include "sysinfo/system_spec.h"
#include "text/trim.h"

namespace core {

ShareFacts ShareFactsOf(const WindowState& state, const MachineFacts& facts) {
  ShareFacts share;
  share.memoryType = sysinfo::SpecValue(facts.spec, sysinfo::kReportKeys.memoryType);
  share.channels = sysinfo::SpecValue(facts.spec, sysinfo::kReportKeys.channels);
  share.memoryClock = facts.memoryClock;
  share.scoreCaption = state.ScoreCaption();
  share.latencyCaption = state.Bar(BarId::Latency).caption;
  return share;
}

std::string ShareStop(Share share, const ShareFacts& facts) {
  const bool noSystem =
      text::Trim(facts.memoryType) == "*" || text::Trim(facts.channels) == "*" || facts.memoryClock == 0;
  const bool noScore = facts.scoreCaption == kNoScoreCaption;
  if (share == Share::Upload) {
    if (noSystem) return kNoSystemSpecToUpload;
    if (noScore) return kNoScoreToUpload;
  } else {
    if (noScore) return kNoScoreToCompare;
    if (noSystem) return kNoSystemSpecToCompare;
  }
  return {};
}

std::string UploadStopBeforeRun(const WindowState& state, const MachineFacts& facts,
                                const std::string& largestCacheKBytes) {
  ShareFacts share = ShareFactsOf(state, facts);
  share.scoreCaption.clear();  // not "--.--": the run is yet to give one
  if (std::string stop = ShareStop(Share::Upload, share); !stop.empty()) return stop;
  WindowState gated = state;
  gated.SetListener({});
  gated.SetEnabled(Control::Upload, true);
  ApplyUploadGate(gated, largestCacheKBytes);
  if (!gated.Enabled(Control::Upload))
    return largestCacheKBytes == kUnknownCacheKBytes ? "the processor's cache size is unknown"
                                                     : "the processor or the operating system is unknown";
  return {};
}

void ApplyUploadGate(WindowState& state, const std::string& largestCacheKBytes) {
  if (largestCacheKBytes == kUnknownCacheKBytes || state.Panels().cpup == "*" || state.Panels().osp == "*") {
    state.SetEnabled(Control::Upload, false);
  }
}

}  // namespace core
