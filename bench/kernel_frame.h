// What every kernel shares around its loop: buffers from the C heap, made present and filled
// before the first counter reading, released (last allocated first) after the second; and the
// pass-loop skeletons that the family files wrap around their chunk bodies.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "kernels.h"
#include "platform/memory.h"
#include "procedures.h"
#include "timing.h"

#ifndef QV_INLINE
#define QV_INLINE static inline __attribute__((always_inline))
#endif

namespace membw_internal {

class Arrays {
 public:
  // count arrays of bytes each, in the order first source, second source, destination.
  Arrays(int count, uint32_t bytes) : count_(count) {
    for (int i = 0; i < count_; ++i) {
      arrays_[i] = std::malloc(bytes);
      if (!arrays_[i]) ok_ = false;
    }
    if (ok_) {
      for (int i = 0; i < count_; ++i) platform::PrefaultPages(arrays_[i], bytes);
    }
  }
  ~Arrays() { Release(); }
  Arrays(const Arrays&) = delete;
  Arrays& operator=(const Arrays&) = delete;

  bool Ok() const { return ok_; }
  void* operator[](int i) const { return arrays_[i]; }
  void Release() {
    for (int i = count_ - 1; i >= 0; --i) {
      std::free(arrays_[i]);
      arrays_[i] = nullptr;
    }
  }

 private:
  int count_;
  bool ok_ = true;
  void* arrays_[3] = {nullptr, nullptr, nullptr};
};

// The array tests' sources hold 33 (first) and 55 (second) in every element; in MMX words:
constexpr uint64_t kWords33 = 0x0021002100210021ULL;
constexpr uint64_t kWords55 = 0x0037003700370037ULL;
// The MMX Scale and Triad multiply by 77 in every word.
constexpr uint64_t kWords77 = 0x004D004D004D004DULL;

// What a family adds to the frame, given in its *_loops.h: Enter before the buffers are taken;
// the fills of the arrays its loops read (zeros in a sweep's read block, the first and second
// sources in the array tests); Leave once the time is taken.
template <Family F>
struct FamilyFrame;

// The frame of every kernel of the table: buffers taken, made present and filled untimed; the
// counter read just around the loop; buffers released before the time is converted.
template <Family F, uint32_t kRead, uint32_t kWritten, uint32_t kBytes, auto Loop>
QV_INLINE uint32_t MeasureKernel(uint32_t sizeKb, uint32_t repetitions) {
  using Hooks = FamilyFrame<F>;
  Hooks::Enter();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(kRead + kWritten, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  if constexpr (kRead == 1 && kWritten == 0) Hooks::FillZeros(arrays[0], bytes);
  if constexpr (kRead == 1 && kWritten == 1) Hooks::FillSource(arrays[0], bytes);
  if constexpr (kRead == 2) Hooks::FillSources(arrays[0], arrays[1], bytes);
  // Everything the loop takes is at hand before the first reading.
  const uint32_t chunks = bytes / kBytes;
  void* const first = arrays[0];
  void* const second = arrays[1];
  void* const third = arrays[2];
  const int64_t start = CounterNow();
  if constexpr (kRead + kWritten == 1) {
    Loop(first, chunks, repetitions);
  } else if constexpr (kRead + kWritten == 2) {
    Loop(first, second, chunks, repetitions);
  } else {
    Loop(first, second, third, chunks, repetitions);
  }
  const int64_t end = CounterNow();
  arrays.Release();
  const uint32_t ms = ElapsedMs(start, end);
  Hooks::Leave();
  return ms;
}

}  // namespace membw_internal

// clang-format off
// Pass loops: reps passes over chunks chunks of CHUNK bytes; BODY covers one chunk with offsets
// from the assembler symbol .Lqv_o, which it steps itself. SETUP and TEARDOWN run once around;
// [zero] is a spare register of the one-array loops, [mul] a multiplier in memory.
// LAST, where given, covers the last chunk of every pass instead of BODY (the non-temporal loops
// prefetch one chunk ahead, and the last chunk has nothing after it); QV_NO_LAST otherwise.
#define QV_NO_LAST
#define QV_LOOP_HEAD                  \
  "test %k[chunks], %k[chunks]\n\t"   \
  "jz 3f\n\t"                         \
  "test %k[reps], %k[reps]\n\t"       \
  "jz 3f\n\t"

#define QV_BEFORE_LAST(...) __VA_OPT__( \
  "dec %k[n]\n\t"                       \
  "jz 4f\n\t")

