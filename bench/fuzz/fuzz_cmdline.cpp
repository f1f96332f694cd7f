// libFuzzer target for the module's command line: tokens, option scanning and validation, and
// the procedures behind them, with fake kernels so that an input costs microseconds. The first
// byte chooses the machine (timer, features, kernel times) and whether the scanner keeps its
// position from the previous input, as a second call on one loaded instance would.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cpuinfo.h"
#include "entry.h"
#include "procedures.h"
#include "scanner.h"

using namespace membw_internal;

namespace {

uint8_t selector = 0;
uint32_t kernelCalls = 0;

uint32_t FakeKernel(uint32_t sizeKb, uint32_t reps) {
  // The procedures must never ask for an empty block or no pass at all.
  if (sizeKb == 0 || reps == 0 || sizeKb > (1u << 21)) __builtin_trap();
  if (static_cast<uint64_t>(sizeKb) * reps > (2048ull << 20)) __builtin_trap();
  if (++kernelCalls > 4000) return kKernelNoMemory;  // ends huge BatchRun counts
  switch (selector & 3) {
    case 0:
      return 1 + (sizeKb ^ reps) % 5000;
    case 1:
      return kernelCalls == 3 ? 0 : 1000;
    case 2:
      return kernelCalls == 2 ? kKernelNoMemory : 7;
    default:
      return 0xFFFFFFFEu;
  }
}

void CheckMessage(const char* message) {
  const size_t n = std::strlen(message);
  if (n >= 500) __builtin_trap();
  if (std::strstr(message, "inf") || std::strstr(message, "nan")) __builtin_trap();
}

Machine FuzzMachine() {
  Machine m{};
  m.vectorFlags = [] { return (selector & 4) ? 0u : (selector & 8) ? kFlagMmx : kFlagMmx | kFlagMmxPlus; };
  m.frequency = [](int64_t* hz) {
    *hz = (selector & 16) ? 999 : 1000000000;
    return (selector & 32) == 0;
  };
  for (Kernel& k : m.kernels) k = FakeKernel;
  m.cpuReport = WriteCpuReport;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  selector = data[0];
  kernelCalls = 0;
  const std::string commandLine(reinterpret_cast<const char*>(data + 1), size - 1);  // stops at a NUL
  if ((selector & 64) == 0) ResetScanner();
  static const Machine machine = FuzzMachine();
  const int result = RunCommandLine(commandLine.c_str(), CheckMessage, machine);
  if (result != 0 && result != 1) __builtin_trap();
  return 0;
}
