#include "peak/team.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/processors.h"

namespace peak {
namespace {

constexpr uint64_t kHugeBytes = memlat_internal::kHugePageBytes;

}  // namespace

bool Buffer::Map(uint64_t bytes, bool hugePages) {
  Release();
  const uint64_t count = (bytes + memlat_internal::kLineBytes - 1) / memlat_internal::kLineBytes;
  if (count == 0) return false;
  if (hugePages) {
    if (!memlat_internal::MapLines(count, &lines_)) return false;
    data_ = lines_.lines;
  } else {
    const uint64_t whole = (count * memlat_internal::kLineBytes + kHugeBytes - 1) / kHugeBytes * kHugeBytes;
    data_ = static_cast<char*>(std::aligned_alloc(kHugeBytes, whole));
    if (data_ == nullptr) return false;
    heap_ = true;
  }
  platform::PrefaultPages(data_, static_cast<size_t>(count * memlat_internal::kLineBytes));
  return true;
}

void Buffer::Release() {
  if (heap_) std::free(data_);
  memlat_internal::UnmapLines(&lines_);
  data_ = nullptr;
  heap_ = false;
}

void Failures::Add(std::string message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_++ == 0) first_ = std::move(message);
  any_ = true;
}

std::string Failures::Message() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_ > 1 ? first_ + " (" + std::to_string(count_) + " failures)" : first_;
}

bool PinAndMap(int cpu, Buffer* buffers, int count, uint64_t bytes, bool hugePages, Failures* failures) {
  const std::string thread = "The thread for processor " + std::to_string(cpu);
  if (!platform::PinCurrentThread(cpu)) {
    failures->Add(thread + " could not be pinned to it.");
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (!buffers[i].Map(bytes, hugePages)) {
      failures->Add(thread + " could not get its " + std::to_string(bytes >> 20) + " MiB buffer.");
      return false;
    }
  }
  return true;
}

int64_t NowNs() {
  int64_t count = 0;
  platform::PerformanceCounter(&count);
  return count;
}

}  // namespace peak
