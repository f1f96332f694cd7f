// The peak kernels, one row each: the only list of them. Each streams through whole arrays with
// one vector unit and no software prefetch: read = loads summed into several accumulators,
// write = non-temporal stores of one pattern, copy = loads and non-temporal stores; sfence after
// the stores, so every byte has left the core before the clock is read.
#pragma once

#include <cstdint>

#include "peak/isa.h"

namespace peak {

enum class Operation { kRead = 0, kWrite = 1, kCopy = 2 };
constexpr int kOperationCount = 3;

// "read", "write", "copy".
const char* OperationName(Operation operation);
bool ParseOperation(const char* text, Operation* operation);

// What the write kernels store in every 8 bytes.
constexpr uint64_t kWritePattern = 0x5157525650454B21ull;

// passes passes over bytes of source and/or destination, both aligned to 64 and bytes a
// multiple of the row's iteration; bytes 0 or passes 0 does nothing. Returns the read kernels'
// sum of every 64-bit word loaded (wrapping), 0 for the others.
using KernelLoop = uint64_t (*)(const void* source, void* destination, uint64_t bytes, uint64_t passes);

// clang-format off
// One row per kernel, its traffic beside its loop:
//   name       the kernel's function, peak::kernels::name
//   operation  see Operation
//   isa        the vector unit its instructions need
//   read       arrays the loop reads
//   written    arrays the loop writes (non-temporally)
//   bytes      bytes each array moves per iteration (eight vector registers' worth)
#define PEAK_KERNELS(X)                                    \
  /* name          operation isa      read written bytes */ \
  X(read_sse2,     kRead,    kSse2,   1,   0,      128)     \
  X(write_sse2,    kWrite,   kSse2,   0,   1,      128)     \
  X(copy_sse2,     kCopy,    kSse2,   1,   1,      128)     \
  X(read_avx2,     kRead,    kAvx2,   1,   0,      256)     \
  X(write_avx2,    kWrite,   kAvx2,   0,   1,      256)     \
  X(copy_avx2,     kCopy,    kAvx2,   1,   1,      256)     \
  X(read_avx512,   kRead,    kAvx512, 1,   0,      512)     \
  X(write_avx512,  kWrite,   kAvx512, 0,   1,      512)     \
  X(copy_avx512,   kCopy,    kAvx512, 1,   1,      512)
// clang-format on

namespace kernels {
#define PEAK_DECLARE_KERNEL(name, ...) \
  uint64_t name(const void* source, void* destination, uint64_t bytes, uint64_t passes);
PEAK_KERNELS(PEAK_DECLARE_KERNEL)
#undef PEAK_DECLARE_KERNEL
}  // namespace kernels

struct KernelRow {
  const char* name;
  Operation operation;
  Isa isa;
  uint32_t read, written, bytes;
  KernelLoop loop;

  constexpr uint32_t Arrays() const { return read + written; }
};

#define PEAK_KERNEL_ROW(name, operation, isa, read, written, bytes) \
  {#name, Operation::operation, Isa::isa, read, written, bytes, &kernels::name},
inline constexpr KernelRow kKernelRows[] = {PEAK_KERNELS(PEAK_KERNEL_ROW)};
#undef PEAK_KERNEL_ROW

// Every array size the table's kernels take is a multiple of this.
constexpr uint64_t kArrayGranule = 512;

constexpr bool TableWellFormed() {
  for (const KernelRow& row : kKernelRows) {
    if (kArrayGranule % row.bytes != 0) return false;
    if (row.operation == Operation::kRead && (row.read != 1 || row.written != 0)) return false;
    if (row.operation == Operation::kWrite && (row.read != 0 || row.written != 1)) return false;
    if (row.operation == Operation::kCopy && (row.read != 1 || row.written != 1)) return false;
  }
  return true;
}
static_assert(TableWellFormed(), "a row's traffic does not match its operation");

// The row for operation on isa; null when the table has none.
const KernelRow* FindKernel(Operation operation, Isa isa);

}  // namespace peak
