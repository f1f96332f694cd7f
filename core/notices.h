// What a user is told beside the system's own texts: a figure that is no measurement, and which
// memory facts keep the upload and the compare closed (figures too unsteady to trust: BusyWarning
// in samples.h). One wording for the window and the terminal.
#pragma once

#include <string>

#include "core/gate.h"

namespace core {

// "Latency could not be measured: ..." when the latency test ran but gave no figure (its caption
// reads 0.0 ns), with the reason; empty when it was measured or did not run.
std::string LatencyNotMeasured(const std::string& latencyCaption, const std::string& largestCacheKBytes);

// Which memory facts the upload and the compare miss and what helps, such as "memory clock and
// channels unknown: run once as root, or see README: memory facts"; empty when none is missing.
std::string MissingMemoryFacts(const ShareFacts& facts);

}  // namespace core
