// INT family (IDs 1 to 3): 32-bit general registers, cached stores, no prefetch.
#include "int_loops.h"
#include "kernel_frame.h"
#include "kernels.h"

using namespace membw_internal;
using namespace membw_internal::int_loops;

extern "C" {

MEMBW_KERNEL(intwr) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  QV_TIMED(IntWriteLoop(arrays[0], bytes / 256, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(intrd) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  Fill32(arrays[0], bytes, 0);
  QV_TIMED(IntReadLoop(arrays[0], bytes / 256, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(intcp) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  Fill32(arrays[0], bytes, 33);
  QV_TIMED(IntCopyLoop(arrays[0], arrays[1], bytes / 128, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(intsc) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  Fill32(arrays[0], bytes, 33);
  QV_TIMED(IntScaleLoop(arrays[0], arrays[1], bytes / 128, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(intad) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  Fill32Pair(arrays[0], 33, arrays[1], 55, bytes);
  QV_TIMED(IntAddLoop(arrays[0], arrays[1], arrays[2], bytes / 128, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(inttr) {
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  Fill32Pair(arrays[0], 33, arrays[1], 55, bytes);
  QV_TIMED(IntTriadLoop(arrays[0], arrays[1], arrays[2], bytes / 128, repetitions), arrays);
  return ms;
}

}  // extern "C"
