// membw_reference: times the module's non-temporal kernels (IDs 11, 10, 12 Copy) as the module
// runs them (own buffers, own timing, whole ms) next to hand-written loops of the very same
// instructions on buffers faulted in beforehand, and next to AVX2 reference loops, in one run;
// prints the ratios module/hand loop and hand loop/AVX2, and the transparent huge page mode.
// Used by bench/check-bandwidth; not part of the module.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernels.h"
#include "nt_loops.h"
#include "platform/clock.h"
#include "procedures.h"

namespace {

using namespace membw_internal;
using namespace membw_internal::nt_loops;

// clang-format off
// The pass loop of every loop below, written apart from the module's frame: START once, then reps
// passes over the chunks of CHUNK bytes, BODY once per chunk (offsets from .Lqv_r, which it
// steps), LAST after the chunks of each pass.
#define REF_PASSES1(START, CHUNK, BODY, LAST) \
  START                                  \
  "1:\n\t"                              \
  "mov %[base], %[p]\n\t"               \
  "mov %k[chunks], %k[n]\n\t"           \
  "2:\n\t"                              \
  ".set .Lqv_r, 0\n\t"                  \
  BODY                                  \
  "add $" #CHUNK ", %[p]\n\t"           \
  "dec %k[n]\n\t"                       \
  "jnz 2b\n\t"                          \
  LAST                                  \
  "dec %k[reps]\n\t"                    \
  "jnz 1b\n\t"

#define REF_PASSES2(START, CHUNK, BODY, LAST) \
  START                                  \
  "1:\n\t"                              \
  "mov %[src], %[s]\n\t"                \
  "mov %[dst], %[d]\n\t"                \
  "mov %k[chunks], %k[n]\n\t"           \
  "2:\n\t"                              \
  ".set .Lqv_r, 0\n\t"                  \
  BODY                                  \
  "add $" #CHUNK ", %[s]\n\t"           \
  "add $" #CHUNK ", %[d]\n\t"           \
  "dec %k[n]\n\t"                       \
  "jnz 2b\n\t"                          \
  LAST                                  \
  "dec %k[reps]\n\t"                    \
  "jnz 1b\n\t"
// Four AVX2 loads of 32 bytes from the current offset of pointer operand P.
#define REF_AVX2_LOAD128(P)                       \
  "vmovdqa .Lqv_r(%[" P "]), %%ymm0\n\t"        \
  "vmovdqa .Lqv_r + 32(%[" P "]), %%ymm1\n\t"   \
  "vmovdqa .Lqv_r + 64(%[" P "]), %%ymm2\n\t"   \
  "vmovdqa .Lqv_r + 96(%[" P "]), %%ymm3\n\t"
// clang-format on

// AVX2 loads of a whole block, 512 bytes per step into four rotating registers.
void ReferenceRead(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("", 512,
                           ".rept 4\n\t" REF_AVX2_LOAD128("p") ".set .Lqv_r, .Lqv_r + 128\n\t"
                                                               ".endr\n\t",
                           "") "vzeroupper\n\t"
               : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
               : [base] "r"(block), [chunks] "r"(bytes / 512)
               : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
}

// AVX2 non-temporal stores of zero, 512 bytes per step.
void ReferenceWrite(void* block, uint32_t bytes, uint32_t reps) {
  void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("vpxor %%ymm0, %%ymm0, %%ymm0\n\t", 512,
      ".rept 16\n\t"
      "vmovntdq %%ymm0, .Lqv_r(%[p])\n\t"
      ".set .Lqv_r, .Lqv_r + 32\n\t"
      ".endr\n\t",
      "")
      "sfence\n\t"
      "vzeroupper\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512)
      : "xmm0", "memory", "cc");
}

// AVX2 loads with non-temporal stores, 256 bytes per step.
void ReferenceCopy(const void* source, void* destination, uint32_t bytes, uint32_t reps) {
  const void* s;
  void* d;
  uint32_t n;
  asm volatile(REF_PASSES2("", 256,
      ".rept 2\n\t"
      REF_AVX2_LOAD128("s")
      "vmovntdq %%ymm0, .Lqv_r(%[d])\n\t"
      "vmovntdq %%ymm1, .Lqv_r + 32(%[d])\n\t"
      "vmovntdq %%ymm2, .Lqv_r + 64(%[d])\n\t"
      "vmovntdq %%ymm3, .Lqv_r + 96(%[d])\n\t"
      ".set .Lqv_r, .Lqv_r + 128\n\t"
      ".endr\n\t",
      "")
      "sfence\n\t"
      "vzeroupper\n\t"
      : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)
      : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(bytes / 256)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
}

