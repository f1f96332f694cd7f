// What every kernel shares around its loop: buffers from the C heap, made present and filled
// before the first counter reading, released (last allocated first) after the second; and the
// pass-loop skeletons that the family files wrap around their chunk bodies.
#pragma once

#include <cstdint>
#include <cstdlib>

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

}  // namespace membw_internal

// clang-format off
// Pass loops: reps passes over chunks chunks of CHUNK bytes; BODY covers one chunk with offsets
// from the assembler symbol .Lqv_o, which it steps itself. SETUP and TEARDOWN run once around.
#define QV_LOOP_HEAD                  \
  "test %k[chunks], %k[chunks]\n\t"   \
  "jz 3f\n\t"                         \
  "test %k[reps], %k[reps]\n\t"       \
  "jz 3f\n\t"

#define QV_LOOP_TAIL         \
  "dec %k[n]\n\t"            \
  "jnz 2b\n\t"               \
  "dec %k[reps]\n\t"         \
  "jnz 1b\n\t"               \
  "3:\n\t"

#define QV_DEFINE_LOOP1(NAME, CHUNK, SETUP, BODY, TEARDOWN, ...)                            \
  static inline __attribute__((always_inline)) void NAME(void* block, uint32_t chunks,      \
                                                         uint32_t reps) {                   \
    void* p;                                                                                \
    uint32_t n;                                                                             \
    asm volatile(SETUP QV_LOOP_HEAD                                                         \
                 "1:\n\t"                                                                   \
                 "mov %[base], %[p]\n\t"                                                    \
                 "mov %k[chunks], %k[n]\n\t"                                                \
                 "2:\n\t"                                                                   \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[p]\n\t" QV_LOOP_TAIL TEARDOWN \
                 : [p] "=&r"(p), [n] "=&r"(n), [reps] "+r"(reps)                            \
                 : [base] "r"(block), [chunks] "r"(chunks), [zero] "r"(0u),                 \
                   [mul] "m"(kLoopMultiplier)                                   \
                 : "memory", "cc", __VA_ARGS__);                                            \
  }

#define QV_DEFINE_LOOP2(NAME, CHUNK, SETUP, BODY, TEARDOWN, ...)                                      \
  static inline __attribute__((always_inline)) void NAME(const void* source, void* destination,       \
                                                         uint32_t chunks, uint32_t reps) {            \
    const void* s;                                                                                    \
    void* d;                                                                                          \
    uint32_t n;                                                                                       \
    asm volatile(SETUP QV_LOOP_HEAD                                                                   \
                 "1:\n\t"                                                                             \
                 "mov %[src], %[s]\n\t"                                                               \
                 "mov %[dst], %[d]\n\t"                                                               \
                 "mov %k[chunks], %k[n]\n\t"                                                          \
                 "2:\n\t"                                                                             \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[s]\n\t"                                \
                 "add $" #CHUNK ", %[d]\n\t" QV_LOOP_TAIL TEARDOWN                                    \
                 : [s] "=&r"(s), [d] "=&r"(d), [n] "=&r"(n), [reps] "+r"(reps)                        \
                 : [src] "r"(source), [dst] "r"(destination), [chunks] "r"(chunks),                   \
                   [mul] "m"(kLoopMultiplier)                                             \
                 : "memory", "cc", __VA_ARGS__);                                                      \
  }

#define QV_DEFINE_LOOP3(NAME, CHUNK, SETUP, BODY, TEARDOWN, ...)                                      \
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
                 "mov %k[chunks], %k[n]\n\t"                                                          \
                 "2:\n\t"                                                                             \
                 ".set .Lqv_o, 0\n\t" BODY "add $" #CHUNK ", %[a]\n\t"                                \
                 "add $" #CHUNK ", %[b]\n\t"                                                          \
                 "add $" #CHUNK ", %[c]\n\t" QV_LOOP_TAIL TEARDOWN                                    \
                 : [a] "=&r"(a), [b] "=&r"(b), [c] "=&r"(c), [n] "=&r"(n), [reps] "+r"(reps)          \
                 : [fa] "r"(first), [fb] "r"(second), [dst] "r"(destination), [chunks] "r"(chunks),   \
                   [mul] "m"(kLoopMultiplier)                                             \
                 : "memory", "cc", __VA_ARGS__);                                                      \
  }

// The frame of a kernel: FILL (untimed), counter, LOOP, counter, release, convert.
#define QV_TIMED(LOOP_CALL, ARRAYS)                  \
  const int64_t start = CounterNow();                \
  LOOP_CALL;                                         \
  const int64_t end = CounterNow();                  \
  ARRAYS.Release();                                  \
  const uint32_t ms = ElapsedMs(start, end)
// clang-format on
