// FLOAT family loops (IDs 4 to 6): x87 doubles. The fills run before timing; each loop runs
// `reps` passes over `chunks` chunks between the kernel's two counter readings.
#pragma once

#include <cstdint>

#include "kernel_frame.h"

namespace membw_internal::float_loops {

constexpr uint64_t kLoopMultiplier = 0;  // the multiplier operand of the loop frames

// clang-format off
#define QV_X87 "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)"

QV_INLINE void ResetX87() { asm volatile("finit" ::: "memory", QV_X87); }

// FILL_VALUE (fldz or fldpi) into every double, four stores per 32-byte step; PAIR fills a
// second array in the same loop.
#define QV_DEFINE_FILL(NAME, LOAD)                                                          \
  QV_INLINE void NAME(void* first, void* second, uint32_t bytes) {                          \
    void *a, *b;                                                                            \
    uint32_t n;                                                                             \
    asm volatile(LOAD "\n\t"                                                                \
                 "mov %[fa], %[a]\n\t"                                                      \
                 "mov %[fb], %[b]\n\t"                                                      \
                 "mov %k[bytes], %k[n]\n\t"                                                 \
                 "shr $5, %k[n]\n\t"                                                        \
                 "jz 2f\n\t"                                                                \
                 "1:\n\t"                                                                   \
                 "fstl 0(%[a])\n\t"                                                         \
                 "fstl 8(%[a])\n\t"                                                         \
                 "fstl 16(%[a])\n\t"                                                        \
                 "fstl 24(%[a])\n\t"                                                        \
                 "test %[b], %[b]\n\t"                                                      \
                 "jz 3f\n\t"                                                                \
                 "fstl 0(%[b])\n\t"                                                         \
                 "fstl 8(%[b])\n\t"                                                         \
                 "fstl 16(%[b])\n\t"                                                        \
                 "fstl 24(%[b])\n\t"                                                        \
                 "add $32, %[b]\n\t"                                                        \
                 "3:\n\t"                                                                   \
                 "add $32, %[a]\n\t"                                                        \
                 "dec %k[n]\n\t"                                                            \
                 "jnz 1b\n\t"                                                               \
                 "2:\n\t"                                                                   \
                 "fstp %%st(0)\n\t"                                                         \
                 : [a] "=&r"(a), [b] "=&r"(b), [n] "=&r"(n)                                 \
                 : [fa] "r"(first), [fb] "r"(second), [bytes] "r"(bytes)                    \
                 : "memory", "cc", QV_X87);                                                 \
  }

QV_DEFINE_FILL(FillZero, "fldz")
QV_DEFINE_FILL(FillPi, "fldpi")

#define QV_STEP ".set .Lqv_o, .Lqv_o + 32\n\t"
#define QV_STORE4(D)                     \
  "fstpl .Lqv_o + 24(%[" D "])\n\t"      \
  "fstpl .Lqv_o + 16(%[" D "])\n\t"      \
  "fstpl .Lqv_o + 8(%[" D "])\n\t"       \
  "fstpl .Lqv_o(%[" D "])\n\t"

// floatwr: 512-byte chunk = 64 stores of 0.0.
QV_DEFINE_LOOP1(FloatWriteLoop, 512, "fldz\n\t",
                ".rept 64\n\t"
                "fstl .Lqv_o(%[p])\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "fstp %%st(0)\n\t", QV_X87)

// floatrd: 512-byte chunk = 64 x (load a double, free the register).
QV_DEFINE_LOOP1(FloatReadLoop, 512, "",
                ".rept 64\n\t"
                "fldl .Lqv_o(%[p])\n\t"
                "ffree %%st(0)\n\t"
                ".set .Lqv_o, .Lqv_o + 8\n\t"
                ".endr\n\t",
                QV_NO_LAST, "", QV_X87)

// floatcp: 256-byte chunk = 8 x (4 loads, 4 stores).
QV_DEFINE_LOOP2(FloatCopyLoop, 256, "",
                ".rept 8\n\t"
                "fldl .Lqv_o(%[s])\n\t"
                "fldl .Lqv_o + 8(%[s])\n\t"
                "fldl .Lqv_o + 16(%[s])\n\t"
                "fldl .Lqv_o + 24(%[s])\n\t" QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_X87)

// floatsc: 8 x (4 loads each multiplied by ln 2 held below them, 4 stores).
QV_DEFINE_LOOP2(FloatScaleLoop, 256, "fldln2\n\t",
                ".rept 8\n\t"
                "fldl .Lqv_o(%[s])\n\t"
                "fmul %%st(1), %%st\n\t"
                "fldl .Lqv_o + 8(%[s])\n\t"
                "fmul %%st(2), %%st\n\t"
                "fldl .Lqv_o + 16(%[s])\n\t"
                "fmul %%st(3), %%st\n\t"
                "fldl .Lqv_o + 24(%[s])\n\t"
                "fmul %%st(4), %%st\n\t" QV_STORE4("d") QV_STEP ".endr\n\t",
                QV_NO_LAST, "fstp %%st(0)\n\t", QV_X87)

// floatad: 8 x (4 loads of the first each added to the second, 4 stores).
QV_DEFINE_LOOP3(FloatAddLoop, 256, "",
                ".rept 8\n\t"
                "fldl .Lqv_o(%[a])\n\t"
                "faddl .Lqv_o(%[b])\n\t"
                "fldl .Lqv_o + 8(%[a])\n\t"
                "faddl .Lqv_o + 8(%[b])\n\t"
                "fldl .Lqv_o + 16(%[a])\n\t"
                "faddl .Lqv_o + 16(%[b])\n\t"
                "fldl .Lqv_o + 24(%[a])\n\t"
                "faddl .Lqv_o + 24(%[b])\n\t" QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "", QV_X87)

// floattr: 8 x (4 loads of the second each multiplied by ln 2 and added to the first, 4 stores).
QV_DEFINE_LOOP3(FloatTriadLoop, 256, "fldln2\n\t",
                ".rept 8\n\t"
                "fldl .Lqv_o(%[b])\n\t"
                "fmul %%st(1), %%st\n\t"
                "faddl .Lqv_o(%[a])\n\t"
                "fldl .Lqv_o + 8(%[b])\n\t"
                "fmul %%st(2), %%st\n\t"
                "faddl .Lqv_o + 8(%[a])\n\t"
                "fldl .Lqv_o + 16(%[b])\n\t"
                "fmul %%st(3), %%st\n\t"
                "faddl .Lqv_o + 16(%[a])\n\t"
                "fldl .Lqv_o + 24(%[b])\n\t"
                "fmul %%st(4), %%st\n\t"
                "faddl .Lqv_o + 24(%[a])\n\t" QV_STORE4("c") QV_STEP ".endr\n\t",
                QV_NO_LAST, "fstp %%st(0)\n\t", QV_X87)

// clang-format on

#undef QV_DEFINE_FILL
#undef QV_STEP
#undef QV_STORE4
#undef QV_X87

}  // namespace membw_internal::float_loops

namespace membw_internal {

// Every kernel starts with FINIT so the register stack and control word are known.
template <>
struct FamilyFrame<Family::kFloat> {
  QV_INLINE void Enter() { float_loops::ResetX87(); }
  QV_INLINE void FillZeros(void* a, uint32_t bytes) { float_loops::FillZero(a, nullptr, bytes); }
  QV_INLINE void FillSource(void* a, uint32_t bytes) { float_loops::FillPi(a, nullptr, bytes); }
  QV_INLINE void FillSources(void* a, void* b, uint32_t bytes) { float_loops::FillPi(a, b, bytes); }
  QV_INLINE void Leave() {}
};

}  // namespace membw_internal
