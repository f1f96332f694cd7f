// Every measuring kernel of the module: (size in Kb, repetitions) -> elapsed whole ms of the
// timed loop, or kKernelNoMemory when its buffers could not be allocated.
#pragma once

#include <cstdint>

#define MEMBW_KERNEL(name) uint32_t name(uint32_t sizeKb, uint32_t repetitions)

extern "C" {
// 32-bit general registers; streams: wr 1 array written, rd 1 read, cp/sc 1 read + 1 written,
// ad/tr 2 read + 1 written.
MEMBW_KERNEL(intwr);
MEMBW_KERNEL(intrd);
MEMBW_KERNEL(intcp);
MEMBW_KERNEL(intsc);
MEMBW_KERNEL(intad);
MEMBW_KERNEL(inttr);
// x87 doubles.
MEMBW_KERNEL(floatwr);
MEMBW_KERNEL(floatrd);
MEMBW_KERNEL(floatcp);
MEMBW_KERNEL(floatsc);
MEMBW_KERNEL(floatad);
MEMBW_KERNEL(floattr);
// MMX quadwords, cached stores, no prefetch.
MEMBW_KERNEL(mmxwr);
MEMBW_KERNEL(mmxrd);
MEMBW_KERNEL(mmxcp);
MEMBW_KERNEL(mmxsc);
MEMBW_KERNEL(mmxad);
MEMBW_KERNEL(mmxtr);
// MMX quadwords, MOVNTQ stores, software prefetch one chunk ahead (NTA, or T0 in the _t0 twins).
MEMBW_KERNEL(mmxwr_nt);
MEMBW_KERNEL(mmxrd_nt);
MEMBW_KERNEL(mmxcp_nt);
MEMBW_KERNEL(mmxsc_nt);
MEMBW_KERNEL(mmxad_nt);
MEMBW_KERNEL(mmxtr_nt);
MEMBW_KERNEL(mmxcp_nt_t0);
MEMBW_KERNEL(mmxsc_nt_t0);
MEMBW_KERNEL(mmxad_nt_t0);
MEMBW_KERNEL(mmxtr_nt_t0);
}
