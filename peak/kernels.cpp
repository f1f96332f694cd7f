// The loops of kernels.h in GCC extended assembly, so the instructions are the ones named there
// whatever the compiler's target; the assembler takes every ISA's instructions.
#include "peak/kernels.h"

#include <cctype>
#include <string>

namespace peak {

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::kRead:
      return "read";
    case Operation::kWrite:
      return "write";
    case Operation::kCopy:
      return "copy";
  }
  return "?";
}

bool ParseOperation(const char* text, Operation* operation) {
  if (text == nullptr) return false;
  std::string folded;
  for (const char* c = text; *c != '\0' && folded.size() < 8; ++c)
    folded += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  for (Operation each : {Operation::kRead, Operation::kWrite, Operation::kCopy}) {
    if (folded == OperationName(each)) {
      *operation = each;
      return true;
    }
  }
  return false;
}

const KernelRow* FindKernel(Operation operation, Isa isa) {
  for (const KernelRow& row : kKernelRows)
    if (row.operation == operation && row.isa == isa) return &row;
  return nullptr;
}

namespace kernels {

// clang-format off
// passes passes over one array from [base] to [end]: BODY per iteration of STEP bytes at [p].
#define PEAK_PASSES1(SETUP, STEP, BODY, AFTER) \
  SETUP                                        \
  "1:\n\t"                                     \
  "mov %[base], %[p]\n\t"                      \
  "2:\n\t"                                     \
  BODY                                         \
  "add $" #STEP ", %[p]\n\t"                   \
  "cmp %[end], %[p]\n\t"                       \
  "jb 2b\n\t"                                  \
  "dec %[passes]\n\t"                          \
  "jnz 1b\n\t"                                 \
  AFTER

// The same over a source [src] to [end] and a destination [dst], at [s] and [d].
#define PEAK_PASSES2(STEP, BODY, AFTER) \
  "1:\n\t"                              \
  "mov %[src], %[s]\n\t"                \
  "mov %[dst], %[d]\n\t"                \
  "2:\n\t"                              \
  BODY                                  \
  "add $" #STEP ", %[s]\n\t"            \
  "add $" #STEP ", %[d]\n\t"            \
  "cmp %[end], %[s]\n\t"                \
  "jb 2b\n\t"                           \
  "dec %[passes]\n\t"                   \
  "jnz 1b\n\t"                          \
  AFTER

// Four accumulators, each fed two loads per iteration: eight loads in flight without waiting.
// ACC names accumulator i as the instruction's destination (and second source, where VEX has one).
#define PEAK_READ_BODY(ADD, ACC, WIDTH)            \
  ".irp i, 0, 1, 2, 3\n\t"                         \
  ADD " " #WIDTH "*\\i(%[p]), " ACC "\n\t"         \
  ".endr\n\t"                                      \
  ".irp i, 0, 1, 2, 3\n\t"                         \
  ADD " " #WIDTH "*(\\i+4)(%[p]), " ACC "\n\t"     \
  ".endr\n\t"

#define PEAK_WRITE_BODY(STORE, REG, WIDTH)                                       \
  ".irp i, 0, 1, 2, 3, 4, 5, 6, 7\n\t"                                           \
  STORE " %%" REG "0, " #WIDTH "*\\i(%[p])\n\t"                                   \
  ".endr\n\t"

#define PEAK_COPY_BODY(LOAD, STORE, REG, WIDTH)                                  \
  ".irp h, 0, 4\n\t"                                                             \
  ".irp i, 0, 1, 2, 3\n\t"                                                       \
  LOAD " " #WIDTH "*(\\h+\\i)(%[s]), %%" REG "\\i\n\t"                             \
  ".endr\n\t"                                                                    \
  ".irp i, 0, 1, 2, 3\n\t"                                                       \
  STORE " %%" REG "\\i, " #WIDTH "*(\\h+\\i)(%[d])\n\t"                            \
  ".endr\n\t"                                                                    \
  ".endr\n\t"
// clang-format on

namespace {

uint64_t Sum(const uint64_t* lanes, int count) {
  uint64_t sum = 0;
  for (int i = 0; i < count; ++i) sum += lanes[i];
  return sum;
}

}  // namespace

// clang-format off
// A read kernel: ZERO clears accumulator i, ADD/ACC as PEAK_READ_BODY, FOLD adds the four into
// the first and stores its LANES words to [out].
#define PEAK_DEFINE_READ(NAME, STEP, WIDTH, ZERO, ADD, ACC, FOLD, LANES)                         \
  uint64_t NAME(const void* source, void*, uint64_t bytes, uint64_t passes) {                     \
    if (bytes == 0 || passes == 0) return 0;                                                      \
    uint64_t lanes[LANES];                                                                        \
    const void* p;                                                                                \
    asm volatile(PEAK_PASSES1(".irp i, 0, 1, 2, 3\n\t" ZERO "\n\t.endr\n\t", STEP,              \
                              PEAK_READ_BODY(ADD, ACC, WIDTH), FOLD)                              \
                 : [p] "=&r"(p), [passes] "+r"(passes), [out] "=m"(lanes)                         \
                 : [base] "r"(source), [end] "r"(static_cast<const char*>(source) + bytes)        \
                 : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");                               \
    return Sum(lanes, LANES);                                                                     \
  }

// A write kernel: FILL puts the pattern [value] into every word of register 0 of REG.
#define PEAK_DEFINE_WRITE(NAME, STEP, WIDTH, FILL, STORE, REG, AFTER)                             \
  uint64_t NAME(const void*, void* destination, uint64_t bytes, uint64_t passes) {                \
    if (bytes == 0 || passes == 0) return 0;                                                      \
    void* p;                                                                                      \
    asm volatile(PEAK_PASSES1(FILL, STEP, PEAK_WRITE_BODY(STORE, REG, WIDTH), AFTER)              \
                 : [p] "=&r"(p), [passes] "+r"(passes)                                            \
                 : [base] "r"(destination), [end] "r"(static_cast<char*>(destination) + bytes),   \
                   [value] "m"(kWritePattern)                                                     \
                 : "xmm0", "memory", "cc");                                                       \
    return 0;                                                                                     \
  }

#define PEAK_DEFINE_COPY(NAME, STEP, WIDTH, LOAD, STORE, REG, AFTER)                              \
  uint64_t NAME(const void* source, void* destination, uint64_t bytes, uint64_t passes) {         \
    if (bytes == 0 || passes == 0) return 0;                                                      \
    const void* s;                                                                                \
    void* d;                                                                                      \
    asm volatile(PEAK_PASSES2(STEP, PEAK_COPY_BODY(LOAD, STORE, REG, WIDTH), AFTER)               \
                 : [s] "=&r"(s), [d] "=&r"(d), [passes] "+r"(passes)                              \
                 : [src] "r"(source), [dst] "r"(destination),                                     \
                   [end] "r"(static_cast<const char*>(source) + bytes)                            \
                 : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");                               \
    return 0;                                                                                     \
  }

// The stores leave the core before the clock is read; VEX code hands back clean upper halves.
#define PEAK_SSE_AFTER "sfence\n\t"
#define PEAK_VEX_AFTER "sfence\n\tvzeroupper\n\t"

PEAK_DEFINE_READ(read_sse2, 128, 16, "pxor %%xmm\\i, %%xmm\\i", "paddq", "%%xmm\\i",
                 "paddq %%xmm1, %%xmm0\n\t"
                 "paddq %%xmm3, %%xmm2\n\t"
                 "paddq %%xmm2, %%xmm0\n\t"
                 "movdqu %%xmm0, %[out]\n\t", 2)
PEAK_DEFINE_READ(read_avx2, 256, 32, "vpxor %%ymm\\i, %%ymm\\i, %%ymm\\i", "vpaddq", "%%ymm\\i, %%ymm\\i",
                 "vpaddq %%ymm1, %%ymm0, %%ymm0\n\t"
                 "vpaddq %%ymm3, %%ymm2, %%ymm2\n\t"
                 "vpaddq %%ymm2, %%ymm0, %%ymm0\n\t"
                 "vmovdqu %%ymm0, %[out]\n\t"
                 "vzeroupper\n\t", 4)
PEAK_DEFINE_READ(read_avx512, 512, 64, "vpxorq %%zmm\\i, %%zmm\\i, %%zmm\\i", "vpaddq", "%%zmm\\i, %%zmm\\i",
                 "vpaddq %%zmm1, %%zmm0, %%zmm0\n\t"
                 "vpaddq %%zmm3, %%zmm2, %%zmm2\n\t"
                 "vpaddq %%zmm2, %%zmm0, %%zmm0\n\t"
                 "vmovdqu64 %%zmm0, %[out]\n\t"
                 "vzeroupper\n\t", 8)

PEAK_DEFINE_WRITE(write_sse2, 128, 16, "movq %[value], %%xmm0\n\tpunpcklqdq %%xmm0, %%xmm0\n\t", "movntdq",
                  "xmm", PEAK_SSE_AFTER)
PEAK_DEFINE_WRITE(write_avx2, 256, 32, "vpbroadcastq %[value], %%ymm0\n\t", "vmovntdq", "ymm", PEAK_VEX_AFTER)
PEAK_DEFINE_WRITE(write_avx512, 512, 64, "vpbroadcastq %[value], %%zmm0\n\t", "vmovntdq", "zmm", PEAK_VEX_AFTER)

PEAK_DEFINE_COPY(copy_sse2, 128, 16, "movdqa", "movntdq", "xmm", PEAK_SSE_AFTER)
PEAK_DEFINE_COPY(copy_avx2, 256, 32, "vmovdqa", "vmovntdq", "ymm", PEAK_VEX_AFTER)
PEAK_DEFINE_COPY(copy_avx512, 512, 64, "vmovdqa64", "vmovntdq", "zmm", PEAK_VEX_AFTER)
// clang-format on

}  // namespace kernels
}  // namespace peak
