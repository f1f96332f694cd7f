// The facts of one DDR4 dual-channel run as the quick compare is given them, for its tests.
#pragma once

#include "core/gate.h"

namespace testsupport {

inline core::ShareFacts Ddr4DualRun() {
  core::ShareFacts in;
  in.memoryType = "DDR4";
  in.channels = "Dual";
  in.memoryClock = 1600;
  in.scoreCaption = "40.12 ";
  in.latencyCaption = "LATENCY  78.5  ns";
  return in;
}

}  // namespace testsupport
