// One module call on a worker thread, so the thread that runs the sequence (the GUI thread in the
// window) stays free while the module measures. The module's texts come back as a count that the
// waiting thread takes and acts on in order; nothing of the view is touched from the worker.
#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace core {

// The work of one call: it runs on the worker and calls text() once for every text the module
// emits (from inside the module's output function).
using ModuleWork = std::function<void(const std::function<void()>& text)>;

class ModuleCall {
 public:
  // Starts work on a new thread. wake, when given, is called from the worker after every text and
  // at the end, so a waiting event loop can look again (it must be safe to call from any thread).
  explicit ModuleCall(ModuleWork work, std::function<void()> wake = {});
  // Waits for the worker: a module cannot be interrupted.
  ~ModuleCall();
  ModuleCall(const ModuleCall&) = delete;
  ModuleCall& operator=(const ModuleCall&) = delete;

  // Texts emitted since the last take; never blocks.
  int TakeTexts();
  // Blocks until a text arrives or the work ends, then takes the texts (0 at the end).
  int WaitForTexts();
  // True once the work has returned and every text has been taken.
  bool Over();
  // Joins the worker and rethrows what the work threw, on the caller's thread.
  void Finish();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int texts_ = 0;
  bool done_ = false;
  std::exception_ptr failure_;
  std::function<void()> wake_;
  std::thread worker_;
};

// Runs work as one ModuleCall and waits for it on this thread, calling onText here for every text.
// What a view without an event loop does (the terminal, tests).
void RunModuleCallAndWait(const ModuleWork& work, const std::function<void()>& onText);

}  // namespace core
