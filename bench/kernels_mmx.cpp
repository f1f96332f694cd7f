// MMX family (IDs 7 to 9): MMX quadwords with ordinary cached MOVQ stores and no prefetch.
#include "kernel_frame.h"
#include "kernels.h"
#include "mmx_loops.h"

using namespace membw_internal;
using namespace membw_internal::mmx_loops;

extern "C" {

MEMBW_KERNEL(mmxwr) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  QV_TIMED(MmxWriteLoop(arrays[0], bytes / 512, repetitions), arrays);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxrd) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillMmx(arrays[0], 0, nullptr, 0, bytes);
  QV_TIMED(MmxReadLoop(arrays[0], bytes / 512, repetitions), arrays);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxcp) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillMmx(arrays[0], kWords33, nullptr, 0, bytes);
  QV_TIMED(MmxCopyLoop(arrays[0], arrays[1], bytes / 256, repetitions), arrays);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxsc) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillMmx(arrays[0], kWords33, nullptr, 0, bytes);
  QV_TIMED(MmxScaleLoop(arrays[0], arrays[1], bytes / 256, repetitions), arrays);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxad) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillMmx(arrays[0], kWords33, arrays[1], kWords55, bytes);
  QV_TIMED(MmxAddLoop(arrays[0], arrays[1], arrays[2], bytes / 256, repetitions), arrays);
  LeaveMmx();
  return ms;
}

MEMBW_KERNEL(mmxtr) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillMmx(arrays[0], kWords33, arrays[1], kWords55, bytes);
  QV_TIMED(MmxTriadLoop(arrays[0], arrays[1], arrays[2], bytes / 256, repetitions), arrays);
  LeaveMmx();
  return ms;
}

}  // extern "C"
