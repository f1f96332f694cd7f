// Every measuring kernel of the module, one row each. The rows are the only list of kernels: the
// kernels' definitions (kernels.cpp), the entry's dispatch and its pointer table, the array
// test's rates, membw_run's chunk sizes and the disassembly test all read them.
#pragma once

#include <cstdint>

namespace membw_internal {

// Instruction family: its fills and register state (*_loops.h), result lines and needed feature.
enum class Family { kInt, kFloat, kMmx, kMmxNt };

// Software prefetch a loop issues one chunk ahead; the T0 rows are ID 12's twins that -t picks.
enum class Prefetch { kNone, kNta, kT0 };

}  // namespace membw_internal

// clang-format off
// One row per kernel, its traffic beside its loop:
//   name      the kernel's C symbol
//   id        the benchmark (-b) that runs it: one row is a block sweep, four are an array test
//             of Copy, Scale, Add, Triad in table order (ID 12's T0 twins follow its four)
//   family    see Family
//   prefetch  see Prefetch
//   read      arrays the loop reads
//   written   arrays the loop writes (the arrays, in order: the read ones, then the written one)
//   bytes     bytes each array moves per iteration of the loop (one unrolled chunk)
//   loop      the timed loop, a pass over every chunk per repetition
#define MEMBW_KERNELS(X)                                                                   \
  /* name        id  family  prefetch read written bytes  loop                        */  \
  X(intwr,        1, kInt,   kNone,   0,   1,      256,   int_loops::IntWriteLoop)        \
  X(intrd,        2, kInt,   kNone,   1,   0,      256,   int_loops::IntReadLoop)         \
  X(intcp,        3, kInt,   kNone,   1,   1,      128,   int_loops::IntCopyLoop)         \
  X(intsc,        3, kInt,   kNone,   1,   1,      128,   int_loops::IntScaleLoop)        \
  X(intad,        3, kInt,   kNone,   2,   1,      128,   int_loops::IntAddLoop)          \
  X(inttr,        3, kInt,   kNone,   2,   1,      128,   int_loops::IntTriadLoop)        \
  X(floatwr,      4, kFloat, kNone,   0,   1,      512,   float_loops::FloatWriteLoop)    \
  X(floatrd,      5, kFloat, kNone,   1,   0,      512,   float_loops::FloatReadLoop)     \
  X(floatcp,      6, kFloat, kNone,   1,   1,      256,   float_loops::FloatCopyLoop)     \
  X(floatsc,      6, kFloat, kNone,   1,   1,      256,   float_loops::FloatScaleLoop)    \
  X(floatad,      6, kFloat, kNone,   2,   1,      256,   float_loops::FloatAddLoop)      \
  X(floattr,      6, kFloat, kNone,   2,   1,      256,   float_loops::FloatTriadLoop)    \
  X(mmxwr,        7, kMmx,   kNone,   0,   1,      512,   mmx_loops::MmxWriteLoop)        \
  X(mmxrd,        8, kMmx,   kNone,   1,   0,      512,   mmx_loops::MmxReadLoop)         \
  X(mmxcp,        9, kMmx,   kNone,   1,   1,      256,   mmx_loops::MmxCopyLoop)         \
  X(mmxsc,        9, kMmx,   kNone,   1,   1,      256,   mmx_loops::MmxScaleLoop)        \
  X(mmxad,        9, kMmx,   kNone,   2,   1,      256,   mmx_loops::MmxAddLoop)          \
  X(mmxtr,        9, kMmx,   kNone,   2,   1,      256,   mmx_loops::MmxTriadLoop)        \
  X(mmxwr_nt,    10, kMmxNt, kNone,   0,   1,      512,   nt_loops::WriteNtLoop)          \
  X(mmxrd_nt,    11, kMmxNt, kNta,    1,   0,      512,   nt_loops::ReadNtLoop)           \
  X(mmxcp_nt,    12, kMmxNt, kNta,    1,   1,      256,   nt_loops::CopyNtLoop)           \
  X(mmxsc_nt,    12, kMmxNt, kNta,    1,   1,      256,   nt_loops::ScaleNtLoop)          \
  X(mmxad_nt,    12, kMmxNt, kNta,    2,   1,      256,   nt_loops::AddNtLoop)            \
  X(mmxtr_nt,    12, kMmxNt, kNta,    2,   1,      256,   nt_loops::TriadNtLoop)          \
  X(mmxcp_nt_t0, 12, kMmxNt, kT0,     1,   1,      256,   nt_loops::CopyNtT0Loop)         \
  X(mmxsc_nt_t0, 12, kMmxNt, kT0,     1,   1,      256,   nt_loops::ScaleNtT0Loop)        \
  X(mmxad_nt_t0, 12, kMmxNt, kT0,     2,   1,      256,   nt_loops::AddNtT0Loop)          \
  X(mmxtr_nt_t0, 12, kMmxNt, kT0,     2,   1,      256,   nt_loops::TriadNtT0Loop)
