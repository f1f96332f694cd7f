#include "sysinfo/runner.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/image_file.h"
#include "platform/temp_folder.h"
#include "sysinfo/text.h"

QV_EMBEDDED_IMAGE(sysreport_tool)

namespace sysinfo {

namespace {

// Multiplies toward zero below a bound it never reaches; volatile keeps every step in the loop.
void Spin(const std::atomic<bool>& stop, double factor, double bound) {
  volatile double value = 1.0;
  while (value < bound && !stop.load(std::memory_order_relaxed)) value = value * factor;
}

platform::EmbeddedImage CarriedTool() { return sysreport_tool_image(); }

}  // namespace

void load01Execute(const std::atomic<bool>& stop) { Spin(stop, 0.561, 999999999999.0); }
void load02Execute(const std::atomic<bool>& stop) { Spin(stop, 0.541, 999999999991.0); }

LoadWorkers::LoadWorkers(int processorCount) : processorCount_(processorCount) {}
LoadWorkers::LoadWorkers() : LoadWorkers(platform::ProcessorCount()) {}

void LoadWorkers::Start() {
  if (processorCount_ < 1) return;
  load01_.Start(load01Execute);
  if (processorCount_ > 1) load02_.Start(load02Execute);
}

void LoadWorkers::Stop() {
  load01_.Stop();
  load02_.Stop();
}

int LoadWorkers::RunningCount() const { return (load01_.Running() ? 1 : 0) + (load02_.Running() ? 1 : 0); }

TickSource RealTickSource() { return TickSource{platform::TickCount, platform::SleepMs}; }

void PumpWait(uint32_t ms, const std::function<void()>& processEvents, const TickSource& ticks) {
  auto pump = [&] {
    if (processEvents) processEvents();
  };
  pump();
  const uint32_t start = ticks.tickCount();
  pump();
  do {
    ticks.sleepMs(1);
    pump();
  } while (static_cast<uint32_t>(ticks.tickCount() - start) <= ms);
}

bool RunHidden(const std::string& file, const std::string& parameters, uint32_t limitMs, uint32_t* exitCode,
               const ProgramRunner& run) {
  if (exitCode) *exitCode = 0;
  const platform::ProcessOutcome outcome = run(file, {parameters}, limitMs);
  if (!outcome.started) return false;
  if (exitCode) *exitCode = outcome.exitCode;
  return !outcome.timedOut;
}

std::vector<std::string> RunReportTool(std::string* error, const ReportToolOptions& options) {
  const platform::EmbeddedImage image = options.image.data ? options.image : CarriedTool();
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return std::vector<std::string>{};
  };
  if (!image.data || image.size == 0) return fail("this build carries no report tool");

  std::string folderError;
  const std::string folder = options.folder.empty() ? platform::PrivateFolder(&folderError) : options.folder;
  if (folder.empty()) return fail("no private temporary folder: " + folderError);

  const std::string toolPath = folder + "/" + kReportToolName;
  const std::string reportPath = folder + "/" + kReportFileName;
  const std::string partPath = folder + "/" + kReportPartName;
  const std::string parameters = "-txt=" + folder + "/" + kReportBaseName;
  // Only this process can enter the folder, so anything already there is ours from an earlier call.
  for (const std::string& p : {toolPath, reportPath, partPath}) platform::DeleteFile(p);

  uint32_t exitCode = 0;
  std::string writeError;
  bool ran = false;
  if (!options.forceInMemory) {
    platform::ImageFile tool = platform::ImageFile::Write(toolPath, image.data, image.size, &writeError);
    if (tool.Valid()) {
      platform::ProcessOutcome outcome = options.run(tool.Path(), {parameters}, options.limitMs);
      ran = outcome.started;
      exitCode = outcome.exitCode;
      if (!ran && writeError.empty()) writeError = outcome.error;
    }
  }
  if (!ran) {
    // The folder may be mounted noexec: run the same bytes from an anonymous memory file.
    std::string memError;
    platform::ImageFile tool =
        platform::ImageFile::InMemory(kReportToolName, image.data, image.size, &memError);
    if (!tool.Valid()) {
      for (const std::string& p : {toolPath, reportPath, partPath}) platform::DeleteFile(p);
      return fail("the report tool could not be written: " +
                  (writeError.empty() ? memError : writeError + "; in memory: " + memError));
    }
    ran = RunHidden(tool.Path(), parameters, options.limitMs, &exitCode, options.run);
    (void)ran;  // a tool that did not start or ran out of time is judged by the report it left
  }

  std::vector<std::string> lines;
  std::string bytes;
  if (platform::ReadWholeFile(reportPath, &bytes)) lines = SplitLines(bytes);
  for (const std::string& p : {toolPath, reportPath, partPath}) platform::DeleteFile(p);
  return lines;
}

}  // namespace sysinfo