#define QV_LAST(...) __VA_OPT__(        \
  "4:\n\t"                             \
  ".set .Lqv_o, 0\n\t" __VA_ARGS__)

#define QV_LOOP_TAIL(LAST)   \
  "dec %k[n]\n\t"            \
  "jnz 2b\n\t"               \
  QV_LAST(LAST)              \
  "dec %k[reps]\n\t"         \
  "jnz 1b\n\t"               \
  "3:\n\t"

#define QV_DEFINE_LOOP1(NAME, CHUNK, SETUP, BODY, LAST, TEARDOWN, ...)                            \
  static inline __attribute__((always_inline)) void NAME(void* block, uint32_t chunks,      \
                                                         uint32_t reps) {                   \
    void* p;                                                                                \
    uint32_t n, zero;                                                                       \
    asm volatile(SETUP QV_LOOP_HEAD                                                         \
                 "1:\n\t"                                                                   \
                 "mov %[base], %[p]\n\t"                                                    \
                 "mov %k[chunks], %k[n]\n\t" QV_BEFORE_LAST(LAST)                            \
                 "2:\n\t"                                                                   \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[p]\n\t" QV_LOOP_TAIL(LAST) TEARDOWN \
                 : [p] "=&r"(p), [n] "=&r"(n), [zero] "=&r"(zero), [reps] "+r"(reps)        \
                 : [base] "r"(block), [chunks] "r"(chunks),                                 \
                   [mul] "m"(kLoopMultiplier)                                   \
                 : "memory", "cc", __VA_ARGS__);                                            \
  }

#define QV_DEFINE_LOOP2(NAME, CHUNK, SETUP, BODY, LAST, TEARDOWN, ...)                                      \
  static inline __attribute__((always_inline)) void NAME(const void* source, void* destination,       \
                                                         uint32_t chunks, uint32_t reps) {            \
    const void* s;                                                                                    \
    void* d;                                                                                          \
    uint32_t n;                                                                                       \
    asm volatile(SETUP QV_LOOP_HEAD                                                                   \
                 "1:\n\t"                                                                             \
                 "mov %[src], %[s]\n\t"                                                               \
                 "mov %[dst], %[d]\n\t"                                                               \
                 "mov %k[chunks], %k[n]\n\t" QV_BEFORE_LAST(LAST)                                      \
                 "2:\n\t"                                                                             \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[s]\n\t"                                \
                 "add $" #CHUNK ", %[d]\n\t" QV_LOOP_TAIL(LAST) TEARDOWN                                    \
                 : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)                        \
                 : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(chunks),                   \
                   [mul] "m"(kLoopMultiplier)                                             \
                 : "memory", "cc", __VA_ARGS__);                                                      \
  }

#define QV_DEFINE_LOOP3(NAME, CHUNK, SETUP, BODY, LAST, TEARDOWN, ...)                                      \
  static inline __attribute__((always_inline)) void NAME(const void* first, const void* second,       \
                                                         void* destination, uint32_t chunks,          \
                                                         uint32_t reps) {                             \
    const void *a, *b;                                                                                \
    void* c;                                                                                          \
    uint32_t n;                                                                                       \
    asm volatile(SETUP QV_LOOP_HEAD                                                                   \
                 "1:\n\t"                                                                             \
                 "mov %[fa], %[a]\n\t"                                                                \
                 "mov %[fb], %[b]\n\t"                                                                \
                 "mov %[dst], %[c]\n\t"                                                               \
                 "mov %k[chunks], %k[n]\n\t" QV_BEFORE_LAST(LAST)                                      \
                 "2:\n\t"                                                                             \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[a]\n\t"                                \
                 "add $" #CHUNK ", %[b]\n\t"                                                          \
                 "add $" #CHUNK ", %[c]\n\t" QV_LOOP_TAIL(LAST) TEARDOWN                                    \
                 : [a] "=&r"(a), [b] "=&r"(b), [c] "=&r"(c), [n] "=&r"(n), [reps] "+r"(reps)          \
                 : [fa] "r"(first), [fb] "r"(second), [dst] "r"(destination), [chunks] "r"(chunks),   \
                   [mul] "m"(kLoopMultiplier)                                             \
                 : "memory", "cc", __VA_ARGS__);                                                      \
  }

// clang-format on
