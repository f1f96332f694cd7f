#include "entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "catalogue.h"
#include "cpuinfo.h"
#include "format.h"
#include "kernels.h"
#include "scanner.h"
#include "timing.h"

namespace membw_internal {

namespace {

constexpr int kMaxTokens = 52;
constexpr size_t kTokenBlock = 100;
constexpr char kOptions[] = "b:g:m:l:t:i";
// Largest G whose G x 2^20 Kb still fits 32 bits, largest A whose bytes do.
constexpr uint32_t kMaxPassGb = 1u << 11;
constexpr uint32_t kMaxArrayKb = 1u << 21;

void Discard(const char*) {}

void WriteUsage() {
  std::fputs(kUsage, stdout);
  std::fflush(stdout);
}

bool PowerOfTwo(uint32_t v) {
  for (int k = 0; k < 32; ++k)
    if (v == (1u << k)) return true;
  return false;
}

// The command line cut at spaces into zero-filled 100-byte blocks; text after the last space is
// not a token.
class Tokens {
 public:
  enum Status { kOk, kHeapError, kTooMany, kTooLong };

  Status Cut(const char* line) {
    const size_t n = std::strlen(line);
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
      if (line[i] != ' ') continue;
      if (count_ == kMaxTokens) return kTooMany;
      if (i - start > kTokenBlock - 1) return kTooLong;
      char* block = static_cast<char*>(std::calloc(kTokenBlock, 1));
      if (!block) return kHeapError;
      std::memcpy(block, line + start, i - start);
      tokens_[count_++] = block;
      start = i + 1;
    }
    return kOk;
  }
  ~Tokens() { Release(); }
  void Release() {
    for (int i = 0; i < count_; ++i) std::free(tokens_[i]);
    count_ = 0;
  }
  int Count() const { return count_; }
  char** Table() { return tokens_; }

 private:
  char* tokens_[kMaxTokens + 1] = {};
  int count_ = 0;
};

// What a family's benchmarks print and what they need of the processor, by Family.
struct FamilyTraits {
  const FamilyLines* lines;
  uint32_t needs;  // feature flag bit, 0 for none
};

constexpr FamilyTraits kFamilies[] = {
    {&kIntLines, 0},
    {&kFloatLines, 0},
    {&kMmxLines, kFlagMmx},
    {&kMmxNtLines, kFlagMmxPlus},
};

// The first row of benchmark id (1 to LastBenchmark()); its family is the benchmark's.
const KernelRow& FirstRow(int32_t id) {
  for (const KernelRow& row : kKernelRows)
    if (row.id == id) return row;
  return kKernelRows[0];
}

const FamilyTraits& FamilyOf(int32_t id) { return kFamilies[static_cast<int>(FirstRow(id).family)]; }

// Whether array-test slot k (Copy, Scale, Add, Triad) runs its T0 twin: in mode 0 for Add and
// Triad, in mode 1 never, in mode 2 always.
bool PicksT0(int32_t prefetchMode, int slot) { return prefetchMode == 2 || (prefetchMode == 0 && slot >= 2); }

// The benchmark's rows in table order: one row is a block sweep, four an array test, where T0
// twins (listed after the four) stand in as the prefetch mode picks them.
int RunBenchmark(int32_t id, const RunSettings& settings, const Machine& machine, MembwOutput output) {
  KernelTraffic picked[4] = {};
  bool t0[4] = {};
  int slots = 0, twins = 0;
  for (int k = 0; k < kKernelCount; ++k) {
    const KernelRow& row = kKernelRows[k];
    if (row.id != id) continue;
    const KernelTraffic kernel{machine.kernels[k], row.Arrays()};
    if (row.prefetch != Prefetch::kT0) {
      picked[slots++] = kernel;
    } else if (const int slot = twins++; PicksT0(settings.prefetchMode, slot)) {
      picked[slot] = kernel;
      t0[slot] = true;
    }
  }
  const FamilyLines& lines = *FamilyOf(id).lines;
  if (slots == 1) {
    const bool writing = FirstRow(id).read == 0;
    return BlockSweep(writing ? lines.writing : lines.reading, picked[0], settings, output);
  }
  if (twins == 0) return ArrayTest(lines, picked, nullptr, settings, output);
  const Labels labels = PrefetchLabels(t0);
  return ArrayTest(lines, picked, &labels, settings, output);
}

uint32_t RealFlags() { return ProbeVectorFlags(); }
bool RealFrequency(int64_t* hz) { return platform::PerformanceFrequency(hz); }

}  // namespace

int32_t ReadNumber(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // saturate; only the sign decides past here
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  return static_cast<int32_t>(value);
}

