// The entry's sequence with its outside world replaceable: the tests drive it with a fake
// processor, timer and kernels; membw() runs it with the real ones.
#pragma once

#include <cstdint>

#include "kernels.h"
#include "membw.h"
#include "procedures.h"

namespace membw_internal {

struct Machine {
  uint32_t (*vectorFlags)();       // CPU feature probe
  bool (*frequency)(int64_t* hz);  // counter frequency
  Kernel kernels[kKernelCount];    // by table row, see kernels.h
  void (*cpuReport)();             // the -i report
};

const Machine& RealMachine();

// Atoi as the option values are read: leading white space, sign, digits; saturates at the
// 32-bit limits instead of overflowing.
int32_t ReadNumber(const char* text);

int RunCommandLine(const char* commandLine, MembwOutput output, const Machine& machine);

}  // namespace membw_internal
