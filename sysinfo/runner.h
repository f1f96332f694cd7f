// Running the carried hardware report tool: the processor load workers, the event-pumping wait,
// the hidden run with a time limit, and the one call that writes, runs, reads and cleans up.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/embedded.h"
#include "platform/process.h"
#include "platform/worker.h"

namespace sysinfo {

// The longest the report tool may run before it is killed.
inline constexpr uint32_t kReportToolLimitMs = 99999;
// Fixed names inside the program's private folder: the tool, the path it is told to write (it
// adds ".txt") and the report's unfinished sibling, which a killed tool may leave behind.
inline constexpr const char* kReportToolName = "sysreport";
inline constexpr const char* kReportBaseName = "txtdump";
inline constexpr const char* kReportFileName = "txtdump.txt";
inline constexpr const char* kReportPartName = "txtdump.txt.part";

// Bodies of the two load threads: spin on a shrinking double until stop is raised.
void load01Execute(const std::atomic<bool>& stop);
void load02Execute(const std::atomic<bool>& stop);

// load01 alone on a single processor, load01 and load02 otherwise; both run one nice step down.
class LoadWorkers {
 public:
  explicit LoadWorkers(int processorCount);
  LoadWorkers();  // the processor count the system reports
  ~LoadWorkers() { Stop(); }
  LoadWorkers(const LoadWorkers&) = delete;
  LoadWorkers& operator=(const LoadWorkers&) = delete;

  void Start();  // restarts a worker that still runs
  void Stop();   // load01 first, then load02; a worker never started is left alone
  int RunningCount() const;

 private:
  int processorCount_;
  platform::LowPriorityWorker load01_;
  platform::LowPriorityWorker load02_;
};

// The millisecond counter and the sleep PumpWait uses, replaceable so a test can wrap the counter.
struct TickSource {
  std::function<uint32_t()> tickCount;
  std::function<void(uint32_t ms)> sleepMs;
};
TickSource RealTickSource();

// Waits more than ms milliseconds while processEvents keeps the window alive; the elapsed time
// is taken modulo 2^32, so a wrapping counter does not cut the wait short or stretch it.
void PumpWait(uint32_t ms, const std::function<void()>& processEvents,
              const TickSource& ticks = RealTickSource());

// Starts a program with the same signature as platform::RunProgram (the seam for tests).
using ProgramRunner = std::function<platform::ProcessOutcome(
    const std::string& program, const std::vector<std::string>& args, uint32_t limitMs)>;

// Starts file with parameters as its one argument (blanks kept, no quotes), output discarded,
// and waits at most limitMs (0 = no limit). True when it started and, with a limit, ended in
// time; a program still running at the limit is killed. exitCode gets 0 unless it ended itself.
bool RunHidden(const std::string& file, const std::string& parameters, uint32_t limitMs, uint32_t* exitCode,
               const ProgramRunner& run = platform::RunProgram);

struct ReportToolOptions {
  platform::EmbeddedImage image{nullptr, 0};  // nullptr = the carried tool
  std::string folder;                         // empty = platform::PrivateFolder()
  uint32_t limitMs = kReportToolLimitMs;
  ProgramRunner run = platform::RunProgram;
  bool forceInMemory = false;  // run from an anonymous memory file even if the folder allows exec
};

// Writes the tool into the private folder, runs it with "-txt=" + folder + "/txtdump", waits at
// most the limit, reads the report's lines and deletes the files. Empty lines on any failure;
// error is set only when the tool could not be put anywhere it can run (the caller shows that),
// while a tool that ran and wrote nothing just yields no lines, as the gathering expects.
std::vector<std::string> RunReportTool(std::string* error, const ReportToolOptions& options = {});

}  // namespace sysinfo
