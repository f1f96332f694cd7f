#include "online/session.h"

#include "core/record.h"
#include "online/lookups.h"
#include "online/window_shot.h"
#include "platform/file_version.h"
#include "sysinfo/system_spec.h"

namespace online {

core::RunEnvironment ProgramEnvironment(const std::string& programPath) {
  core::RunEnvironment environment;
  environment.logPath = core::LogFilePath();
  environment.versionText = platform::FileVersionText(programPath);
  environment.countryLookup = [] { return online::LookupCountryCode(); };
  return environment;
}

online::UploadFacts MainUploadFacts(const core::WindowState& state, const core::MachineFacts& facts) {
  online::UploadFacts upload;
  upload.memoryType = sysinfo::SpecValue(facts.spec, "CHIP_MEMORY_TYPE");
  upload.channels = sysinfo::SpecValue(facts.spec, "CHIP_CHANNELS");
  upload.memoryClock = facts.memoryClock;
  upload.scoreCaption = state.ScoreCaption();
  upload.applicationTitle = state.Title();
  return upload;
}

online::SubmissionSteps MainSubmissionSteps(QWidget* face, const core::WindowState& state,
                                            const core::RunEnvironment& environment) {
  online::SubmissionSteps steps;
  steps.saveWindowShot = [face](const std::string& path, std::string* error) {
    return online::SaveWindowShot(face, path, error);
  };
  steps.writeRecord = [&state, &environment](const std::string& path, std::string* error) {
    return core::WriteRecordOf(path, state, environment, error);
  };
  return steps;
}

}  // namespace online