const Machine& RealMachine() {
  static constexpr Machine kMachine{
      RealFlags,
      RealFrequency,
#define MEMBW_KERNEL_POINTER(name, ...) ::name,
      {MEMBW_KERNELS(MEMBW_KERNEL_POINTER)},
#undef MEMBW_KERNEL_POINTER
      WriteCpuReport,
  };
  return kMachine;
}

int RunCommandLine(const char* commandLine, MembwOutput output, const Machine& machine) {
  if (!output) output = Discard;
  if (!commandLine) commandLine = "";

  RunSettings settings;
  int32_t id = 0;
  bool information = false;
  {
    Tokens tokens;
    switch (tokens.Cut(commandLine)) {
      case Tokens::kOk:
        break;
      case Tokens::kHeapError:
        std::fputs(kHeapError, stdout);
        std::fflush(stdout);
        return 1;
      case Tokens::kTooMany:
        output(kTooManyWords);
        return 1;
      case Tokens::kTooLong:
        output(kWordTooLong);
        return 1;
    }
    const char* argument = nullptr;
    for (int c; (c = NextOption(tokens.Count(), tokens.Table(), kOptions, &argument)) != kEndOfOptions;) {
      switch (c) {
        case 'b': {
          const int32_t n = ReadNumber(argument);
          id = n < 0 ? 0 : n;
          break;
        }
        case 'g': {
          const uint32_t n = static_cast<uint32_t>(ReadNumber(argument));
          if (!PowerOfTwo(n) || n > kMaxPassGb) {
            output(kInvalidPassSize);
            return 1;
          }
          settings.passGb = n;
          break;
        }
        case 'm': {
          const int32_t n = ReadNumber(argument);
          const uint32_t v = static_cast<uint32_t>(n) * 1024u;
          // Mbytes beyond 2048 would wrap in 32 bits (4194305 x 1024 reads as 1024 Kb).
          if (n < 1 || n > static_cast<int32_t>(kMaxArrayKb / 1024) || !PowerOfTwo(v)) {
            output(kInvalidArraySize);
            return 1;
          }
          settings.arrayKb = v;
          break;
        }
        case 'l': {
          const int32_t n = ReadNumber(argument);
          settings.runs = n < 1 ? 1u : static_cast<uint32_t>(n);
          break;
        }
        case 't': {
          const int32_t n = ReadNumber(argument);
          if (n < 0 || n > 2) {
            output(kInvalidPrefetchMode);
            return 1;
          }
          settings.prefetchMode = n;
          break;
        }
        case 'i':
          information = true;
          break;
        default:
          WriteUsage();
          return 1;
      }
    }
  }  // the token blocks are released here

  if (information) {
    machine.cpuReport();
    return 0;
  }
  const uint32_t flags = machine.vectorFlags();
  int64_t frequency = 0;
  // Below 1000 Hz a millisecond has no whole tick and every time would divide by zero.
  if (!machine.frequency(&frequency) || frequency < 1000) {
    output(kNoTimeCounter);
    return 1;
  }
  if (id == 0) {
    WriteUsage();
    return 1;
  }
  char buffer[500] = {};
  FormatText(buffer, sizeof buffer, kPassSizeMode, settings.passGb);
  output(buffer);
  if (id > LastBenchmark()) {
    WriteUsage();
    output(kUnknownBenchmark);
    return 1;
  }
  const uint32_t needed = FamilyOf(id).needs;
  if (needed && !(flags & needed)) {
    output(needed == kFlagMmx ? kNoMmx : kNoMmxPlus);
    return 1;
  }
  // Every block and array must be passed over at least once per measurement.
  if (settings.arrayKb > (settings.passGb << 20)) {
    output(kArrayExceedsPass);
    return 1;
  }
  return RunBenchmark(id, settings, machine, output);
}

}  // namespace membw_internal

extern "C" {

__attribute__((visibility("default"))) int membw(const char* commandLine, MembwOutput output) {
  try {
    return membw_internal::RunCommandLine(commandLine, output, membw_internal::RealMachine());
  } catch (...) {
    return 1;  // nothing crosses the module boundary
  }
}

// Exported as "Version@0": the assembler cannot give that name to a C function, and the linker
// reads "@" as a symbol version, so the build links the alias under a stand-in of equal length
// and equal hash and renames it in the finished module.
double membw_version_number() { return MEMBW_VERSION_NUMBER; }

}  // extern "C"

asm(".globl \"Version?Q\"\n\t"
    ".type \"Version?Q\", @function\n\t"
    ".set \"Version?Q\", membw_version_number\n\t");
