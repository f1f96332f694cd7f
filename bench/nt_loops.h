// The timed loops of the non-temporal MMX kernels, inlined into each kernel between its two
// counter readings (and into the reference program, which times them on its own buffers).
// Offsets inside a chunk are assembler symbols stepped by .set, so each line below is one
// instruction repeated over the chunk.
#pragma once

#include <cstdint>

#include "kernel_frame.h"

namespace membw_internal::nt_loops {

constexpr uint64_t kLoopMultiplier = kWords77;  // the multiplier operand of the loop frames

// Fills bytes (a multiple of 32) with the quadword pattern by MOVNTQ, 32 bytes per step.
QV_INLINE void FillNt(void* target, uint32_t bytes, uint64_t pattern) {
  void* p;
  uint32_t n;
  asm volatile(
      "movq %[pat], %%mm0\n\t"
      "mov %[base], %[p]\n\t"
      "mov %k[bytes], %k[n]\n\t"
      "shr $5, %k[n]\n\t"
      "jz 2f\n\t"
      "1:\n\t"
      "movntq %%mm0, 0(%[p])\n\t"
      "movntq %%mm0, 8(%[p])\n\t"
      "movntq %%mm0, 16(%[p])\n\t"
      "movntq %%mm0, 24(%[p])\n\t"
      "add $32, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      : [p] "=&r"(p), [n] "=&r"(n)
      : [base] "r"(target), [bytes] "r"(bytes), [pat] "m"(pattern)
      : "mm0", "memory", "cc");
}

// Both sources of Add and Triad in one loop.
QV_INLINE void FillNt2(void* first, uint64_t firstPattern, void* second, uint64_t secondPattern,
                       uint32_t bytes) {
  void *a, *b;
  uint32_t n;
  asm volatile(
      "movq %[pa], %%mm0\n\t"
      "movq %[pb], %%mm1\n\t"
      "mov %[fa], %[a]\n\t"
      "mov %[fb], %[b]\n\t"
      "mov %k[bytes], %k[n]\n\t"
      "shr $5, %k[n]\n\t"
      "jz 2f\n\t"
      "1:\n\t"
      "movntq %%mm0, 0(%[a])\n\t"
      "movntq %%mm0, 8(%[a])\n\t"
      "movntq %%mm0, 16(%[a])\n\t"
      "movntq %%mm0, 24(%[a])\n\t"
      "movntq %%mm1, 0(%[b])\n\t"
      "movntq %%mm1, 8(%[b])\n\t"
      "movntq %%mm1, 16(%[b])\n\t"
      "movntq %%mm1, 24(%[b])\n\t"
      "add $32, %[a]\n\t"
      "add $32, %[b]\n\t"
      "dec %k[n]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      : [a] "=&r"(a), [b] "=&r"(b), [n] "=&r"(n)
      : [fa] "r"(first), [fb] "r"(second), [bytes] "r"(bytes), [pa] "m"(firstPattern), [pb] "m"(secondPattern)
      : "mm0", "mm1", "memory", "cc");
}

// clang-format off
#define QV_NT_MMX "mm0", "mm1", "mm2", "mm3", "mm7"

// mmxwr_nt: 512-byte chunk = 64 MOVNTQ of a zero register.
QV_DEFINE_LOOP1(WriteNtLoop, 512, "pxor %%mm0, %%mm0\n\t",
                ".rept 64\n\t"
                "movntq %%mm0, .Lqv_o(%[p])\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", "mm0")

// Eight MOVQ loads into mm0 from the current offset on.
#define QV_LOAD8                     \
  ".rept 8\n\t"                      \
  "movq .Lqv_o(%[p]), %%mm0\n\t"     \
  ".set .Lqv_o, .Lqv_o + 8\n\t"      \
  ".endr\n\t"

// Four PREFETCHNTA, 32 bytes apart, into the next chunk.
#define QV_PREFETCH4                     \
  ".rept 4\n\t"                          \
  "prefetchnta .Lqv_f(%[p])\n\t"         \
  ".set .Lqv_f, .Lqv_f + 32\n\t"         \
  ".endr\n\t"

// mmxrd_nt: 512-byte chunk = 64 MOVQ loads into mm0 with 16 PREFETCHNTA of the next chunk woven
// in; the last chunk is read without prefetch.
QV_DEFINE_LOOP1(ReadNtLoop, 512, "",
                ".set .Lqv_f, 512\n\t"
                QV_PREFETCH4 QV_LOAD8                                      // prefetch 512..608, load 0..56
                QV_PREFETCH4 QV_LOAD8                                      // prefetch 640..736, load 64..120
                QV_PREFETCH4 QV_LOAD8                                      // prefetch 768..864, load 128..184
                QV_PREFETCH4 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8, // prefetch 896..992, load 192..504
                QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8 QV_LOAD8, "", "mm0")

// 32 bytes of Copy (MUL empty) or Scale (MUL = four PMULLW by mm7): four loads, four MOVNTQ.
#define QV_COPY32(MUL)                    \
  "movq .Lqv_o(%[s]), %%mm0\n\t"          \
  "movq .Lqv_o + 8(%[s]), %%mm1\n\t"      \
  "movq .Lqv_o + 16(%[s]), %%mm2\n\t"     \
  "movq .Lqv_o + 24(%[s]), %%mm3\n\t"     \
  MUL                                     \
  "movntq %%mm0, .Lqv_o(%[d])\n\t"        \
  "movntq %%mm1, .Lqv_o + 8(%[d])\n\t"    \
  "movntq %%mm2, .Lqv_o + 16(%[d])\n\t"   \
  "movntq %%mm3, .Lqv_o + 24(%[d])\n\t"   \
  ".set .Lqv_o, .Lqv_o + 32\n\t"

#define QV_MUL4                  \
  "pmullw %%mm7, %%mm0\n\t"      \
  "pmullw %%mm7, %%mm1\n\t"      \
  "pmullw %%mm7, %%mm2\n\t"      \
  "pmullw %%mm7, %%mm3\n\t"

// Copy and Scale: 256-byte chunks; per 64 bytes two prefetches of the source's next chunk and
// two 32-byte steps; the last chunk without prefetch.
#define QV_COPY_CHUNK(PREFETCH, MUL)                        \
  ".rept 4\n\t"                                             \
  PREFETCH " .Lqv_o + 256(%[s])\n\t"                        \
  PREFETCH " .Lqv_o + 288(%[s])\n\t"                        \
  QV_COPY32(MUL) QV_COPY32(MUL)                             \
  ".endr\n\t"
#define QV_COPY_LAST(MUL) ".rept 8\n\t" QV_COPY32(MUL) ".endr\n\t"

// 32 bytes of Add (MUL empty) or Triad: four loads of the second source, four PADDUSW with the
// first source in memory, four MOVNTQ.
#define QV_ADD32(MUL)                          \
  "movq .Lqv_o(%[b]), %%mm0\n\t"               \
  "movq .Lqv_o + 8(%[b]), %%mm1\n\t"           \
  "movq .Lqv_o + 16(%[b]), %%mm2\n\t"          \
  "movq .Lqv_o + 24(%[b]), %%mm3\n\t"          \
  MUL                                          \
  "paddusw .Lqv_o(%[a]), %%mm0\n\t"            \
  "paddusw .Lqv_o + 8(%[a]), %%mm1\n\t"        \
  "paddusw .Lqv_o + 16(%[a]), %%mm2\n\t"       \
  "paddusw .Lqv_o + 24(%[a]), %%mm3\n\t"       \
  "movntq %%mm0, .Lqv_o(%[c])\n\t"             \
  "movntq %%mm1, .Lqv_o + 8(%[c])\n\t"         \
  "movntq %%mm2, .Lqv_o + 16(%[c])\n\t"        \
  "movntq %%mm3, .Lqv_o + 24(%[c])\n\t"        \
  ".set .Lqv_o, .Lqv_o + 32\n\t"

// Add and Triad: 256-byte chunks of eight steps; even steps prefetch the second source's next
// chunk, odd steps the first's; the last chunk without prefetch.
#define QV_ADD_CHUNK(PREFETCH, MUL)                         \
  ".rept 4\n\t"                                             \
  PREFETCH " .Lqv_o + 256(%[b])\n\t"                        \
  PREFETCH " .Lqv_o + 288(%[b])\n\t"                        \
  QV_ADD32(MUL)                                             \
  PREFETCH " .Lqv_o + 224(%[a])\n\t"                        \
  PREFETCH " .Lqv_o + 256(%[a])\n\t"                        \
  QV_ADD32(MUL)                                             \
  ".endr\n\t"
#define QV_ADD_LAST(MUL) ".rept 8\n\t" QV_ADD32(MUL) ".endr\n\t"

// Scale and Triad load the multiplier register once, before the loop.
#define QV_SET_MUL "movq %[mul], %%mm7\n\t"
QV_DEFINE_LOOP2(CopyNtLoop, 256, "", QV_COPY_CHUNK("prefetchnta", ""), QV_COPY_LAST(""), "", QV_NT_MMX)
QV_DEFINE_LOOP2(CopyNtT0Loop, 256, "", QV_COPY_CHUNK("prefetcht0", ""), QV_COPY_LAST(""), "", QV_NT_MMX)
QV_DEFINE_LOOP2(ScaleNtLoop, 256, QV_SET_MUL, QV_COPY_CHUNK("prefetchnta", QV_MUL4), QV_COPY_LAST(QV_MUL4), "",
                QV_NT_MMX)
QV_DEFINE_LOOP2(ScaleNtT0Loop, 256, QV_SET_MUL, QV_COPY_CHUNK("prefetcht0", QV_MUL4), QV_COPY_LAST(QV_MUL4), "",
                QV_NT_MMX)
QV_DEFINE_LOOP3(AddNtLoop, 256, "", QV_ADD_CHUNK("prefetchnta", ""), QV_ADD_LAST(""), "", QV_NT_MMX)
QV_DEFINE_LOOP3(AddNtT0Loop, 256, "", QV_ADD_CHUNK("prefetcht0", ""), QV_ADD_LAST(""), "", QV_NT_MMX)
QV_DEFINE_LOOP3(TriadNtLoop, 256, QV_SET_MUL, QV_ADD_CHUNK("prefetchnta", QV_MUL4), QV_ADD_LAST(QV_MUL4), "",
                QV_NT_MMX)
QV_DEFINE_LOOP3(TriadNtT0Loop, 256, QV_SET_MUL, QV_ADD_CHUNK("prefetcht0", QV_MUL4), QV_ADD_LAST(QV_MUL4), "",
                QV_NT_MMX)

// clang-format on

#undef QV_ADD32
#undef QV_ADD_CHUNK
#undef QV_ADD_LAST
#undef QV_COPY32
#undef QV_COPY_CHUNK
#undef QV_COPY_LAST
#undef QV_LOAD8
#undef QV_MUL4
#undef QV_NT_MMX
#undef QV_PREFETCH4
#undef QV_SET_MUL

}  // namespace membw_internal::nt_loops

namespace membw_internal {

template <>
struct FamilyFrame<Family::kMmxNt> {
  QV_INLINE void Enter() {}
  QV_INLINE void FillZeros(void* a, uint32_t bytes) { nt_loops::FillNt(a, bytes, 0); }
  QV_INLINE void FillSource(void* a, uint32_t bytes) { nt_loops::FillNt(a, bytes, kWords33); }
  QV_INLINE void FillSources(void* a, void* b, uint32_t bytes) {
    nt_loops::FillNt2(a, kWords33, b, kWords55, bytes);
  }
  QV_INLINE void Leave() { LeaveMmx(); }
};

}  // namespace membw_internal
