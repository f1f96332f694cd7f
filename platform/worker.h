// A thread that runs one nice step below the process, stopped from outside by a flag its loop
// polls.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace platform {

class LowPriorityWorker {
 public:
  using Body = std::function<void(const std::atomic<bool>& stop)>;
  LowPriorityWorker() = default;
  ~LowPriorityWorker() { Stop(); }
  LowPriorityWorker(const LowPriorityWorker&) = delete;
  LowPriorityWorker& operator=(const LowPriorityWorker&) = delete;

  // Stops a running instance, then starts body on a fresh thread lowered by one nice step.
  void Start(Body body);
  // Raises the stop flag and joins. Does nothing when not running.
  void Stop();
  bool Running() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::shared_ptr<std::atomic<bool>> stop_;
};

}  // namespace platform
