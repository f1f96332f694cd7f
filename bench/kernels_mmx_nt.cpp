// Non-temporal MMX kernels (IDs 10 to 12): MOVNTQ stores, prefetch one chunk ahead.
#include <cstdlib>

#include "kernels.h"
#include "nt_loops.h"
#include "platform/memory.h"
#include "procedures.h"
#include "timing.h"

using namespace membw_internal;

namespace {

constexpr uint64_t kWords33 = 0x0021002100210021ULL;
constexpr uint64_t kWords55 = 0x0037003700370037ULL;

using CopyLoop = void (*)(const void*, void*, uint32_t, uint32_t);
using AddLoop = void (*)(const void*, const void*, void*, uint32_t, uint32_t);

// Copy and Scale: source of words 33; the destination is made present but not written before the
// loop, so the page faults and the zeroing of fresh pages stay out of the timing.
template <CopyLoop loop>
QV_INLINE uint32_t TwoArrayKernel(uint32_t sizeKb, uint32_t passes) {
  const uint32_t bytes = sizeKb * 1024u;
  void* source = std::malloc(bytes);
  void* destination = std::malloc(bytes);
  if (!source || !destination) {
    std::free(destination);
    std::free(source);
    return kKernelNoMemory;
  }
  platform::PrefaultPages(source, bytes);
  platform::PrefaultPages(destination, bytes);
  FillNt(source, bytes, kWords33);
  const int64_t start = CounterNow();
  loop(source, destination, bytes / 256, passes);
  const int64_t end = CounterNow();
  std::free(destination);
  std::free(source);
  const uint32_t ms = ElapsedMs(start, end);
  LeaveMmx();
  return ms;
}

// Add and Triad: first source words 33, second words 55, both filled in one loop.
template <AddLoop loop>
QV_INLINE uint32_t ThreeArrayKernel(uint32_t sizeKb, uint32_t passes) {
  const uint32_t bytes = sizeKb * 1024u;
  void* first = std::malloc(bytes);
  void* second = std::malloc(bytes);
  void* destination = std::malloc(bytes);
  if (!first || !second || !destination) {
    std::free(destination);
    std::free(second);
    std::free(first);
    return kKernelNoMemory;
  }
  platform::PrefaultPages(first, bytes);
  platform::PrefaultPages(second, bytes);
  platform::PrefaultPages(destination, bytes);
  FillNt2(first, kWords33, second, kWords55, bytes);
  const int64_t start = CounterNow();
  loop(first, second, destination, sizeKb * 4u, passes);
  const int64_t end = CounterNow();
  std::free(destination);
  std::free(second);
  std::free(first);
  const uint32_t ms = ElapsedMs(start, end);
  LeaveMmx();
  return ms;
}

}  // namespace

extern "C" {

MEMBW_KERNEL(mmxwr_nt) {
  const uint32_t bytes = sizeKb * 1024u;
  void* block = std::malloc(bytes);
  if (!block) return kKernelNoMemory;
  platform::PrefaultPages(block, bytes);
  const int64_t start = CounterNow();
  WriteNtLoop(block, bytes / 512, repetitions);
  const int64_t end = CounterNow();
  std::free(block);
  const uint32_t ms = ElapsedMs(start, end);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxrd_nt) {
  const uint32_t bytes = sizeKb * 1024u;
  void* block = std::malloc(bytes);
  if (!block) return kKernelNoMemory;
  platform::PrefaultPages(block, bytes);
  FillNt(block, bytes, 0);
  const int64_t start = CounterNow();
  ReadNtLoop(block, bytes / 512, repetitions);
  const int64_t end = CounterNow();
  std::free(block);
  const uint32_t ms = ElapsedMs(start, end);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxcp_nt) { return TwoArrayKernel<CopyNtLoop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxcp_nt_t0) { return TwoArrayKernel<CopyNtT0Loop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxsc_nt) { return TwoArrayKernel<ScaleNtLoop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxsc_nt_t0) { return TwoArrayKernel<ScaleNtT0Loop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxad_nt) { return ThreeArrayKernel<AddNtLoop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxad_nt_t0) { return ThreeArrayKernel<AddNtT0Loop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxtr_nt) { return ThreeArrayKernel<TriadNtLoop>(sizeKb, repetitions); }
MEMBW_KERNEL(mmxtr_nt_t0) { return ThreeArrayKernel<TriadNtT0Loop>(sizeKb, repetitions); }

}  // extern "C"
