// What quorvex-cli draws with Qt Widgets lives in a module of its own (cli/drawing/), loaded only
// by the commands that draw: the upload's picture of the main window and the curve's PNG. The
// commands that draw nothing (report, compare, run without --upload) never load Qt Widgets.
#pragma once

#include <string>

#include "core/curve.h"
#include "core/window_state.h"
#include "sysinfo/system_spec.h"

namespace cli {

struct Drawing {
  // The main window's face drawn offscreen from state, stamped and saved at path as the
  // upload's picture.
  bool (*saveFaceShot)(const core::WindowState& state, const std::string& versionText,
                       const std::string& path, std::string* error);
  // The curve chart as the curve window draws it, saved at path as PNG.
  bool (*writeCurvePng)(const sysinfo::SystemSpec& spec, const core::Curve& curve,
                        const std::string& allCoreText, const std::string& path, std::string* error);
};

// The module's one export: extern "C" const cli::Drawing* quorvex_cli_drawing().
inline constexpr const char* kDrawingEntry = "quorvex_cli_drawing";
inline constexpr const char* kDrawingModuleName = "libquorvex-cli-drawing.so";

// The module beside the program (a build) or in the installed library folder, loaded once for
// the process; nullptr, with error, when it cannot be.
const Drawing* LoadDrawing(std::string* error);

}  // namespace cli