// Variants that explain a gap: the module's MMX loads without any prefetch, and the AVX2
// loads with the module's PREFETCHNTA pattern (one prefetch per 32 bytes, one chunk ahead).
void MmxReadNoPrefetch(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("", 512,
                           ".rept 64\n\t"
                           "movq .Lqv_r(%[p]), %%mm0\n\t"
                           ".set .Lqv_r, .Lqv_r + 8\n\t"
                           ".endr\n\t",
                           "") "emms\n\t"
               : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
               : [base] "r"(block), [chunks] "r"(bytes / 512)
               : "mm0", "memory", "cc");
}

void Avx2ReadPrefetchNta(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(
      REF_PASSES1("", 512,
                  ".rept 4\n\t"
                  "prefetchnta .Lqv_r + 512(%[p])\n\t"
                  "prefetchnta .Lqv_r + 544(%[p])\n\t"
                  "prefetchnta .Lqv_r + 576(%[p])\n\t"
                  "prefetchnta .Lqv_r + 608(%[p])\n\t" REF_AVX2_LOAD128("p") ".set .Lqv_r, .Lqv_r + 128\n\t"
                                                                             ".endr\n\t",
                  "") "vzeroupper\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512 - 1)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
}

// Non-temporal stores of 16 bytes (SSE2 MOVNTDQ): between the module's 8 and the reference's 32.
void Sse2WriteNt(void* block, uint32_t bytes, uint32_t reps) {
  void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("pxor %%xmm0, %%xmm0\n\t", 512,
                           ".rept 32\n\t"
                           "movntdq %%xmm0, .Lqv_r(%[p])\n\t"
                           ".set .Lqv_r, .Lqv_r + 16\n\t"
                           ".endr\n\t",
                           "") "sfence\n\t"
               : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
               : [base] "r"(block), [chunks] "r"(bytes / 512)
               : "xmm0", "memory", "cc");
}

// The module's Copy loop with no prefetch at all.
void MmxCopyNoPrefetch(const void* source, void* destination, uint32_t bytes, uint32_t reps) {
  const void* s;
  void* d;
  uint32_t n;
  asm volatile(REF_PASSES2("", 256,
                           ".rept 8\n\t"
                           "movq .Lqv_r(%[s]), %%mm0\n\t"
                           "movq .Lqv_r + 8(%[s]), %%mm1\n\t"
                           "movq .Lqv_r + 16(%[s]), %%mm2\n\t"
                           "movq .Lqv_r + 24(%[s]), %%mm3\n\t"
                           "movntq %%mm0, .Lqv_r(%[d])\n\t"
                           "movntq %%mm1, .Lqv_r + 8(%[d])\n\t"
                           "movntq %%mm2, .Lqv_r + 16(%[d])\n\t"
                           "movntq %%mm3, .Lqv_r + 24(%[d])\n\t"
                           ".set .Lqv_r, .Lqv_r + 32\n\t"
                           ".endr\n\t",
                           "") "emms\n\t"
               : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)
               : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(bytes / 256)
               : "mm0", "mm1", "mm2", "mm3", "memory", "cc");
}

// Hand loops with the module's instruction mix, written apart from nt_loops.h: what the kernels
// should reach when nothing but their loop is timed.

