#include "peak/team.h"

#include "platform/clock.h"
#include "platform/memory.h"

namespace peak {

bool Buffer::Map(uint64_t bytes) {
  memlat_internal::UnmapLines(&lines_);
  const uint64_t count = (bytes + memlat_internal::kLineBytes - 1) / memlat_internal::kLineBytes;
  if (!memlat_internal::MapLines(count, &lines_)) return false;
  platform::PrefaultPages(lines_.lines, static_cast<size_t>(Bytes()));
  return true;
}

int64_t NowNs() {
  int64_t count = 0;
  platform::PerformanceCounter(&count);
  return count;
}

}  // namespace peak
