// Making fresh memory present before it is timed. Header-only so the benchmark modules can use
// it without linking anything of the program's into themselves.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

// Linux 5.14; older headers lack the name, older kernels answer EINVAL and get the fallback.
#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace platform {

// Faults every page of [buffer, buffer + bytes) in, writable, so that neither the page faults nor
// the kernel's zeroing of fresh pages happen later inside a timed loop. The contents stay as they
// are. Returns true when the kernel populated the range itself (Linux 5.14 and later).
inline bool PrefaultPages(void* buffer, size_t bytes) {
  if (buffer == nullptr || bytes == 0) return true;
  long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) page = 4096;
  const uintptr_t size = static_cast<uintptr_t>(page);
  const uintptr_t first = reinterpret_cast<uintptr_t>(buffer);
  // The pages around the buffer's ends belong to the same mapping, and populating a page leaves
  // its contents as they are, so the range may be widened to whole pages.
  const uintptr_t begin = first & ~(size - 1);
  const uintptr_t end = (first + bytes + size - 1) & ~(size - 1);
  const bool populated = ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE) == 0;
  // Populated is not always backed: some hypervisors give a guest pages they promise are zero and
  // back each only at its first store, at the cost of a page fault (a 256 MiB write ran at a
  // quarter of its speed on its first pass). One store per page, of the byte already there, takes
  // that cost here; without the kernel's help the same stores fault the pages in.
  volatile unsigned char* const p = static_cast<unsigned char*>(buffer);
  for (size_t offset = 0; offset < bytes;
       offset += static_cast<size_t>(size - ((first + offset) & (size - 1)))) {
    p[offset] = p[offset];
  }
  return populated;
}

}  // namespace platform
