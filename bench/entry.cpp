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

struct Benchmark {
  bool sweep;
  const FamilyLines* lines;
  bool writing;            // sweeps: which line
  KernelIndex kernels[4];  // sweeps use the first
  uint32_t needs;          // feature flag bit, 0 for none
};

constexpr Benchmark kBenchmarks[13] = {
    {},
    {true, &kIntLines, true, {kIntwr}, 0},
    {true, &kIntLines, false, {kIntrd}, 0},
    {false, &kIntLines, false, {kIntcp, kIntsc, kIntad, kInttr}, 0},
    {true, &kFloatLines, true, {kFloatwr}, 0},
    {true, &kFloatLines, false, {kFloatrd}, 0},
    {false, &kFloatLines, false, {kFloatcp, kFloatsc, kFloatad, kFloattr}, 0},
    {true, &kMmxLines, true, {kMmxwr}, kFlagMmx},
    {true, &kMmxLines, false, {kMmxrd}, kFlagMmx},
    {false, &kMmxLines, false, {kMmxcp, kMmxsc, kMmxad, kMmxtr}, kFlagMmx},
    {true, &kMmxNtLines, true, {kMmxwrNt}, kFlagMmxPlus},
    {true, &kMmxNtLines, false, {kMmxrdNt}, kFlagMmxPlus},
    {false, &kMmxNtLines, false, {kMmxcpNt, kMmxscNt, kMmxadNt, kMmxtrNt}, kFlagMmxPlus},
};

int RunBenchmark(int32_t id, const RunSettings& settings, const Machine& machine, MembwOutput output) {
  const Benchmark& b = kBenchmarks[id];
  if (b.sweep) {
    const FamilyLines& lines = *b.lines;
    return BlockSweep(b.writing ? lines.writing : lines.reading, machine.kernels[b.kernels[0]], settings,
                      output);
  }
  Kernel kernels[4];
  for (int k = 0; k < 4; ++k) kernels[k] = machine.kernels[b.kernels[k]];
  if (id != 12) return ArrayTest(*b.lines, kernels, nullptr, settings, output);
  // The prefetch mode picks NTA or T0 per sub-test.
  const int32_t p = settings.prefetchMode;
  if (p == 2) {
    kernels[0] = machine.kernels[kMmxcpNtT0];
    kernels[1] = machine.kernels[kMmxscNtT0];
  }
  if (p != 1) {
    kernels[2] = machine.kernels[kMmxadNtT0];
    kernels[3] = machine.kernels[kMmxtrNtT0];
  }
  const Labels labels = PrefetchLabels(p);
  return ArrayTest(*b.lines, kernels, &labels, settings, output);
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
      {intwr,    intrd,    intcp,    intsc,       intad,       inttr,       floatwr,
       floatrd,  floatcp,  floatsc,  floatad,     floattr,     mmxwr,       mmxrd,
       mmxcp,    mmxsc,    mmxad,    mmxtr,       mmxwr_nt,    mmxrd_nt,    mmxcp_nt,
       mmxsc_nt, mmxad_nt, mmxtr_nt, mmxcp_nt_t0, mmxsc_nt_t0, mmxad_nt_t0, mmxtr_nt_t0},
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
  if (id > 12) {
    WriteUsage();
    output(kUnknownBenchmark);
    return 1;
  }
  const uint32_t needed = kBenchmarks[id].needs;
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
