#include "online/session.h"

#include "core/record.h"
#include "online/lookups.h"
#include "platform/file_version.h"

namespace online {

core::RunEnvironment ProgramEnvironment(const std::string& programPath) {
  core::RunEnvironment environment;
  environment.logPath = core::LogFilePath();
  environment.versionText = platform::FileVersionText(programPath);
  environment.countryLookup = [] { return online::LookupCountryCode(); };
  return environment;
}

online::SubmissionSteps MainSubmissionSteps(const PictureStep& picture, const core::WindowState& state,
                                            const core::RunEnvironment& environment) {
  online::SubmissionSteps steps;
  steps.saveWindowShot = picture;
  steps.writeRecord = [&state, &environment](const std::string& path, std::string* error) {
    return core::WriteRecordOf(path, state, environment, error);
  };
  return steps;
}

}  // namespace online
