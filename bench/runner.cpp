// membw_run: the non-temporal loops of IDs 10 to 12 on caller-given buffers, without timing.
#include "runner.h"

#include "kernels.h"
#include "nt_loops.h"
#include "timing.h"

using namespace membw_internal;
using namespace membw_internal::nt_loops;

namespace {

constexpr uint64_t kMaxBytes = 1ULL << 40;

// The loops count chunks of their kernel's row in 32 bits; a buffer that needs more is covered
// in pieces per pass.
template <typename Step>
void InPieces(uint64_t bytes, int kernelRow, uint32_t passes, Step step) {
  const uint32_t chunk = kKernelRows[kernelRow].bytes;
  constexpr uint64_t kPiece = 1ULL << 30;
  if (bytes <= kPiece) {
    step(0, static_cast<uint32_t>(bytes / chunk), passes);
    return;
  }
  for (uint32_t pass = 0; pass < passes; ++pass)
    for (uint64_t offset = 0; offset < bytes; offset += kPiece) {
      const uint64_t size = bytes - offset < kPiece ? bytes - offset : kPiece;
      step(offset, static_cast<uint32_t>(size / chunk), 1);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int membw_run(int32_t loop, void* first, void* second,
                                                                uint64_t bytes, uint32_t passes) {
  if (first == nullptr || bytes == 0 || bytes % 512 != 0 || bytes > kMaxBytes || passes == 0) return 1;
  char* const a = static_cast<char*>(first);
  char* const b = static_cast<char*>(second);
  switch (loop) {
    case MEMBW_RUN_READ:
      InPieces(bytes, kernel::mmxrd_nt, passes,
               [a](uint64_t at, uint32_t chunks, uint32_t n) { ReadNtLoop(a + at, chunks, n); });
      break;
    case MEMBW_RUN_WRITE:
      InPieces(bytes, kernel::mmxwr_nt, passes,
               [a](uint64_t at, uint32_t chunks, uint32_t n) { WriteNtLoop(a + at, chunks, n); });
      break;
    case MEMBW_RUN_COPY:
      if (b == nullptr) return 1;
      InPieces(bytes, kernel::mmxcp_nt, passes,
               [a, b](uint64_t at, uint32_t chunks, uint32_t n) { CopyNtLoop(a + at, b + at, chunks, n); });
      break;
    default:
      return 1;
  }
  LeaveMmx();
  return 0;
}
