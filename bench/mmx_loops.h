// MMX family loops (IDs 7 to 9): cached MOVQ, no prefetch. The fills run before timing; each loop runs
// `reps` passes over `chunks` chunks between the kernel's two counter readings.
#pragma once

#include <cstdint>

#include "kernel_frame.h"

namespace membw_internal::mmx_loops {

constexpr uint64_t kLoopMultiplier = kWords77;  // the multiplier operand of the loop frames

// clang-format off
#define QV_MMX "mm0", "mm1", "mm2", "mm3", "mm7"

// Cached MOVQ fill, 32 bytes per step; a second array (when given) in the same loop.
QV_INLINE void FillMmx(void* first, uint64_t firstPattern, void* second, uint64_t secondPattern, uint32_t bytes) {
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
      "movq %%mm0, 0(%[a])\n\t"
      "movq %%mm0, 8(%[a])\n\t"
      "movq %%mm0, 16(%[a])\n\t"
      "movq %%mm0, 24(%[a])\n\t"
      "test %[b], %[b]\n\t"
      "jz 3f\n\t"
      "movq %%mm1, 0(%[b])\n\t"
      "movq %%mm1, 8(%[b])\n\t"
      "movq %%mm1, 16(%[b])\n\t"
      "movq %%mm1, 24(%[b])\n\t"
      "add $32, %[b]\n\t"
      "3:\n\t"
      "add $32, %[a]\n\t"
      "dec %k[n]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      : [a] "=&r"(a), [b] "=&r"(b), [n] "=&r"(n)
      : [fa] "r"(first), [fb] "r"(second), [bytes] "r"(bytes), [pa] "m"(firstPattern), [pb] "m"(secondPattern)
      : "mm0", "mm1", "memory", "cc");
}

#define QV_STEP ".set .Lqv_o, .Lqv_o + 32\n\t"
#define QV_LOAD4(S)                          \
  "movq .Lqv_o(%[" S "]), %%mm0\n\t"         \
  "movq .Lqv_o + 8(%[" S "]), %%mm1\n\t"     \
  "movq .Lqv_o + 16(%[" S "]), %%mm2\n\t"    \
  "movq .Lqv_o + 24(%[" S "]), %%mm3\n\t"
#define QV_STORE4(D)                         \
  "movq %%mm0, .Lqv_o(%[" D "])\n\t"         \
  "movq %%mm1, .Lqv_o + 8(%[" D "])\n\t"     \
  "movq %%mm2, .Lqv_o + 16(%[" D "])\n\t"    \
  "movq %%mm3, .Lqv_o + 24(%[" D "])\n\t"
#define QV_MUL4                \
  "pmullw %%mm7, %%mm0\n\t"    \
  "pmullw %%mm7, %%mm1\n\t"    \
  "pmullw %%mm7, %%mm2\n\t"    \
  "pmullw %%mm7, %%mm3\n\t"
#define QV_ADDS4(S)                          \
  "paddusw .Lqv_o(%[" S "]), %%mm0\n\t"      \
  "paddusw .Lqv_o + 8(%[" S "]), %%mm1\n\t"  \
  "paddusw .Lqv_o + 16(%[" S "]), %%mm2\n\t" \
  "paddusw .Lqv_o + 24(%[" S "]), %%mm3\n\t"
#define QV_SET_MUL "movq %[mul], %%mm7\n\t"

// mmxwr: 512-byte chunk = 64 MOVQ stores of a zero register.
QV_DEFINE_LOOP1(MmxWriteLoop, 512, "pxor %%mm0, %%mm0\n\t",
                ".rept 64\n\t"
                "movq %%mm0, .Lqv_o(%[p])\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)

// mmxrd: 512-byte chunk = 64 MOVQ loads into one register.
QV_DEFINE_LOOP1(MmxReadLoop, 512, "",
                ".rept 64\n\t"
                "movq .Lqv_o(%[p]), %%mm0\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)

// mmxcp: 256-byte chunk = 8 x (4 loads, 4 stores).
QV_DEFINE_LOOP2(MmxCopyLoop, 256, "",
                ".rept 8\n\t" QV_LOAD4("s") QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)
// mmxsc: 8 x (4 loads, 4 PMULLW by 77, 4 stores).
QV_DEFINE_LOOP2(MmxScaleLoop, 256, QV_SET_MUL,
                ".rept 8\n\t" QV_LOAD4("s") QV_MUL4 QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)
// mmxad: 8 x (4 loads of the first, 4 PADDUSW with the second, 4 stores).
QV_DEFINE_LOOP3(MmxAddLoop, 256, "",
                ".rept 8\n\t" QV_LOAD4("a") QV_ADDS4("b") QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)
// mmxtr: 8 x (4 loads of the second, 4 PMULLW, 4 PADDUSW with the first, 4 stores).
QV_DEFINE_LOOP3(MmxTriadLoop, 256, QV_SET_MUL,
                ".rept 8\n\t" QV_LOAD4("b") QV_MUL4 QV_ADDS4("a") QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_MMX)

// clang-format on

#undef QV_ADDS4
#undef QV_LOAD4
#undef QV_MMX
#undef QV_MUL4
#undef QV_SET_MUL
#undef QV_STEP
#undef QV_STORE4

}  // namespace membw_internal::mmx_loops

namespace membw_internal {

template <>
struct FamilyFrame<Family::kMmx> {
  QV_INLINE void Enter() {}
  QV_INLINE void FillZeros(void* a, uint32_t bytes) { mmx_loops::FillMmx(a, 0, nullptr, 0, bytes); }
  QV_INLINE void FillSource(void* a, uint32_t bytes) { mmx_loops::FillMmx(a, kWords33, nullptr, 0, bytes); }
  QV_INLINE void FillSources(void* a, void* b, uint32_t bytes) {
    mmx_loops::FillMmx(a, kWords33, b, kWords55, bytes);
  }
  QV_INLINE void Leave() { LeaveMmx(); }
};

}  // namespace membw_internal
