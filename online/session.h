// What the window and the terminal wire the same way around the main window's model: the run's
// environment (version, log, country lookup) and the upload's picture and record.
#pragma once

#include <functional>
#include <string>

#include "core/gathering.h"
#include "core/run_sequence.h"
#include "core/window_state.h"
#include "online/upload.h"

namespace online {

// The environment of this program's runs: its version (of the executable at programPath, empty
// for this one), the program's log, the country asked of the geolocation service per record.
core::RunEnvironment ProgramEnvironment(const std::string& programPath = std::string());

// Saves the upload's picture of the main window at path (the window's own, or its face drawn
// offscreen by the terminal).
using PictureStep = std::function<bool(const std::string& path, std::string* error)>;

// The upload's picture and its record of what the model shows; state and environment must
// outlive the steps.
online::SubmissionSteps MainSubmissionSteps(const PictureStep& picture, const core::WindowState& state,
                                            const core::RunEnvironment& environment);

}  // namespace online
