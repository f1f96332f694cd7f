#include "core/module_call.h"

#include <utility>

namespace core {

ModuleCall::ModuleCall(ModuleWork work, std::function<void()> wake) : wake_(std::move(wake)) {
  worker_ = std::thread([this, work = std::move(work)] {
    std::exception_ptr failure;
    try {
      work([this] {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++texts_;
        }
        changed_.notify_all();
        if (wake_) wake_();
      });
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = failure;
      done_ = true;
    }
    changed_.notify_all();
    if (wake_) wake_();
  });
}

ModuleCall::~ModuleCall() {
  if (worker_.joinable()) worker_.join();
}

int ModuleCall::TakeTexts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(texts_, 0);
}

int ModuleCall::WaitForTexts() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return texts_ > 0 || done_; });
  return std::exchange(texts_, 0);
}

bool ModuleCall::Over() {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_ && texts_ == 0;
}

void ModuleCall::Finish() {
  if (worker_.joinable()) worker_.join();
  std::exception_ptr failure;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    failure = std::exchange(failure_, nullptr);
  }
  if (failure) std::rethrow_exception(failure);
}

void RunModuleCallAndWait(const ModuleWork& work, const std::function<void()>& onText) {
  ModuleCall call(work);
  while (!call.Over()) {
    for (int n = call.WaitForTexts(); n > 0; --n) onText();
  }
  call.Finish();
}

}  // namespace core
