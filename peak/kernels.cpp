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

uint64_t read_sse2(const void* source, void*, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  uint64_t lanes[2];
  const void* p;
  asm volatile(PEAK_PASSES1("pxor %%xmm0, %%xmm0\n\t"
                            "pxor %%xmm1, %%xmm1\n\t"
                            "pxor %%xmm2, %%xmm2\n\t"
                            "pxor %%xmm3, %%xmm3\n\t",
                            128, PEAK_READ_BODY("paddq", "%%xmm\\i", 16),
                            "paddq %%xmm1, %%xmm0\n\t"
                            "paddq %%xmm3, %%xmm2\n\t"
                            "paddq %%xmm2, %%xmm0\n\t"
                            "movdqu %%xmm0, %[out]\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes), [out] "=m"(lanes)
               : [base] "r"(source), [end] "r"(static_cast<const char*>(source) + bytes)
               : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return Sum(lanes, 2);
}

uint64_t read_avx2(const void* source, void*, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  uint64_t lanes[4];
  const void* p;
  asm volatile(PEAK_PASSES1("vpxor %%ymm0, %%ymm0, %%ymm0\n\t"
                            "vpxor %%ymm1, %%ymm1, %%ymm1\n\t"
                            "vpxor %%ymm2, %%ymm2, %%ymm2\n\t"
                            "vpxor %%ymm3, %%ymm3, %%ymm3\n\t",
                            256, PEAK_READ_BODY("vpaddq", "%%ymm\\i, %%ymm\\i", 32),
                            "vpaddq %%ymm1, %%ymm0, %%ymm0\n\t"
                            "vpaddq %%ymm3, %%ymm2, %%ymm2\n\t"
                            "vpaddq %%ymm2, %%ymm0, %%ymm0\n\t"
                            "vmovdqu %%ymm0, %[out]\n\t"
                            "vzeroupper\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes), [out] "=m"(lanes)
               : [base] "r"(source), [end] "r"(static_cast<const char*>(source) + bytes)
               : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return Sum(lanes, 4);
}

uint64_t read_avx512(const void* source, void*, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  uint64_t lanes[8];
  const void* p;
  asm volatile(PEAK_PASSES1("vpxorq %%zmm0, %%zmm0, %%zmm0\n\t"
                            "vpxorq %%zmm1, %%zmm1, %%zmm1\n\t"
                            "vpxorq %%zmm2, %%zmm2, %%zmm2\n\t"
                            "vpxorq %%zmm3, %%zmm3, %%zmm3\n\t",
                            512, PEAK_READ_BODY("vpaddq", "%%zmm\\i, %%zmm\\i", 64),
                            "vpaddq %%zmm1, %%zmm0, %%zmm0\n\t"
                            "vpaddq %%zmm3, %%zmm2, %%zmm2\n\t"
                            "vpaddq %%zmm2, %%zmm0, %%zmm0\n\t"
                            "vmovdqu64 %%zmm0, %[out]\n\t"
                            "vzeroupper\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes), [out] "=m"(lanes)
               : [base] "r"(source), [end] "r"(static_cast<const char*>(source) + bytes)
               : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return Sum(lanes, 8);
}

uint64_t write_sse2(const void*, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  void* p;
  asm volatile(PEAK_PASSES1("movq %[value], %%xmm0\n\t"
                            "punpcklqdq %%xmm0, %%xmm0\n\t",
                            128, PEAK_WRITE_BODY("movntdq", "xmm", 16), "sfence\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes)
               : [base] "r"(destination), [end] "r"(static_cast<char*>(destination) + bytes),
                 [value] "m"(kWritePattern)
               : "xmm0", "memory", "cc");
  return 0;
}

uint64_t write_avx2(const void*, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  void* p;
  asm volatile(PEAK_PASSES1("vpbroadcastq %[value], %%ymm0\n\t", 256, PEAK_WRITE_BODY("vmovntdq", "ymm", 32),
                            "sfence\n\t"
                            "vzeroupper\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes)
               : [base] "r"(destination), [end] "r"(static_cast<char*>(destination) + bytes),
                 [value] "m"(kWritePattern)
               : "xmm0", "memory", "cc");
  return 0;
}

uint64_t write_avx512(const void*, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  void* p;
  asm volatile(PEAK_PASSES1("vpbroadcastq %[value], %%zmm0\n\t", 512, PEAK_WRITE_BODY("vmovntdq", "zmm", 64),
                            "sfence\n\t"
                            "vzeroupper\n\t")
               : [p] "=&r"(p), [passes] "+r"(passes)
               : [base] "r"(destination), [end] "r"(static_cast<char*>(destination) + bytes),
                 [value] "m"(kWritePattern)
               : "xmm0", "memory", "cc");
  return 0;
}

uint64_t copy_sse2(const void* source, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  const void* s;
  void* d;
  asm volatile(
      PEAK_PASSES2(128, PEAK_COPY_BODY("movdqa", "movntdq", "xmm", 16), "sfence\n\t")
      : [s] "=&r"(s), [d] "=&r"(d), [passes] "+r"(passes)
      : [src] "r"(source), [dst] "r"(destination), [end] "r"(static_cast<const char*>(source) + bytes)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return 0;
}

uint64_t copy_avx2(const void* source, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  const void* s;
  void* d;
  asm volatile(
      PEAK_PASSES2(256, PEAK_COPY_BODY("vmovdqa", "vmovntdq", "ymm", 32),
                   "sfence\n\t"
                   "vzeroupper\n\t")
      : [s] "=&r"(s), [d] "=&r"(d), [passes] "+r"(passes)
      : [src] "r"(source), [dst] "r"(destination), [end] "r"(static_cast<const char*>(source) + bytes)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return 0;
}

uint64_t copy_avx512(const void* source, void* destination, uint64_t bytes, uint64_t passes) {
  if (bytes == 0 || passes == 0) return 0;
  const void* s;
  void* d;
  asm volatile(
      PEAK_PASSES2(512, PEAK_COPY_BODY("vmovdqa64", "vmovntdq", "zmm", 64),
                   "sfence\n\t"
                   "vzeroupper\n\t")
      : [s] "=&r"(s), [d] "=&r"(d), [passes] "+r"(passes)
      : [src] "r"(source), [dst] "r"(destination), [end] "r"(static_cast<const char*>(source) + bytes)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
  return 0;
}

}  // namespace kernels
}  // namespace peak
