// The kernels: each row of the table (kernels.h) is the shared frame around the row's loop.
#include "kernels.h"

#include "float_loops.h"
#include "int_loops.h"
#include "kernel_frame.h"
#include "mmx_loops.h"
#include "nt_loops.h"

using namespace membw_internal;

#define MEMBW_DEFINE_KERNEL(name, id, family, prefetch, read, written, bytes, loop)        \
  uint32_t name(uint32_t sizeKb, uint32_t repetitions) {                                   \
    return MeasureKernel<Family::family, read, written, bytes, loop>(sizeKb, repetitions); \
  }

extern "C" {
MEMBW_KERNELS(MEMBW_DEFINE_KERNEL)
}
