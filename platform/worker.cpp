#include "platform/worker.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

void LowPriorityWorker::Start(Body body) {
  Stop();
  stop_ = std::make_shared<std::atomic<bool>>(false);
  thread_ = std::thread([stop = stop_, body = std::move(body)] {
    // On Linux the nice value belongs to the thread: lower just this one by one step.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0) ::setpriority(PRIO_PROCESS, tid, current + 1);
    body(*stop);
  });
}

void LowPriorityWorker::Stop() {
  if (!thread_.joinable()) return;
  stop_->store(true, std::memory_order_relaxed);
  thread_.join();
  stop_.reset();
}

}  // namespace platform
