// What a user is told beside the system's own texts: a figure that is no measurement, figures
// too unsteady to trust, and which memory facts keep the upload and the compare closed. One
// wording for the window and the terminal.
#pragma once

#include <string>

#include "core/gate.h"
#include "core/samples.h"

namespace core {

// Above this spread (max - min over the mean) the samples disagree too much to be trusted. On an
// idle machine the tests spread by a few per cent at most; a busy one reaches 50 % and more.
inline constexpr double kBusySpreadPercent = 15.0;

// "Latency could not be measured: ..." when the latency test ran but gave no figure (its caption
// reads 0.0 ns), with the reason; empty when it was measured or did not run.
std::string LatencyNotMeasured(const std::string& latencyCaption, const std::string& largestCacheKBytes);

// "the machine was busy: run again (spread 52.10 %)" above kBusySpreadPercent, else empty.
std::string BusyWarning(const SampleSummary& summary);

// Which memory facts the upload and the compare miss and what helps, such as "memory clock and
// channels unknown: run once as root, or see README: memory facts"; empty when none is missing.
std::string MissingMemoryFacts(const ShareFacts& facts);

}  // namespace core