// clang-format on

// (size in Kb, repetitions) -> elapsed whole ms of the timed loop, or kKernelNoMemory when the
// buffers could not be allocated.
#define MEMBW_DECLARE_KERNEL(name, ...) uint32_t name(uint32_t sizeKb, uint32_t repetitions);
extern "C" {
MEMBW_KERNELS(MEMBW_DECLARE_KERNEL)
}
#undef MEMBW_DECLARE_KERNEL

namespace membw_internal {

// A kernel's place in the table, under its own name: kernel::mmxcp_nt.
namespace kernel {
#define MEMBW_KERNEL_INDEX(name, ...) name,
enum Index : int { MEMBW_KERNELS(MEMBW_KERNEL_INDEX) kCount };
#undef MEMBW_KERNEL_INDEX
}  // namespace kernel

constexpr int kKernelCount = kernel::kCount;

// The table's rows as data.
struct KernelRow {
  const char* name;
  int32_t id;
  Family family;
  Prefetch prefetch;
  uint32_t read, written, bytes;

  constexpr uint32_t Arrays() const { return read + written; }
  constexpr uint32_t BytesPerIteration() const { return Arrays() * bytes; }
};

#define MEMBW_KERNEL_ROW(name, id, family, prefetch, read, written, bytes, loop) \
  {#name, id, Family::family, Prefetch::prefetch, read, written, bytes},
constexpr KernelRow kKernelRows[kKernelCount] = {MEMBW_KERNELS(MEMBW_KERNEL_ROW)};
#undef MEMBW_KERNEL_ROW

// The highest benchmark ID the table holds.
constexpr int32_t LastBenchmark() {
  int32_t last = 0;
  for (const KernelRow& row : kKernelRows) last = row.id > last ? row.id : last;
  return last;
}

// What the entry's dispatch relies on: each benchmark is a sweep of one kernel over one array,
// or an array test of four kernels (Copy and Scale on two arrays, Add and Triad on three), whose
// T0 twins, if any, follow the four in the same order.
constexpr bool BenchmarksWellFormed() {
  constexpr uint32_t kArrayTest[4] = {2, 2, 3, 3};  // Copy, Scale, Add, Triad
  for (int32_t id = 1; id <= LastBenchmark(); ++id) {
    uint32_t arrays[4] = {}, twinArrays[4] = {};
    int kernels = 0, twins = 0;
    for (const KernelRow& row : kKernelRows) {
      if (row.id != id) continue;
      if (row.prefetch == Prefetch::kT0) {
        if (twins == 4) return false;
        twinArrays[twins++] = row.Arrays();
      } else {
        if (kernels == 4 || twins > 0) return false;
        arrays[kernels++] = row.Arrays();
      }
    }
    if (kernels == 1 && twins == 0 && arrays[0] == 1) continue;  // a sweep
    if (kernels != 4) return false;
    for (int k = 0; k < 4; ++k)
      if (arrays[k] != kArrayTest[k] || (k < twins && twinArrays[k] != kArrayTest[k])) return false;
  }
  return true;
}
static_assert(BenchmarksWellFormed(), "a benchmark's rows do not make a sweep or an array test");

}  // namespace membw_internal
