// membw_reference: times the module's non-temporal loops (IDs 11, 10, 12 Copy) next to AVX2
// reference loops on the same buffers, in one run, and prints each ratio module/reference.
// Used by bench/check-bandwidth; not part of the module.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "nt_loops.h"
#include "platform/clock.h"

namespace {

using namespace membw_internal;

// AVX2 loads of a whole block, 512 bytes per step into four rotating registers.
void ReferenceRead(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(
      "1:\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 4\n\t"
      "vmovdqa .Lqv_r(%[p]), %%ymm0\n\t"
      "vmovdqa .Lqv_r + 32(%[p]), %%ymm1\n\t"
      "vmovdqa .Lqv_r + 64(%[p]), %%ymm2\n\t"
      "vmovdqa .Lqv_r + 96(%[p]), %%ymm3\n\t"
      ".set .Lqv_r, .Lqv_r + 128\n\t"
      ".endr\n\t"
      "add $512, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
      "vzeroupper\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
}

// AVX2 non-temporal stores of zero, 512 bytes per step.
void ReferenceWrite(void* block, uint32_t bytes, uint32_t reps) {
  void* p;
  uint32_t n;
  asm volatile(
      "vpxor %%ymm0, %%ymm0, %%ymm0\n\t"
      "1:\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 16\n\t"
      "vmovntdq %%ymm0, .Lqv_r(%[p])\n\t"
      ".set .Lqv_r, .Lqv_r + 32\n\t"
      ".endr\n\t"
      "add $512, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
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
  asm volatile(
      "1:\n\t"
      "mov %[src], %[s]\n\t"
      "mov %[dst], %[d]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 2\n\t"
      "vmovdqa .Lqv_r(%[s]), %%ymm0\n\t"
      "vmovdqa .Lqv_r + 32(%[s]), %%ymm1\n\t"
      "vmovdqa .Lqv_r + 64(%[s]), %%ymm2\n\t"
      "vmovdqa .Lqv_r + 96(%[s]), %%ymm3\n\t"
      "vmovntdq %%ymm0, .Lqv_r(%[d])\n\t"
      "vmovntdq %%ymm1, .Lqv_r + 32(%[d])\n\t"
      "vmovntdq %%ymm2, .Lqv_r + 64(%[d])\n\t"
      "vmovntdq %%ymm3, .Lqv_r + 96(%[d])\n\t"
      ".set .Lqv_r, .Lqv_r + 128\n\t"
      ".endr\n\t"
      "add $256, %[s]\n\t"
      "add $256, %[d]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
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
  asm volatile(
      "1:\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 64\n\t"
      "movq .Lqv_r(%[p]), %%mm0\n\t"
      ".set .Lqv_r, .Lqv_r + 8\n\t"
      ".endr\n\t"
      "add $512, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
      "emms\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512)
      : "mm0", "memory", "cc");
}

void Avx2ReadPrefetchNta(const void* block, uint32_t bytes, uint32_t reps) {
  const void* p;
  uint32_t n;
  asm volatile(
      "1:\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 4\n\t"
      "prefetchnta .Lqv_r + 512(%[p])\n\t"
      "prefetchnta .Lqv_r + 544(%[p])\n\t"
      "prefetchnta .Lqv_r + 576(%[p])\n\t"
      "prefetchnta .Lqv_r + 608(%[p])\n\t"
      "vmovdqa .Lqv_r(%[p]), %%ymm0\n\t"
      "vmovdqa .Lqv_r + 32(%[p]), %%ymm1\n\t"
      "vmovdqa .Lqv_r + 64(%[p]), %%ymm2\n\t"
      "vmovdqa .Lqv_r + 96(%[p]), %%ymm3\n\t"
      ".set .Lqv_r, .Lqv_r + 128\n\t"
      ".endr\n\t"
      "add $512, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
      "vzeroupper\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512 - 1)
      : "xmm0", "xmm1", "xmm2", "xmm3", "memory", "cc");
}

// Non-temporal stores of 16 bytes (SSE2 MOVNTDQ): between the module's 8 and the reference's 32.
void Sse2WriteNt(void* block, uint32_t bytes, uint32_t reps) {
  void* p;
  uint32_t n;
  asm volatile(
      "pxor %%xmm0, %%xmm0\n\t"
      "1:\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
      ".rept 32\n\t"
      "movntdq %%xmm0, .Lqv_r(%[p])\n\t"
      ".set .Lqv_r, .Lqv_r + 16\n\t"
      ".endr\n\t"
      "add $512, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
      "sfence\n\t"
      : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)
      : [base] "r"(block), [chunks] "r"(bytes / 512)
      : "xmm0", "memory", "cc");
}

// The module's Copy loop with no prefetch at all.
void MmxCopyNoPrefetch(const void* source, void* destination, uint32_t bytes, uint32_t reps) {
  const void* s;
  void* d;
  uint32_t n;
  asm volatile(
      "1:\n\t"
      "mov %[src], %[s]\n\t"
      "mov %[dst], %[d]\n\t"
      "mov %k[chunks], %k[n]\n\t"
      "2:\n\t"
      ".set .Lqv_r, 0\n\t"
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
      ".endr\n\t"
      "add $256, %[s]\n\t"
      "add $256, %[d]\n\t"
      "dec %k[n]\n\t"
      "jnz 2b\n\t"
      "dec %k[reps]\n\t"
      "jnz 1b\n\t"
      "emms\n\t"
      : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)
      : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(bytes / 256)
      : "mm0", "mm1", "mm2", "mm3", "memory", "cc");
}

int64_t Now() {
  int64_t t = 0;
  platform::PerformanceCounter(&t);
  return t;
}

// MiB/s of `traffic` bytes moved in the ns between two readings.
double Rate(uint64_t traffic, int64_t ns) { return ns > 0 ? traffic / (ns / 1e9) / 1048576.0 : 0; }

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

  std::printf("%u Gb per measurement, best of %u rounds, module and reference alternating\n", passGb, rounds);
  std::printf("%-22s %10s %14s %14s %8s\n", "loop", "block Kb", "Mb/s", "reference", "ratio");
  double worst = 1e9;
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
    // Each row runs against its group's reference in the same round, on the same buffers.
    struct Row {
      const char* name;
      int group;  // 0 read, 1 write, 2 copy
      bool main;  // the module's own loop
      void (*run)(void* a, void* b, uint32_t bytes, uint32_t reps);
      double best = 0;
    };
    Row rows[] = {
        {"read (ID 11)", 0, true, [](void* a, void*, uint32_t n, uint32_t r) { ReadNtLoop(a, n / 512, r); }},
        {"  MMX, no prefetch", 0, false,
         [](void* a, void*, uint32_t n, uint32_t r) { MmxReadNoPrefetch(a, n, r); }},
        {"  AVX2+PREFETCHNTA", 0, false,
         [](void* a, void*, uint32_t n, uint32_t r) { Avx2ReadPrefetchNta(a, n, r); }},
        {"write (ID 10)", 1, true,
         [](void*, void* b, uint32_t n, uint32_t r) { WriteNtLoop(b, n / 512, r); }},
        {"  SSE2 MOVNTDQ", 1, false, [](void*, void* b, uint32_t n, uint32_t r) { Sse2WriteNt(b, n, r); }},
        {"copy (ID 12)", 2, true,
         [](void* a, void* b, uint32_t n, uint32_t r) { CopyNtLoop(a, b, n / 256, r); }},
        {"  same, PREFETCHT0", 2, false,
         [](void* a, void* b, uint32_t n, uint32_t r) { CopyNtT0Loop(a, b, n / 256, r); }},
        {"  MMX, no prefetch", 2, false,
         [](void* a, void* b, uint32_t n, uint32_t r) { MmxCopyNoPrefetch(a, b, n, r); }},
    };
    double reference[3] = {0, 0, 0};
    for (uint32_t round = 0; round < rounds; ++round) {
      for (int group = 0; group < 3; ++group) {
        const uint64_t traffic = group == 2 ? 2 * volume : volume;
        for (Row& row : rows) {
          if (row.group != group) continue;
          const int64_t t0 = Now();
          row.run(a, b, bytes, reps);
          const int64_t t1 = Now();
          asm volatile("emms" ::: "memory");
          row.best = std::max(row.best, Rate(traffic, t1 - t0));
        }
        const int64_t t0 = Now();
        if (group == 0) ReferenceRead(a, bytes, reps);
        if (group == 1) ReferenceWrite(b, bytes, reps);
        if (group == 2) ReferenceCopy(a, b, bytes, reps);
        const int64_t t1 = Now();
        reference[group] = std::max(reference[group], Rate(traffic, t1 - t0));
      }
    }
    const char* referenceNames[3] = {"AVX2 loads", "AVX2 VMOVNTDQ", "AVX2 loads+VMOVNTDQ"};
    for (const Row& row : rows) {
      const double ratio = row.best / reference[row.group];
      if (row.main) worst = std::min(worst, ratio);
      std::printf("%-22s %10u %14.2f %14.2f %8.3f   vs %s\n", row.name, mb * 1024, row.best,
                  reference[row.group], ratio, referenceNames[row.group]);
    }
    std::free(b);
    std::free(a);
  }
  std::printf("lowest ratio of the module's loops: %.3f (aim: 0.90 or better)\n", worst);
  return 0;
}
