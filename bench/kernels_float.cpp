// FLOAT family (IDs 4 to 6): x87 doubles, cached stores, no prefetch. Every kernel starts with
// FINIT so the register stack and control word are known.
#include "float_loops.h"
#include "kernel_frame.h"
#include "kernels.h"

using namespace membw_internal;
using namespace membw_internal::float_loops;

extern "C" {

MEMBW_KERNEL(floatwr) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  QV_TIMED(FloatWriteLoop(arrays[0], bytes / 512, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(floatrd) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(1, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillZero(arrays[0], nullptr, bytes);
  QV_TIMED(FloatReadLoop(arrays[0], bytes / 512, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(floatcp) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillPi(arrays[0], nullptr, bytes);
  QV_TIMED(FloatCopyLoop(arrays[0], arrays[1], bytes / 256, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(floatsc) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(2, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillPi(arrays[0], nullptr, bytes);
  QV_TIMED(FloatScaleLoop(arrays[0], arrays[1], bytes / 256, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(floatad) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillPi(arrays[0], arrays[1], bytes);
  QV_TIMED(FloatAddLoop(arrays[0], arrays[1], arrays[2], bytes / 256, repetitions), arrays);
  return ms;
}

MEMBW_KERNEL(floattr) {
  ResetX87();
  const uint32_t bytes = sizeKb * 1024u;
  Arrays arrays(3, bytes);
  if (!arrays.Ok()) return kKernelNoMemory;
  FillPi(arrays[0], arrays[1], bytes);
  QV_TIMED(FloatTriadLoop(arrays[0], arrays[1], arrays[2], bytes / 256, repetitions), arrays);
  return ms;
}

}  // extern "C"