// ID 11: per 512 bytes 64 MOVQ loads into mm0, with 16 PREFETCHNTA of the next 512 bytes woven in
// (four before each of the first three 64-byte groups, four before the rest); the last 512
// bytes without prefetch.
void HandReadNt(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("", 512,
                           ".irp g, 0, 1, 2, 3\n\t"
                           "prefetchnta 512 + 128 * \\g(%[p])\n\t"
                           "prefetchnta 544 + 128 * \\g(%[p])\n\t"
                           "prefetchnta 576 + 128 * \\g(%[p])\n\t"
                           "prefetchnta 608 + 128 * \\g(%[p])\n\t"
                           ".irp q, 0, 1, 2, 3, 4, 5, 6, 7\n\t"
                           "movq 64 * \\g + 8 * \\q(%[p]), %%mm0\n\t"
                           ".endr\n\t"
                           ".endr\n\t"
                           ".irp q, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47\n\t"
                           "movq 8 * \\q(%[p]), %%mm0\n\t"
                           ".endr\n\t"
                           ".irp q, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63\n\t"
                           "movq 8 * \\q(%[p]), %%mm0\n\t"
                           ".endr\n\t",
                           ".irp q, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15\n\t"
                           "movq 32 * \\q(%[p]), %%mm0\n\t"
                           "movq 32 * \\q + 8(%[p]), %%mm0\n\t"
                           "movq 32 * \\q + 16(%[p]), %%mm0\n\t"
                           "movq 32 * \\q + 24(%[p]), %%mm0\n\t"
                           ".endr\n\t") "emms\n\t"
               : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
               : [base] "r"(block), [chunks] "r"(bytes / 512 - 1)
               : "mm0", "memory", "cc");
}

// ID 10: per 512 bytes 64 MOVNTQ of a zero register; no SFENCE, as in the module.
void HandWriteNt(void* block, uint32_t bytes, uint32_t reps) {
  void* p;
  uint32_t n;
  asm volatile(REF_PASSES1("pxor %%mm0, %%mm0\n\t", 512,
                           ".irp q, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15\n\t"
                           "movntq %%mm0, 32 * \\q(%[p])\n\t"
                           "movntq %%mm0, 32 * \\q + 8(%[p])\n\t"
                           "movntq %%mm0, 32 * \\q + 16(%[p])\n\t"
                           "movntq %%mm0, 32 * \\q + 24(%[p])\n\t"
                           ".endr\n\t",
                           "") "emms\n\t"
               : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
               : [base] "r"(block), [chunks] "r"(bytes / 512)
               : "mm0", "memory", "cc");
}

// ID 12 Copy: per 256 bytes four times two PREFETCHNTA of the source's next 256 bytes and two
// steps of four MOVQ loads and four MOVNTQ stores; the last 256 bytes without prefetch.
#define QV_HAND_COPY32(OFFSET) \
  "movq " OFFSET               \
  "(%[s]), %%mm0\n\t"          \
  "movq " OFFSET               \
  " + 8(%[s]), %%mm1\n\t"      \
  "movq " OFFSET               \
  " + 16(%[s]), %%mm2\n\t"     \
  "movq " OFFSET               \
  " + 24(%[s]), %%mm3\n\t"     \
  "movntq %%mm0, " OFFSET      \
  "(%[d])\n\t"                 \
  "movntq %%mm1, " OFFSET      \
  " + 8(%[d])\n\t"             \
  "movntq %%mm2, " OFFSET      \
  " + 16(%[d])\n\t"            \
  "movntq %%mm3, " OFFSET " + 24(%[d])\n\t"
void HandCopyNt(const void* source, void* destination, uint32_t bytes, uint32_t reps) {
  const void* s;
  void* d;
  uint32_t n;
  asm volatile(
      REF_PASSES2("", 256,
                  ".irp g, 0, 1, 2, 3\n\t"
                  "prefetchnta 256 + 64 * \\g(%[s])\n\t"
                  "prefetchnta 288 + 64 * \\g(%[s])\n\t" QV_HAND_COPY32("64 * \\g")
                      QV_HAND_COPY32("64 * \\g + 32") ".endr\n\t",
                  ".irp q, 0, 1, 2, 3, 4, 5, 6, 7\n\t" QV_HAND_COPY32("32 * \\q") ".endr\n\t") "emms\n\t"
      : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)
      : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(bytes / 256 - 1)
      : "mm0", "mm1", "mm2", "mm3", "memory", "cc");
}
#undef QV_HAND_COPY32
#undef REF_AVX2_LOAD128
#undef REF_PASSES1
#undef REF_PASSES2

int64_t Now() {
  int64_t t = 0;
  platform::PerformanceCounter(&t);
  return t;
}

