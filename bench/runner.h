// The module's second export: one non-temporal loop run over a buffer the caller owns, untimed.
// The all-core measurement calls it from one pinned thread per processor; the caller places the
// buffers, makes their pages present, starts the threads together and does the timing, so the
// module stays free of threads and the entry membw() keeps its one-benchmark-per-call contract.
#pragma once

#include <stdint.h>

extern "C" {

enum MembwRunLoop {
  MEMBW_RUN_READ = 0,   // mmxrd_nt's loop: reads bytes of first (PREFETCHNTA one chunk ahead)
  MEMBW_RUN_WRITE = 1,  // mmxwr_nt's loop: MOVNTQ zeros over bytes of first
  MEMBW_RUN_COPY = 2    // mmxcp_nt's loop: first -> second, bytes each
};

// Runs loop passes times over bytes (a multiple of 512, at most 2^40) of first (and second for
// COPY). Result 0 when it ran, 1 when the arguments were refused (unknown loop, missing buffer,
// bytes 0 or not a multiple of 512, passes 0). Reentrant: it keeps no state, so threads may
// call it at once on their own buffers.
typedef int (*MembwRunEntry)(int32_t loop, void* first, void* second, uint64_t bytes, uint32_t passes);

int membw_run(int32_t loop, void* first, void* second, uint64_t bytes, uint32_t passes);
}

#define MEMBW_RUN_NAME "membw_run"
