// INT family loops (IDs 1 to 3): 32-bit general registers. The fills run before timing; each loop runs
// `reps` passes over `chunks` chunks between the kernel's two counter readings.
#pragma once

#include <cstdint>

#include "kernel_frame.h"

namespace membw_internal::int_loops {

constexpr uint64_t kLoopMultiplier = 77;  // the multiplier operand of the loop frames

// Four 32-bit stores per 16-byte step.
QV_INLINE void Fill32(void* target, uint32_t bytes, uint32_t value) {
  void* p;
  uint32_t n;
  asm volatile(
      "mov %[base], %[p]\n\t"
      "mov %k[bytes], %k[n]\n\t"
      "shr $4, %k[n]\n\t"
      "jz 2f\n\t"
      "1:\n\t"
      "mov %k[v], 0(%[p])\n\t"
      "mov %k[v], 4(%[p])\n\t"
      "mov %k[v], 8(%[p])\n\t"
      "mov %k[v], 12(%[p])\n\t"
      "add $16, %[p]\n\t"
      "dec %k[n]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      : [p] "=&r"(p), [n] "=&r"(n)
      : [base] "r"(target), [bytes] "r"(bytes), [v] "r"(value)
      : "memory", "cc");
}

QV_INLINE void Fill32Pair(void* first, uint32_t firstValue, void* second, uint32_t secondValue,
                          uint32_t bytes) {
  void *a, *b;
  uint32_t n;
  asm volatile(
      "mov %[fa], %[a]\n\t"
      "mov %[fb], %[b]\n\t"
      "mov %k[bytes], %k[n]\n\t"
      "shr $4, %k[n]\n\t"
      "jz 2f\n\t"
      "1:\n\t"
      "mov %k[va], 0(%[a])\n\t"
      "mov %k[va], 4(%[a])\n\t"
      "mov %k[va], 8(%[a])\n\t"
      "mov %k[va], 12(%[a])\n\t"
      "mov %k[vb], 0(%[b])\n\t"
      "mov %k[vb], 4(%[b])\n\t"
      "mov %k[vb], 8(%[b])\n\t"
      "mov %k[vb], 12(%[b])\n\t"
      "add $16, %[a]\n\t"
      "add $16, %[b]\n\t"
      "dec %k[n]\n\t"
      "jnz 1b\n\t"
      "2:\n\t"
      : [a] "=&r"(a), [b] "=&r"(b), [n] "=&r"(n)
      : [fa] "r"(first), [fb] "r"(second), [bytes] "r"(bytes), [va] "r"(firstValue), [vb] "r"(secondValue)
      : "memory", "cc");
}

// clang-format off
#define QV_STEP ".set .Lqv_o, .Lqv_o + 16\n\t"
#define QV_STORE4(D)                     \
  "mov %%r8d, .Lqv_o(%[" D "])\n\t"      \
  "mov %%r9d, .Lqv_o + 4(%[" D "])\n\t"  \
  "mov %%r10d, .Lqv_o + 8(%[" D "])\n\t" \
  "mov %%r11d, .Lqv_o + 12(%[" D "])\n\t"

// intwr: 256-byte chunk = 64 stores of a zero register.
QV_DEFINE_LOOP1(IntWriteLoop, 256, "xor %k[zero], %k[zero]\n\t",
                ".rept 64\n\t"
                "mov %k[zero], .Lqv_o(%[p])\n\t"
                ".set .Lqv_o, .Lqv_o + 4\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", "r8")

// intrd: 256-byte chunk = 64 loads into two alternating registers.
QV_DEFINE_LOOP1(IntReadLoop, 256, "",
                ".rept 32\n\t"
                "mov .Lqv_o(%[p]), %%r8d\n\t"
                "mov .Lqv_o + 4(%[p]), %%r9d\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", "r8", "r9")

// intcp: 128-byte chunk = 8 x (4 loads, 4 stores).
QV_DEFINE_LOOP2(IntCopyLoop, 128, "",
                ".rept 8\n\t"
                "mov .Lqv_o(%[s]), %%r8d\n\t"
                "mov .Lqv_o + 4(%[s]), %%r9d\n\t"
                "mov .Lqv_o + 8(%[s]), %%r10d\n\t"
                "mov .Lqv_o + 12(%[s]), %%r11d\n\t" QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", "r8", "r9", "r10", "r11")

// intsc: 8 x (4 multiplications of the source by 77, 4 stores).
QV_DEFINE_LOOP2(IntScaleLoop, 128, "",
                ".rept 8\n\t"
                "imul $77, .Lqv_o(%[s]), %%r8d\n\t"
                "imul $77, .Lqv_o + 4(%[s]), %%r9d\n\t"
                "imul $77, .Lqv_o + 8(%[s]), %%r10d\n\t"
                "imul $77, .Lqv_o + 12(%[s]), %%r11d\n\t" QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", "r8", "r9", "r10", "r11")

// intad: 8 x (4 loads of the first, 4 additions of the second, 4 stores).
QV_DEFINE_LOOP3(IntAddLoop, 128, "",
                ".rept 8\n\t"
                "mov .Lqv_o(%[a]), %%r8d\n\t"
                "mov .Lqv_o + 4(%[a]), %%r9d\n\t"
                "mov .Lqv_o + 8(%[a]), %%r10d\n\t"
                "mov .Lqv_o + 12(%[a]), %%r11d\n\t"
                "add .Lqv_o(%[b]), %%r8d\n\t"
                "add .Lqv_o + 4(%[b]), %%r9d\n\t"
                "add .Lqv_o + 8(%[b]), %%r10d\n\t"
                "add .Lqv_o + 12(%[b]), %%r11d\n\t" QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", "r8", "r9", "r10", "r11")

// inttr: 8 x (4 multiplications of the second by 77, 4 additions of the first, 4 stores).
QV_DEFINE_LOOP3(IntTriadLoop, 128, "",
                ".rept 8\n\t"
                "imul $77, .Lqv_o(%[b]), %%r8d\n\t"
                "imul $77, .Lqv_o + 4(%[b]), %%r9d\n\t"
                "imul $77, .Lqv_o + 8(%[b]), %%r10d\n\t"
                "imul $77, .Lqv_o + 12(%[b]), %%r11d\n\t"
                "add .Lqv_o(%[a]), %%r8d\n\t"
                "add .Lqv_o + 4(%[a]), %%r9d\n\t"
                "add .Lqv_o + 8(%[a]), %%r10d\n\t"
                "add .Lqv_o + 12(%[a]), %%r11d\n\t" QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", "r8", "r9", "r10", "r11")

// clang-format on

#undef QV_STEP
#undef QV_STORE4

}  // namespace membw_internal::int_loops

namespace membw_internal {

template <>
struct FamilyFrame<Family::kInt> {
  QV_INLINE void Enter() {}
  QV_INLINE void FillZeros(void* a, uint32_t bytes) { int_loops::Fill32(a, bytes, 0); }
  QV_INLINE void FillSource(void* a, uint32_t bytes) { int_loops::Fill32(a, bytes, 33); }
  QV_INLINE void FillSources(void* a, void* b, uint32_t bytes) { int_loops::Fill32Pair(a, 33, b, 55, bytes); }
  QV_INLINE void Leave() {}
};

}  // namespace membw_internal