// MiB/s of `traffic` bytes moved in the ns between two readings.
double Rate(uint64_t traffic, int64_t ns) { return ns > 0 ? traffic / (ns / 1e9) / 1048576.0 : 0; }

// The transparent huge page mode, as the kernel marks it: "always", "madvise", "never" or "?".
std::string HugePageMode() {
  FILE* f = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
  if (!f) return "?";
  char line[128] = {0};
  const bool read = std::fgets(line, sizeof line, f) != nullptr;
  std::fclose(f);
  if (!read) return "?";
  const char* open = std::strchr(line, '[');
  const char* close = open ? std::strchr(open, ']') : nullptr;
  return open && close ? std::string(open + 1, close) : "?";
}

// A module kernel as the module times it: whole ms for reps passes over its own fresh buffers,
// turned into Mb/s by the module's formulas (G x 1024 x 1000 / ms; the copy moves twice that).
double KernelRate(uint32_t (*kernel)(uint32_t, uint32_t), uint32_t sizeKb, uint32_t reps, uint32_t passGb,
                  double perGb) {
  const uint32_t ms = kernel(sizeKb, reps);
  asm volatile("emms" ::: "memory");
  if (ms == 0 || ms == membw_internal::kKernelNoMemory) return 0;
  return passGb * perGb * 1000.0 / ms;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t passGb = 4, rounds = 3;
  std::vector<uint32_t> sizesMb{64, 128, 256};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-g") && i + 1 < argc) {
      passGb = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "-r") && i + 1 < argc) {
      rounds = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "-m") && i + 1 < argc) {
      sizesMb.clear();
      for (char* tok = std::strtok(argv[++i], ","); tok; tok = std::strtok(nullptr, ","))
        sizesMb.push_back(static_cast<uint32_t>(std::atoi(tok)));
    } else {
      std::fprintf(stderr, "usage: %s [-g Gb per measurement] [-r rounds] [-m MB,MB,...]\n", argv[0]);
      return 2;
    }
  }
  if (passGb == 0 || rounds == 0 || sizesMb.empty()) return 2;

  std::printf("transparent huge pages: %s\n", HugePageMode().c_str());
  std::printf("%u Gb per measurement, best of %u rounds, every loop once per round in turn\n", passGb,
              rounds);
  std::printf("module: the kernel as the module runs it (own buffers, own timing in whole ms)\n");
  std::printf("hand loop: the same instructions, written apart, on buffers faulted in beforehand\n\n");
  std::printf("%-22s %10s %12s %12s %9s %12s %9s\n", "test", "block Kb", "module", "hand loop", "mod/hand",
              "AVX2", "hand/AVX2");
  double worst = 1e9;
  std::vector<std::string> variants;
  for (const uint32_t mb : sizesMb) {
    const uint32_t bytes = mb << 20;
    const uint32_t reps = (passGb << 10) / mb;
    if (reps == 0 || mb > 2048) {
      std::fprintf(stderr, "block of %u MB is larger than the pass\n", mb);
      return 2;
    }
    void* a = std::aligned_alloc(64, bytes);
    void* b = std::aligned_alloc(64, bytes);
    if (!a || !b) {
      std::fprintf(stderr, "cannot allocate two blocks of %u MB\n", mb);
      return 1;
    }
    FillNt(a, bytes, 0x0021002100210021ULL);
    std::memset(b, 0, bytes);  // fault every page in before timing
    asm volatile("emms" ::: "memory");
    const uint64_t volume = static_cast<uint64_t>(bytes) * reps;
    using Loop = void (*)(void* a, void* b, uint32_t bytes, uint32_t reps);
    struct Group {
      const char* name;
      uint32_t (*kernel)(uint32_t, uint32_t);
      double perGb;  // Mb per Gb of pass in the module's formula
      Loop hand;
      Loop avx2;
      const char* avx2Name;
      double module = 0, handBest = 0, avx2Best = 0;
    };
    Group groups[] = {
        {"read (ID 11)", mmxrd_nt, 1024, [](void* a, void*, uint32_t n, uint32_t r) { HandReadNt(a, n, r); },
         [](void* a, void*, uint32_t n, uint32_t r) { ReferenceRead(a, n, r); }, "AVX2 loads"},
        {"write (ID 10)", mmxwr_nt, 1024,
         [](void*, void* b, uint32_t n, uint32_t r) { HandWriteNt(b, n, r); },
         [](void*, void* b, uint32_t n, uint32_t r) { ReferenceWrite(b, n, r); }, "AVX2 VMOVNTDQ"},
        {"copy (ID 12)", mmxcp_nt, 2048,
         [](void* a, void* b, uint32_t n, uint32_t r) { HandCopyNt(a, b, n, r); },
         [](void* a, void* b, uint32_t n, uint32_t r) { ReferenceCopy(a, b, n, r); }, "AVX2 loads+VMOVNTDQ"},
    };
    // Loops that explain a gap to AVX2, each timed in its group's round.
    struct Row {
      const char* name;
      int group;
      Loop run;
      double best = 0;
    };
    Row rows[] = {
        {"  nt_loops.h loop", 0, [](void* a, void*, uint32_t n, uint32_t r) { ReadNtLoop(a, n / 512, r); }},
        {"  MMX, no prefetch", 0, [](void* a, void*, uint32_t n, uint32_t r) { MmxReadNoPrefetch(a, n, r); }},
        {"  AVX2+PREFETCHNTA", 0,
         [](void* a, void*, uint32_t n, uint32_t r) { Avx2ReadPrefetchNta(a, n, r); }},
        {"  nt_loops.h loop", 1, [](void*, void* b, uint32_t n, uint32_t r) { WriteNtLoop(b, n / 512, r); }},
        {"  SSE2 MOVNTDQ", 1, [](void*, void* b, uint32_t n, uint32_t r) { Sse2WriteNt(b, n, r); }},
        {"  nt_loops.h loop", 2,
         [](void* a, void* b, uint32_t n, uint32_t r) { CopyNtLoop(a, b, n / 256, r); }},
        {"  same, PREFETCHT0", 2,
         [](void* a, void* b, uint32_t n, uint32_t r) { CopyNtT0Loop(a, b, n / 256, r); }},
        {"  MMX, no prefetch", 2,
         [](void* a, void* b, uint32_t n, uint32_t r) { MmxCopyNoPrefetch(a, b, n, r); }},
    };
    auto timed = [&](Loop loop, uint64_t traffic) {
      const int64_t t0 = Now();
      loop(a, b, bytes, reps);
      const int64_t t1 = Now();
      asm volatile("emms" ::: "memory");
      return Rate(traffic, t1 - t0);
    };
    for (uint32_t round = 0; round < rounds; ++round) {
      for (int g = 0; g < 3; ++g) {
        Group& group = groups[g];
        const uint64_t traffic = g == 2 ? 2 * volume : volume;
        group.module = std::max(group.module, KernelRate(group.kernel, mb * 1024, reps, passGb, group.perGb));
        group.handBest = std::max(group.handBest, timed(group.hand, traffic));
        for (Row& row : rows)
          if (row.group == g) row.best = std::max(row.best, timed(row.run, traffic));
        group.avx2Best = std::max(group.avx2Best, timed(group.avx2, traffic));
      }
    }
    for (int g = 0; g < 3; ++g) {
      const Group& group = groups[g];
      const double ratio = group.handBest > 0 ? group.module / group.handBest : 0;
      worst = std::min(worst, ratio);
      std::printf("%-22s %10u %12.2f %12.2f %9.3f %12.2f %9.3f   vs %s\n", group.name, mb * 1024,
                  group.module, group.handBest, ratio, group.avx2Best, group.handBest / group.avx2Best,
                  group.avx2Name);
      for (const Row& row : rows) {
        if (row.group != g) continue;
        char line[160];
        std::snprintf(line, sizeof line, "%-22s %10u %12s %12.2f %9s %12.2f %9.3f", row.name, mb * 1024, "",
                      row.best, "", group.avx2Best, row.best / group.avx2Best);
        variants.push_back(line);
      }
    }
    std::free(b);
    std::free(a);
  }
  std::printf("\nLoops that explain a gap to AVX2 (the hand loop column holds their own figure):\n");
  for (const std::string& line : variants) std::printf("%s\n", line.c_str());
  std::printf("\nlowest module/hand loop: %.3f (aim: 0.95 or better) under transparent huge pages \"%s\"\n",
              worst, HugePageMode().c_str());
  return 0;
}
